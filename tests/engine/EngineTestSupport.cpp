#include "tests/engine/EngineTestSupport.h"

#include "log/Log.h"

#include <cstdlib>
#include <cwchar>

CLogCapture::CLogCapture()
{
    std::wmemcpy(m_szSaved, g_szLogFile, MAX_PATH);
    m_strFile = m_dir / L"log.txt";
    std::wmemset(g_szLogFile, 0, MAX_PATH);
    std::wcsncpy(g_szLogFile, m_strFile.c_str(), MAX_PATH - 1);
}

CLogCapture::~CLogCapture()
{
    std::wmemcpy(g_szLogFile, m_szSaved, MAX_PATH);
}

std::vector<std::wstring> CLogCapture::Messages() const
{
    std::vector<std::wstring> messages;
    const std::wstring strLog = ReadFileUtf16(m_strFile);
    size_t nStart = 0;
    while (nStart < strLog.size()) {
        size_t nEnd = strLog.find(L"\r\n", nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strLog.size();
        const std::wstring strLine = strLog.substr(nStart, nEnd - nStart);
        // "[Tag][date time:ms pid:tid]message"; a message with line ends of
        // its own continues on lines without a header.
        size_t nTagEnd = strLine.find(L"][");
        size_t nHeaderEnd = nTagEnd == std::wstring::npos ? nTagEnd : strLine.find(L']', nTagEnd + 1);
        if (!strLine.empty() && strLine[0] == L'[' && nHeaderEnd != std::wstring::npos)
            messages.push_back(strLine.substr(0, nTagEnd + 1) + strLine.substr(nHeaderEnd + 1));
        else
            messages.push_back(strLine);
        nStart = nEnd + 2;
    }
    return messages;
}

void CLogCapture::Clear()
{
    ::DeleteFileW(m_strFile.c_str());
}

namespace {

std::wstring Env(const wchar_t* pszName)
{
    const wchar_t* psz = _wgetenv(pszName);
    return psz ? psz : L"";
}

}  // namespace

std::wstring TestServerFolder()
{
    return Env(L"SETUP_TEST_HTTP_ROOT");
}

std::wstring TestServerBaseUrl()
{
    const std::wstring strPort = Env(L"SETUP_TEST_HTTP_PORT");
    return strPort.empty() ? L"" : L"http://127.0.0.1:" + strPort + L"/EX3/";
}

bool ServeFile(const std::wstring& strName, const std::vector<uint8_t>& data)
{
    const std::wstring strFolder = TestServerFolder() + L"\\EX3";
    ::CreateDirectoryW(strFolder.c_str(), nullptr);
    return WriteFileBytes(strFolder + L"\\" + strName, data.data(), data.size());
}

bool RemoveServedFile(const std::wstring& strName)
{
    const std::wstring strPath = TestServerFolder() + L"\\EX3\\" + strName;
    return ::DeleteFileW(strPath.c_str()) || !PathExists(strPath);
}

std::vector<uint8_t> ListBytes(const std::wstring& strText, bool bByteOrderMark)
{
    std::vector<uint8_t> bytes;
    if (bByteOrderMark)
        bytes = {0xFF, 0xFE};
    for (wchar_t ch : strText) {
        bytes.push_back(static_cast<uint8_t>(ch & 0xFF));
        bytes.push_back(static_cast<uint8_t>(ch >> 8));
    }
    return bytes;
}
