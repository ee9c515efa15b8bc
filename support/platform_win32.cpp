// Windows facts. The program's 8-bit texts are code page 936; system texts are fetched
// wide and converted to it, so they read correctly whatever the system's code page is.
#include "support/platform.h"
#include "support/text_win32.h"

#include <windows.h>

// nChars wide characters as UTF-8; empty when they do not convert.
static std::string Utf8FromWide(const wchar_t* pszWide, int nChars) {
    if (nChars <= 0)
        return std::string();
    const int nBytes =
        ::WideCharToMultiByte(CP_UTF8, 0, pszWide, nChars, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return std::string();
    std::string strUtf8(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, pszWide, nChars, &strUtf8[0], nBytes, nullptr, nullptr);
    return strUtf8;
}

int GetThreadLastError() {
    return static_cast<int>(::GetLastError());
}

void SetThreadLastError(int nError) {
    ::SetLastError(static_cast<DWORD>(nError));
}

std::string GetSystemErrorMessage(int nCode) {
    wchar_t* pszText = nullptr;
    DWORD nChars = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                    nullptr, static_cast<DWORD>(nCode), 0,
                                    reinterpret_cast<wchar_t*>(&pszText), 0, nullptr);
    std::string strText;
    if (nChars > 0 && pszText != nullptr)
        strText = ProgramTextFromWide(pszText, static_cast<int>(nChars));
    if (pszText != nullptr)
        ::LocalFree(pszText);
    return strText;
}

void WriteDebugOutput(const std::string& strLine) {
    ::OutputDebugStringA(strLine.c_str());
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::GetCurrentThreadId());
}

std::string GetProcessImagePath() {
    wchar_t szPath[32768];
    DWORD nChars = ::GetModuleFileNameW(nullptr, szPath, sizeof(szPath) / sizeof(szPath[0]));
    if (nChars == 0 || nChars >= sizeof(szPath) / sizeof(szPath[0]))
        return std::string();
    return ProgramTextFromWide(szPath, static_cast<int>(nChars));
}

char PathSeparator() {
    return '\\';
}

void RaiseDescriptorLimit() {}

long DescriptorLimit() {
    return -1;
}

std::string Utf8FromProgramText(const std::string& strText) {
    const std::wstring strWide = WideFromProgramText(strText);
    return Utf8FromWide(strWide.data(), static_cast<int>(strWide.size()));
}

const char* const kUserDataFolderName = "Tachyra";

std::string GetUserDataDirectory() {
    wchar_t szWide[32768];
    const DWORD nChars = GetEnvironmentVariableW(L"LOCALAPPDATA", szWide, 32768);
    if (nChars == 0 || nChars >= 32768)
        return std::string();
    return Utf8FromWide(szWide, static_cast<int>(nChars));
}
