#include "tests/support/LogCapture.h"

#include "log/Log.h"

#include <cwchar>

CLogCapture::CLogCapture() : m_strFile(m_dir / L"log.txt")
{
    std::wmemcpy(m_szSaved, g_szLogFile, MAX_PATH);
    std::wmemset(g_szLogFile, 0, MAX_PATH);
    std::wcsncpy(g_szLogFile, m_strFile.c_str(), MAX_PATH - 1);
}

CLogCapture::~CLogCapture()
{
    std::wmemcpy(g_szLogFile, m_szSaved, MAX_PATH);
    CloseLogFile();
}

std::wstring CLogCapture::Text() const
{
    return ReadFileUtf16(m_strFile);
}

size_t CLogCapture::Count(const std::wstring& str) const
{
    const std::wstring strText = Text();
    size_t n = 0;
    for (size_t pos = strText.find(str); pos != std::wstring::npos; pos = strText.find(str, pos + 1))
        ++n;
    return n;
}

std::vector<std::wstring> CLogCapture::Messages() const
{
    std::vector<std::wstring> messages;
    const std::wstring strLog = Text();
    size_t nStart = 0;
    while (nStart < strLog.size()) {
        size_t nEnd = strLog.find(L"\r\n", nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strLog.size();
        const std::wstring strLine = strLog.substr(nStart, nEnd - nStart);
        // "[Tag][date time:ms pid:tid]message"
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
    CloseLogFile();
    ::DeleteFileW(m_strFile.c_str());
}
