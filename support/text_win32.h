// Windows only: the program's 8-bit texts are code page 936; everything that reaches a
// window, a message box or the registry crosses as UTF-16 through these two.
#pragma once

#include <string>

constexpr unsigned int kProgramCodePage = 936;

std::wstring WideFromProgramText(const std::string& strText);
std::string ProgramTextFromWide(const wchar_t* pszWide, int nChars = -1);
