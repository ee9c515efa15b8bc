#include "support/format.h"

#include "support/platform.h"

#include <cstdarg>
#include <cstdio>

static std::string FormatV(const char* pszFormat, va_list args) {
    if (pszFormat == nullptr)
        return std::string();
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
    std::string strResult = FormatV(pszFormat, args);
    va_end(args);
    return strResult;
}

void PrintLine(std::FILE* pOut, const std::string& strLine) {
    std::fprintf(pOut, "%s\n", strLine.c_str());
    std::fflush(pOut);
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
    std::string strText = FormatV(pszFormat, args);
    va_end(args);
    std::string strLine = MakeTraceLine(strText);
    if (!strLine.empty())
        WriteDebugOutput(strLine);
}
