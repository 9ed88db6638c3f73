#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Sets or removes one registry value for the test's lifetime and then puts
// back what was there (or removes it again).
class CRegValueOverride {
public:
    CRegValueOverride(HKEY hRoot, const wchar_t* pszKey, const wchar_t* pszValue)
        : m_hRoot(hRoot), m_strKey(pszKey), m_strValue(pszValue)
    {
        HKEY hKey = nullptr;
        if (::RegOpenKeyExW(m_hRoot, pszKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
            return;
        DWORD cb = 0;
        if (::RegQueryValueExW(hKey, pszValue, nullptr, &m_dwType, nullptr, &cb) == ERROR_SUCCESS) {
            m_data.resize(cb);
            m_bHadValue = ::RegQueryValueExW(hKey, pszValue, nullptr, &m_dwType, m_data.data(), &cb) == ERROR_SUCCESS;
        }
        ::RegCloseKey(hKey);
    }
    ~CRegValueOverride()
    {
        if (m_bHadValue)
            ::RegSetKeyValueW(m_hRoot, m_strKey.c_str(), m_strValue.c_str(), m_dwType, m_data.data(),
                              static_cast<DWORD>(m_data.size()));
        else
            ::RegDeleteKeyValueW(m_hRoot, m_strKey.c_str(), m_strValue.c_str());
    }
    CRegValueOverride(const CRegValueOverride&) = delete;
    CRegValueOverride& operator=(const CRegValueOverride&) = delete;

    bool Set(const std::wstring& strData)
    {
        return ::RegSetKeyValueW(m_hRoot, m_strKey.c_str(), m_strValue.c_str(), REG_SZ, strData.c_str(),
                                 static_cast<DWORD>((strData.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    bool Remove()
    {
        LONG l = ::RegDeleteKeyValueW(m_hRoot, m_strKey.c_str(), m_strValue.c_str());
        return l == ERROR_SUCCESS || l == ERROR_FILE_NOT_FOUND;
    }

private:
    HKEY m_hRoot;
    std::wstring m_strKey;
    std::wstring m_strValue;
    bool m_bHadValue = false;
    DWORD m_dwType = REG_SZ;
    std::vector<BYTE> m_data;
};
