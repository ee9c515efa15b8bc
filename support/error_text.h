// One-line texts for system error codes.
#pragma once

#include <string>

// "(%d)：%s" for a code that is not negative, "(0x%08X)：%s" for a negative one, every
// "\r\n" turned into one blank. Code 0 means the calling thread's last error, which is
// set again afterwards so that the caller still sees it.
std::string GetErrorText(int nCode = 0);

// The composition step alone, for a given system text.
std::string ComposeErrorText(int nCode, const std::string& strSystemText);
