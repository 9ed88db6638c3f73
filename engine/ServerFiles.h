#pragma once

#include "engine/InstallSettings.h"
#include "engine/ReleaseFormat.h"
#include "engine/ReleaseSignature.h"
#include "framework/Result.h"
#include "net/ProxyPrompt.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IInstallObserver;
class PackageFile;
class StopToken;

// A fetched body, lent to the code that fetched it while that code runs: it
// cannot be copied or kept, and the next fetch reuses its bytes.
class BodyView {
public:
    BodyView(const uint8_t* pData, int32_t nSize) : m_pData(pData), m_nSize(nSize) {}
    BodyView(const BodyView&) = delete;
    BodyView& operator=(const BodyView&) = delete;

    const uint8_t* Data() const { return m_pData; }
    int32_t Size() const { return m_nSize; }

private:
    const uint8_t* m_pData;
    int32_t m_nSize;
};

// Everything a session fetches from the package server, one fetch at a
// time: the release, the lists, the packages and the uninstaller. It owns
// the download buffer, the base URL and its mirrors, the release of the
// current attempt and the proxy credentials; a proxy's demand for them goes
// to the observer. Every fetch ends at once when the stop does.
class ServerFiles : private IProxyPrompt {
public:
    ServerFiles(const InstallSettings& settings, IInstallObserver* pObserver, const StopToken& stop);
    ~ServerFiles() override;
    ServerFiles(const ServerFiles&) = delete;
    ServerFiles& operator=(const ServerFiles&) = delete;

    // The URL of a server file: the base URL followed by the name.
    std::wstring UrlOf(const wchar_t* pszName) const { return m_strBaseUrl + pszName; }
    bool ReleaseRequired() const { return m_bReleaseRequired; }

    // At the start of an attempt: fetches the release and verifies it, when
    // a key asks for one. False, logged, when the attempt cannot go on.
    bool StartRelease();
    // After a success: records the release's serial, so that an older
    // release is refused.
    Result RecordReleaseSerial();
    // The size the release gives the file; 0 without a release or entry.
    uint64_t ListedSize(const wchar_t* pszName) const;

    using BodyUse = std::function<bool(const BodyView& body)>;
    // Downloads a server file into the download buffer, from its start, and
    // hands the body to use; in a signed release only the body the release
    // lists is taken. False when the download fails or use returns false.
    bool FetchIntoBuffer(const wchar_t* pszUrl, const BodyUse& use);
    // A server list: its size in bytes and its text, copied out.
    bool FetchServerList(const wchar_t* pszUrl, int32_t* pnSize, std::wstring* pstrText);
    // Downloads a package into its file, or the rest of it after a cut; in
    // a signed release checks the whole file against the release. A file
    // an earlier attempt fetched whole is only checked. False when it
    // failed; *pSaved fails when the file could not be written.
    bool FetchPackage(const wchar_t* pszUrl, PackageFile* pArchive, Result* pSaved);

private:
    bool AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword) override;
    void ShowCredentialsRefused() override;

    // How one host's try at a file ended.
    enum class HostTry { Served, Failed, GiveUp };
    // Tries the file on the base URL's host, then on each mirror in order,
    // until one serves it; logs which did when there are mirrors.
    bool FromEachHost(const wchar_t* pszUrl, const std::function<HostTry(const wchar_t* pszHostUrl)>& fetch);
    // Any body of at most nMaxBody bytes (kAnyBodySize: any).
    bool FetchBody(const wchar_t* pszUrl, int32_t nMaxBody, const BodyUse& use);
    bool FetchRelease();
    // The release's entry for the file a URL names; null, logged, if none.
    const ReleaseFile* ListedFile(const wchar_t* pszUrl) const;
    // Whether a file of that size and digest (null: none could be made) is
    // exactly the listed one; logs the mismatch.
    bool MatchesListed(uint64_t nSize, const Sha256Digest* pDigest, const ReleaseFile& file,
                       const wchar_t* pszUrl) const;
    // Gives the pages of the buffer's contents back to the system.
    void DiscardBufferPages();

    const std::wstring m_strBaseUrl;
    const std::vector<std::wstring> m_vecMirrorHosts;
    const bool m_bReleaseRequired;
    const ReleaseKey m_releaseKey;
    IInstallObserver* const m_pObserver;
    const StopToken& m_stop;

    uint8_t* m_pDownloadBuffer = nullptr;
    int32_t m_nDownloadCapacity = 0;
    int32_t m_nDownloadSize = 0;
    wchar_t m_szProxyUser[kProxyCredentialChars] = {};
    wchar_t m_szProxyPassword[kProxyCredentialChars] = {};
    Release m_release;  // of the current attempt
};
