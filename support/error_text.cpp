#include "support/error_text.h"

#include "support/format.h"
#include "support/platform.h"

std::string ComposeErrorText(int nCode, const std::string& strSystemText) {
    std::string strText = nCode >= 0 ? FormatString("(%d)：%s", nCode, strSystemText.c_str())
                                     : FormatString("(0x%08X)：%s", static_cast<unsigned>(nCode),
                                                    strSystemText.c_str());
    std::string::size_type nPos = 0;
    while ((nPos = strText.find("\r\n", nPos)) != std::string::npos) {
        strText[nPos] = ' ';
        strText.erase(nPos + 1, 1);
        nPos += 1;
    }
    return strText;
}

std::string GetErrorText(int nCode) {
    int nRemembered = 0;
    if (nCode == 0) {
        nCode = GetThreadLastError();
        nRemembered = nCode;
    }
    std::string strText = ComposeErrorText(nCode, GetSystemErrorMessage(nCode));
    if (nRemembered != 0)
        SetThreadLastError(nRemembered);
    return strText;
}
