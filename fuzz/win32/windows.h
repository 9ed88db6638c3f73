#pragma once

// The part of the Windows interface the zip layer calls, for the fuzz
// targets of the build machine. The file functions work on an in-memory
// model of a Windows volume (FakeVolume.h); wchar_t holds one UTF-16 unit,
// as in FuzzUnits.h.

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using LONGLONG = int64_t;
using UINT = unsigned int;
using HANDLE = void*;
using HKEY = void*;
using HLOCAL = void*;
using HGDIOBJ = void*;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define MAXDWORD 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD DELETE = 0x00010000u;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x00000100u;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD FILE_SHARE_DELETE = 4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
};

struct FILE_BASIC_INFO {
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    DWORD FileAttributes;
};

enum FILE_INFO_BY_HANDLE_CLASS { FileBasicInfo = 0 };

struct SECURITY_ATTRIBUTES;
struct TIME_ZONE_INFORMATION;

BOOL CloseHandle(HANDLE h);
BOOL FindClose(HANDLE h);
LONG RegCloseKey(HKEY h);
HLOCAL LocalFree(HLOCAL h);
BOOL DeleteObject(HGDIOBJ h);

HANDLE CreateFileW(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare, SECURITY_ATTRIBUTES* pSecurity,
                   DWORD dwDisposition, DWORD dwAttributes, HANDLE hTemplate);
BOOL WriteFile(HANDLE h, const void* pData, DWORD cb, DWORD* pcbWritten, void* pOverlapped);
BOOL GetFileSizeEx(HANDLE h, LARGE_INTEGER* pSize);
BOOL SetFileTime(HANDLE h, const FILETIME* pCreation, const FILETIME* pAccess, const FILETIME* pWrite);
BOOL SetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS infoClass, void* pInfo, DWORD cbInfo);
BOOL DeleteFileW(const wchar_t* pszPath);
BOOL CreateDirectoryW(const wchar_t* pszPath, SECURITY_ATTRIBUTES* pSecurity);
DWORD GetFileAttributesW(const wchar_t* pszPath);
DWORD GetCurrentDirectoryW(DWORD cch, wchar_t* pszOut);
DWORD GetLastError();
void SetLastError(DWORD dwError);

int MultiByteToWideChar(UINT nCodePage, DWORD dwFlags, const char* pIn, int cbIn, wchar_t* pOut, int cchOut);
BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* pZone, const SYSTEMTIME* pLocal, SYSTEMTIME* pUtc);
BOOL SystemTimeToFileTime(const SYSTEMTIME* pTime, FILETIME* pFileTime);
