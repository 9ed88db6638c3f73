#include "engine/ServerFiles.h"

#include "log/Log.h"
#include "net/HttpDownload.h"
#include "system/InstalledRelease.h"

#include <cstring>
#include <string>

namespace {

std::wstring Widened(const char* pszAscii)
{
    return std::wstring(pszAscii, pszAscii + std::strlen(pszAscii));
}

}  // namespace

bool ServerFiles::FetchIntoBuffer(const wchar_t* pszUrl, const BodyUse& use)
{
    if (!m_bReleaseRequired)
        return FetchBody(pszUrl, kAnyBodySize, use);
    // The size check comes first: a longer body is not read to its end.
    const ReleaseFile* pListed = ListedFile(pszUrl);
    if (!pListed)
        return false;
    // A body that is not the release's is never handed on.
    return FetchBody(pszUrl, static_cast<int32_t>(pListed->nSize), [&](const BodyView& body) {
        Sha256Digest digest = {};
        const bool bHashed = Sha256Of(body.Data(), static_cast<size_t>(body.Size()), &digest);
        return MatchesListed(static_cast<uint64_t>(body.Size()), bHashed ? &digest : nullptr, *pListed, pszUrl) &&
               use(body);
    });
}

bool ServerFiles::MatchesListed(uint64_t nSize, const Sha256Digest* pDigest, const ReleaseFile& file,
                                const wchar_t* pszUrl) const
{
    if (nSize != file.nSize) {
        LogError(L"[CSetupDlg::CheckRelease] %ls is %llu bytes, the release says %lu", pszUrl,
                 static_cast<unsigned long long>(nSize), static_cast<unsigned long>(file.nSize));
        return false;
    }
    // Without a digest the hash could not be made, which was logged.
    if (!pDigest)
        return false;
    if (*pDigest != file.sha256) {
        LogError(L"[CSetupDlg::CheckRelease] %ls differs from the release: SHA-256 mismatch", pszUrl);
        return false;
    }
    return true;
}

bool ServerFiles::StartRelease()
{
    if (!m_bReleaseRequired)
        return true;
    m_release = Release();
    return FetchRelease();
}

bool ServerFiles::FetchRelease()
{
    const std::wstring strTextUrl = m_strBaseUrl + Widened(kReleaseTextName);
    const std::wstring strSignatureUrl = m_strBaseUrl + Widened(kReleaseSignatureName);
    LogNormal(L"[CSetupDlg::CheckRelease] start download  %ls", strTextUrl.c_str());
    std::string strText;
    if (!FetchBody(strTextUrl.c_str(), static_cast<int32_t>(kMaxReleaseTextBytes), [&](const BodyView& body) {
            strText.assign(reinterpret_cast<const char*>(body.Data()), static_cast<size_t>(body.Size()));
            return true;
        })) {
        LogError(L"[CSetupDlg::CheckRelease] download release.txt failed");
        return false;
    }
    // Nothing of the text is read before its signature holds.
    LONG lStatus = 0;
    bool bFetched = false;
    const bool bVerified =
        FetchBody(strSignatureUrl.c_str(), static_cast<int32_t>(kReleaseSignatureBytes), [&](const BodyView& body) {
            bFetched = true;
            return VerifyReleaseSignature(m_releaseKey, reinterpret_cast<const uint8_t*>(strText.data()),
                                          strText.size(), body.Data(), static_cast<size_t>(body.Size()), &lStatus);
        });
    if (!bFetched) {
        LogError(L"[CSetupDlg::CheckRelease] download release.sig failed");
        return false;
    }
    if (!bVerified) {
        LogError(L"[CSetupDlg::CheckRelease] release.sig does not verify release.txt status=0x%08lx",
                 static_cast<unsigned long>(lStatus));
        return false;
    }
    Release release;
    if (!ParseRelease(strText, &release)) {
        LogError(L"[CSetupDlg::CheckRelease] release.txt is signed but not readable");
        return false;
    }
    uint32_t nInstalled = 0;
    if (!ReadInstalledReleaseSerial(&nInstalled))
        return false;
    if (release.nSerial < nInstalled) {
        LogError(
            L"[CSetupDlg::CheckRelease] release %lu is older than the installed release %lu: refused as a rollback",
            static_cast<unsigned long>(release.nSerial), static_cast<unsigned long>(nInstalled));
        return false;
    }
    LogNormal(L"[CSetupDlg::CheckRelease] release %lu verified, %u files", static_cast<unsigned long>(release.nSerial),
              static_cast<unsigned>(release.files.size()));
    m_release = std::move(release);
    return true;
}

uint64_t ServerFiles::ListedSize(const wchar_t* pszName) const
{
    if (!m_bReleaseRequired)
        return 0;
    std::string strName;
    for (const wchar_t* p = pszName; *p; ++p)
        strName += *p < 0x80 ? static_cast<char>(*p) : '\0';
    const ReleaseFile* pFile = FindReleaseFile(m_release, strName);
    return pFile ? pFile->nSize : 0;
}

const ReleaseFile* ServerFiles::ListedFile(const wchar_t* pszUrl) const
{
    const std::wstring strUrl = pszUrl;
    const ReleaseFile* pFile = nullptr;
    if (strUrl.compare(0, m_strBaseUrl.size(), m_strBaseUrl) == 0) {
        // Listed names are printable ASCII; any other unit matches none.
        std::string strName;
        for (size_t i = m_strBaseUrl.size(); i < strUrl.size(); ++i)
            strName += strUrl[i] < 0x80 ? static_cast<char>(strUrl[i]) : '\0';
        pFile = FindReleaseFile(m_release, strName);
    }
    if (!pFile)
        LogError(L"[CSetupDlg::CheckRelease] %ls is not in the release", pszUrl);
    return pFile;
}

Result ServerFiles::RecordReleaseSerial()
{
    if (!m_bReleaseRequired)
        return Result();
    return WriteInstalledReleaseSerial(m_release.nSerial);
}
