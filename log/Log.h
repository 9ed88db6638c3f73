#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

// Process-wide switch: a negative value turns the whole log off.
extern int g_nLogLevel;
// Path of the log file; empty until the install location is settled, and
// while it is empty lines reach the debugger channel only.
extern wchar_t g_szLogFile[MAX_PATH];

constexpr int kLogLevelCount = 11;
constexpr int kLogTagSlot = 32;
extern const wchar_t g_szLogLevelTags[kLogLevelCount][kLogTagSlot];

// Formats are printf-style; UTF-16 string arguments take "%ls".
void LogError(const wchar_t* pszFormat, ...);
void LogNormal(const wchar_t* pszFormat, ...);
void Log(int nLevel, const wchar_t* pszFormat, va_list args);

// Appends the text (without its terminator) to the file, creating it when
// missing; a link or hard-linked name there is replaced, not written
// through. Never reports a failure: a line that cannot be written is lost.
// The file stays open, readable by others, until a line goes to another
// path or CloseLogFile is called.
void AppendToLogFile(const wchar_t* pszPath, const wchar_t* pszText);
// Starts the file empty and holds it open, whatever held its name before
// (an older log, or a link planted in its place, which is replaced, not
// followed). False when it cannot be made.
bool StartLogFile(const wchar_t* pszPath);
// Lets the open log file go, for whoever deletes or moves it; the next line
// opens it again.
void CloseLogFile();

// The pieces of a line, for callers that supply the clock and the ids.
std::wstring FormatLogHeader(int nLevel, const SYSTEMTIME& st, DWORD dwProcessId, DWORD dwThreadId);
std::wstring FormatLogMessage(const wchar_t* pszFormat, va_list args);
