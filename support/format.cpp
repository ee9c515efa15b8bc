#include "support/format.h"

#include "support/platform.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

static std::string FormatV(const char* pszFormat, va_list args) {
    if (pszFormat == nullptr)
        throw std::invalid_argument("FormatString: null format");
    va_list measure;
    va_copy(measure, args);
    int nLen = std::vsnprintf(nullptr, 0, pszFormat, measure);
    va_end(measure);
    if (nLen <= 0)
        return std::string();
    std::string strResult(static_cast<size_t>(nLen), '\0');
    std::vsnprintf(&strResult[0], strResult.size() + 1, pszFormat, args);
    return strResult;
}

std::string FormatString(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::string strResult;
    try {
        strResult = FormatV(pszFormat, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return strResult;
}

std::string MakeTraceLine(const std::string& strText) {
    if (strText.empty())
        return std::string();
    if (strText.back() == '\n')
        return strText;
    return strText + "\r\n";
}

void TraceDebug(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::string strText;
    try {
        strText = FormatV(pszFormat, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    std::string strLine = MakeTraceLine(strText);
    if (!strLine.empty())
        WriteDebugOutput(strLine);
}
