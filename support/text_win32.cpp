// Conversions between the program's code page and UTF-16.
#include "support/text_win32.h"

#include <windows.h>

std::wstring WideFromProgramText(const std::string& strText) {
    if (strText.empty())
        return std::wstring();
    int nLen = static_cast<int>(strText.size());
    int nChars = ::MultiByteToWideChar(kProgramCodePage, 0, strText.data(), nLen, nullptr, 0);
    if (nChars <= 0)
        return std::wstring();
    std::wstring strWide(static_cast<size_t>(nChars), L'\0');
    ::MultiByteToWideChar(kProgramCodePage, 0, strText.data(), nLen, &strWide[0], nChars);
    return strWide;
}

std::string ProgramTextFromWide(const wchar_t* pszWide, int nChars) {
    if (pszWide == nullptr)
        return std::string();
    if (nChars < 0)
        nChars = static_cast<int>(::wcslen(pszWide));
    if (nChars == 0)
        return std::string();
    int nBytes =
        ::WideCharToMultiByte(kProgramCodePage, 0, pszWide, nChars, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return std::string();
    std::string strText(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(kProgramCodePage, 0, pszWide, nChars, &strText[0], nBytes, nullptr,
                          nullptr);
    return strText;
}
