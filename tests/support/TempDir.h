#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder below the system temp folder, removed with everything in
// it when the object goes away.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    // Path of a name below the folder, joined with a backslash.
    std::wstring operator/(const std::wstring& strName) const { return m_strPath + L"\\" + strName; }

private:
    std::wstring m_strPath;
};

bool RemoveTree(const std::wstring& strPath);
bool PathExists(const std::wstring& strPath);
std::vector<uint8_t> ReadFileBytes(const std::wstring& strPath);
bool WriteFileBytes(const std::wstring& strPath, const void* pData, size_t cbData);
// The file's content as UTF-16 code units (no byte-order mark handling).
std::wstring ReadFileUtf16(const std::wstring& strPath);
// UTF-8 for readable failure messages.
std::string Narrow(const std::wstring& str);
