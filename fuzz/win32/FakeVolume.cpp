#include "fuzz/win32/FakeVolume.h"

#include "framework/SafeFile.h"
#include "zip/ItemNameRule.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwctype>

namespace {

// Files written in one run: more is a full disk.
constexpr uint64_t kVolumeBytes = 64 << 20;

thread_local DWORD t_dwLastError = ERROR_SUCCESS;

bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

[[noreturn]] void Finding(const char* pszWhat, const std::wstring& strPath)
{
    std::fprintf(stderr, "finding: %s: ", pszWhat);
    for (wchar_t ch : strPath)
        std::fprintf(stderr, ch >= 0x20 && ch < 0x7F ? "%c" : "\\u%04x", static_cast<unsigned>(ch));
    std::fprintf(stderr, "\n");
    std::abort();
}

template <typename T>
T Fail(DWORD dwError, T result)
{
    t_dwLastError = dwError;
    return result;
}

bool IsDotsAndBlanks(const std::wstring& str, size_t* pnDots)
{
    *pnDots = 0;
    for (wchar_t ch : str) {
        if (ch != L'.' && ch != L' ')
            return false;
        *pnDots += ch == L'.';
    }
    return true;
}

}  // namespace

FakeVolume& FakeVolume::Current()
{
    // Case folding as the file system does it needs the C library's
    // Unicode tables.
    static FakeVolume* s_pVolume = [] {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        return new FakeVolume;
    }();
    return *s_pVolume;
}

void FakeVolume::Reset(const std::wstring& strWritable, const std::wstring& strArchive, const SparseInput* pArchive)
{
    for (auto& handle : m_handles)
        delete handle.first;
    m_handles.clear();
    m_nodes.clear();
    m_cbWritten = 0;
    m_nodes[L"C:"].bFolder = true;
    bool bDevice = false;
    if (!Key(strWritable, &m_strWritableKey, &bDevice))
        std::abort();
    m_nodes[m_strWritableKey].bFolder = true;
    std::wstring strKey;
    if (!Key(strArchive, &strKey, &bDevice))
        std::abort();
    m_nodes[strKey].pArchive = pArchive;
}

bool FakeVolume::Key(const std::wstring& strPath, std::wstring* pKey, bool* pbDevice)
{
    *pbDevice = false;
    if (strPath.size() < 3 || std::towupper(strPath[0]) != L'C' || strPath[1] != L':' || !IsSeparator(strPath[2]))
        return false;
    std::vector<std::wstring> parts;
    for (size_t nStart = 3; nStart < strPath.size();) {
        size_t nEnd = nStart;
        while (nEnd < strPath.size() && !IsSeparator(strPath[nEnd]))
            ++nEnd;
        std::wstring strPart = strPath.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        for (wchar_t ch : strPart)
            if (ch < 0x20 || std::wcschr(L"<>:\"|?*", ch))
                return false;
        size_t nDots = 0;
        if (IsDotsAndBlanks(strPart, &nDots)) {
            // "..", ".. " and "..." climb; ".", " " and "" are the folder.
            if (nDots >= 2 && !parts.empty())
                parts.pop_back();
            continue;
        }
        while (strPart.back() == L'.' || strPart.back() == L' ')
            strPart.pop_back();
        *pbDevice = *pbDevice || IsDeviceName(strPart.c_str(), strPart.size());
        for (wchar_t& ch : strPart)
            ch = static_cast<wchar_t>(std::towupper(ch));
        parts.push_back(strPart);
    }
    *pKey = L"C:";
    for (const std::wstring& strPart : parts)
        *pKey += L"\\" + strPart;
    return true;
}

const FakeVolume::Node* FakeVolume::Find(const std::wstring& strPath) const
{
    std::wstring strKey;
    bool bDevice = false;
    if (!Key(strPath, &strKey, &bDevice))
        return nullptr;
    const auto it = m_nodes.find(strKey);
    return it == m_nodes.end() ? nullptr : &it->second;
}

void FakeVolume::MayChange(const std::wstring& strKey, const char* pszWhat) const
{
    if (strKey.compare(0, m_strWritableKey.size() + 1, m_strWritableKey + L"\\") != 0)
        Finding(pszWhat, strKey);
}

bool FakeVolume::HasParent(const std::wstring& strKey) const
{
    const auto it = m_nodes.find(strKey.substr(0, strKey.rfind(L'\\')));
    return it != m_nodes.end() && it->second.bFolder;
}

bool FakeVolume::FileKey(const wchar_t* pszPath, std::wstring* pKey)
{
    bool bDevice = false;
    return (Key(pszPath, pKey, &bDevice) && !bDevice) || Fail(ERROR_INVALID_NAME, false);
}

DWORD FakeVolume::Busy(const Node& node)
{
    // The layer's files are opened sharing nothing but reading.
    return node.bFolder ? ERROR_ACCESS_DENIED : node.nOpen > 0 && !node.pArchive ? ERROR_SHARING_VIOLATION : 0;
}

HANDLE FakeVolume::NewHandle(const std::wstring& strKey, DWORD dwAccess)
{
    ++m_nodes[strKey].nOpen;
    auto* pHandle = new Handle{strKey, dwAccess};
    m_handles[pHandle] = true;
    return pHandle;
}

FakeVolume::Handle* FakeVolume::Open(HANDLE h)
{
    auto* pHandle = static_cast<Handle*>(h);
    if (!m_handles.count(pHandle))
        Finding("a handle that is not open", L"");
    return pHandle;
}

HANDLE FakeVolume::Create(const wchar_t* pszPath, DWORD dwAccess, DWORD dwDisposition)
{
    std::wstring strKey;
    bool bDevice = false;
    if (!Key(pszPath, &strKey, &bDevice))
        return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    const bool bWrite = (dwAccess & GENERIC_WRITE) != 0;
    if (bDevice) {
        if (bWrite)
            Finding("a device opened for writing", pszPath);
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    auto it = m_nodes.find(strKey);
    if (dwDisposition == OPEN_EXISTING) {
        if (it == m_nodes.end())
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if (bWrite)
            MayChange(strKey, "an existing file opened for writing");
    } else if (dwDisposition == CREATE_NEW) {
        if (it != m_nodes.end())
            return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        if (!HasParent(strKey))
            return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        MayChange(strKey, "a file created");
        it = m_nodes.emplace(strKey, Node()).first;
    } else {
        std::abort();
    }
    if (const DWORD dwBusy = Busy(it->second))
        return Fail(dwBusy, INVALID_HANDLE_VALUE);
    return NewHandle(strKey, dwAccess);
}

HANDLE FakeVolume::CreateFresh(const wchar_t* pszPath, DWORD dwAccess)
{
    std::wstring strKey;
    if (!FileKey(pszPath, &strKey))
        return INVALID_HANDLE_VALUE;
    if (!HasParent(strKey))
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    MayChange(strKey, "a file replaced");
    // The new file is renamed over the name: not over a folder or a file
    // someone holds.
    Node& node = m_nodes[strKey];
    if (const DWORD dwBusy = Busy(node))
        return Fail(dwBusy, INVALID_HANDLE_VALUE);
    node = Node();
    return NewHandle(strKey, dwAccess);
}

bool FakeVolume::Close(HANDLE h)
{
    Handle* pHandle = Open(h);
    --m_nodes[pHandle->strKey].nOpen;
    m_handles.erase(pHandle);
    delete pHandle;
    return true;
}

bool FakeVolume::Write(HANDLE h, const void* pData, DWORD cb, DWORD* pcbWritten)
{
    Handle* pHandle = Open(h);
    *pcbWritten = 0;
    if (!(pHandle->dwAccess & GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED, false);
    MayChange(pHandle->strKey, "a file written");
    if (m_cbWritten + cb > kVolumeBytes)
        return Fail(ERROR_DISK_FULL, false);
    std::vector<uint8_t>& data = m_nodes[pHandle->strKey].data;
    if (data.size() < pHandle->nPos + cb)
        data.resize(pHandle->nPos + cb);
    std::memcpy(data.data() + pHandle->nPos, pData, cb);
    pHandle->nPos += cb;
    m_cbWritten += cb;
    *pcbWritten = cb;
    return true;
}

bool FakeVolume::ReadAt(HANDLE h, uint64_t nPos, void* pBuffer, DWORD cb, DWORD* pcbRead)
{
    Handle* pHandle = Open(h);
    *pcbRead = 0;
    if (!(pHandle->dwAccess & GENERIC_READ))
        return Fail(ERROR_ACCESS_DENIED, false);
    const Node& node = m_nodes[pHandle->strKey];
    const uint64_t cbFile = node.pArchive ? node.pArchive->Size() : node.data.size();
    if (nPos >= cbFile)
        return true;
    const DWORD cbRead = cbFile - nPos < cb ? static_cast<DWORD>(cbFile - nPos) : cb;
    if (node.pArchive)
        node.pArchive->Read(nPos, static_cast<uint8_t*>(pBuffer), cbRead);
    else
        std::memcpy(pBuffer, node.data.data() + nPos, cbRead);
    *pcbRead = cbRead;
    return true;
}

bool FakeVolume::Size(HANDLE h, uint64_t* pcb)
{
    const Node& node = m_nodes[Open(h)->strKey];
    *pcb = node.pArchive ? node.pArchive->Size() : node.data.size();
    return true;
}

bool FakeVolume::Change(HANDLE h)
{
    Handle* pHandle = Open(h);
    if (!(pHandle->dwAccess & (GENERIC_WRITE | FILE_WRITE_ATTRIBUTES)))
        return Fail(ERROR_ACCESS_DENIED, false);
    MayChange(pHandle->strKey, "a file's times or attributes set");
    return true;
}

bool FakeVolume::Delete(const wchar_t* pszPath)
{
    std::wstring strKey;
    if (!FileKey(pszPath, &strKey))
        return false;
    const auto it = m_nodes.find(strKey);
    if (it == m_nodes.end())
        return Fail(ERROR_FILE_NOT_FOUND, false);
    MayChange(strKey, "a file deleted");
    if (const DWORD dwBusy = Busy(it->second))
        return Fail(dwBusy, false);
    m_nodes.erase(it);
    return true;
}

bool FakeVolume::MakeFolder(const wchar_t* pszPath)
{
    std::wstring strKey;
    if (!FileKey(pszPath, &strKey))
        return false;
    if (m_nodes.count(strKey))
        return Fail(ERROR_ALREADY_EXISTS, false);
    if (!HasParent(strKey))
        return Fail(ERROR_PATH_NOT_FOUND, false);
    MayChange(strKey, "a folder created");
    m_nodes[strKey].bFolder = true;
    return true;
}

DWORD FakeVolume::Attributes(const wchar_t* pszPath)
{
    const Node* pNode = Find(pszPath);
    if (!pNode)
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    return pNode->bFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// The functions of windows.h and framework/SafeFile.h the zip layer calls.

BOOL CloseHandle(HANDLE h)
{
    return FakeVolume::Current().Close(h);
}

HANDLE CreateFileW(const wchar_t* pszPath, DWORD dwAccess, DWORD, SECURITY_ATTRIBUTES*, DWORD dwDisposition, DWORD,
                   HANDLE)
{
    return FakeVolume::Current().Create(pszPath, dwAccess, dwDisposition);
}

HANDLE CreateFreshFile(const wchar_t* pszPath, DWORD dwAccess, DWORD)
{
    return FakeVolume::Current().CreateFresh(pszPath, dwAccess | DELETE);
}

BOOL WriteFile(HANDLE h, const void* pData, DWORD cb, DWORD* pcbWritten, void*)
{
    return FakeVolume::Current().Write(h, pData, cb, pcbWritten);
}

bool ReadFileAt(HANDLE h, uint64_t nPos, void* pBuffer, DWORD cb, DWORD* pcbRead)
{
    return FakeVolume::Current().ReadAt(h, nPos, pBuffer, cb, pcbRead);
}

BOOL GetFileSizeEx(HANDLE h, LARGE_INTEGER* pSize)
{
    uint64_t cb = 0;
    if (!FakeVolume::Current().Size(h, &cb))
        return FALSE;
    pSize->QuadPart = static_cast<LONGLONG>(cb);
    return TRUE;
}

BOOL SetFileTime(HANDLE h, const FILETIME*, const FILETIME*, const FILETIME*)
{
    return FakeVolume::Current().Change(h);
}

BOOL SetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD)
{
    return FakeVolume::Current().Change(h);
}

BOOL DeleteFileW(const wchar_t* pszPath)
{
    return FakeVolume::Current().Delete(pszPath);
}

BOOL CreateDirectoryW(const wchar_t* pszPath, SECURITY_ATTRIBUTES*)
{
    return FakeVolume::Current().MakeFolder(pszPath);
}

DWORD GetFileAttributesW(const wchar_t* pszPath)
{
    return FakeVolume::Current().Attributes(pszPath);
}

DWORD GetCurrentDirectoryW(DWORD cch, wchar_t* pszOut)
{
    if (cch < 4)
        return 4;
    std::wcscpy(pszOut, L"C:\\");
    return 3;
}

DWORD GetLastError()
{
    return t_dwLastError;
}

void SetLastError(DWORD dwError)
{
    t_dwLastError = dwError;
}
