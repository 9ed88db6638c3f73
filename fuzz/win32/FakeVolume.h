#pragma once

#include "fuzz/SparseInput.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Drive C: in memory, behind the file functions of windows.h, naming its
// files as Windows does: "\" and "/" alike, runs of them as one, "." and
// ".." resolved, trailing dots and blanks dropped (in every component: a
// model that joins more names than Windows finds every case Windows
// joins), case folded, a ":" a stream and a device name a device. Creating,
// changing or deleting anything outside the one writable folder, writing
// a device or a stream, or handing in a handle that is not open, is a
// finding: the call aborts.
class FakeVolume {
public:
    struct Node {
        bool bFolder = false;
        // The read-only archive, whose bytes are the fuzz input's.
        const SparseInput* pArchive = nullptr;
        std::vector<uint8_t> data;
        int nOpen = 0;
    };

    // The volume the functions of windows.h work on.
    static FakeVolume& Current();

    // A fresh volume: C:\ with the folder strWritable below it, empty and the
    // only place that may change, and the archive at strArchive.
    void Reset(const std::wstring& strWritable, const std::wstring& strArchive, const SparseInput* pArchive);

    // The key of the object a path names on C:, and whether it is a device;
    // false when Windows would refuse the name or it names a stream.
    static bool Key(const std::wstring& strPath, std::wstring* pKey, bool* pbDevice);
    // The file or folder a path names; null when there is none.
    const Node* Find(const std::wstring& strPath) const;
    size_t OpenHandles() const { return m_handles.size(); }

    // What the functions of windows.h do.
    HANDLE Create(const wchar_t* pszPath, DWORD dwAccess, DWORD dwDisposition);
    HANDLE CreateFresh(const wchar_t* pszPath, DWORD dwAccess);
    bool Close(HANDLE h);
    bool Write(HANDLE h, const void* pData, DWORD cb, DWORD* pcbWritten);
    bool ReadAt(HANDLE h, uint64_t nPos, void* pBuffer, DWORD cb, DWORD* pcbRead);
    bool Size(HANDLE h, uint64_t* pcb);
    bool Change(HANDLE h);
    bool Delete(const wchar_t* pszPath);
    bool MakeFolder(const wchar_t* pszPath);
    DWORD Attributes(const wchar_t* pszPath);

private:
    struct Handle {
        std::wstring strKey;
        DWORD dwAccess;
        uint64_t nPos = 0;
    };

    // The key of a path that names a file or folder, not a device.
    static bool FileKey(const wchar_t* pszPath, std::wstring* pKey);
    // Why the node cannot be opened or replaced now (0: it can).
    static DWORD Busy(const Node& node);
    HANDLE NewHandle(const std::wstring& strKey, DWORD dwAccess);
    Handle* Open(HANDLE h);
    // A key below the writable folder; anything else aborts.
    void MayChange(const std::wstring& strKey, const char* pszWhat) const;
    // The key's parent is a folder.
    bool HasParent(const std::wstring& strKey) const;

    std::map<std::wstring, Node> m_nodes;
    std::map<Handle*, bool> m_handles;
    std::wstring m_strWritableKey;
    uint64_t m_cbWritten = 0;
};
