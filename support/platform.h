// Small facts about the running process and system that differ per platform.
// Implemented once in platform_posix.cpp and once in platform_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

// The calling thread's last error (errno on POSIX, GetLastError on Windows).
int GetThreadLastError();
void SetThreadLastError(int nError);

// The system's text for an error code, as it comes (may end with a line break).
std::string GetSystemErrorMessage(int nCode);

// Where TraceDebug lines go.
void WriteDebugOutput(const std::string& strLine);

// The calling thread's id.
uint32_t CurrentThreadId();

// Full path of the running executable, in the program's 8-bit code page; empty if unknown.
std::string GetProcessImagePath();

// The platform's path separator for the executable's path.
char PathSeparator();

// Raises the soft limit on open descriptors to the hard one, as servers do (POSIX; nothing
// to do on Windows, where sockets have no such limit).
void RaiseDescriptorLimit();
// The soft limit on open descriptors; -1 when the platform has none.
long DescriptorLimit();

// The program's own 8-bit text as UTF-8, for what must be UTF-8 everywhere (JSON): the
// text itself on POSIX, converted from code page 936 on Windows.
std::string Utf8FromProgramText(const std::string& strText);

// The user's folder for program data, in UTF-8: $XDG_DATA_HOME, else ~/.local/share
// (POSIX); %LOCALAPPDATA% (Windows). Empty when the environment names none.
std::string GetUserDataDirectory();
// The program's folder name inside it.
extern const char* const kUserDataFolderName;
