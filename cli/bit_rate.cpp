#include "cli/bit_rate.h"

#include "support/format.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

std::optional<uint64_t> ParseBitRate(const std::string& strText) {
    if (strText.empty() ||
        !(std::isdigit(static_cast<unsigned char>(strText[0])) || strText[0] == '.'))
        return std::nullopt;
    char* pEnd = nullptr;
    double dValue = std::strtod(strText.c_str(), &pEnd);
    const std::string strSuffix(pEnd);
    if (strSuffix == "k" || strSuffix == "K")
        dValue *= 1e3;
    else if (strSuffix == "m" || strSuffix == "M")
        dValue *= 1e6;
    else if (strSuffix == "g" || strSuffix == "G")
        dValue *= 1e9;
    else if (!strSuffix.empty())
        return std::nullopt;
    if (!std::isfinite(dValue) || dValue < 1 || dValue > 1e13)
        return std::nullopt;
    return static_cast<uint64_t>(std::llround(dValue));
}

std::string FormatBitRate(double dBitsPerSecond) {
    const char* pszUnit = "bit/s";
    double dValue = dBitsPerSecond;
    for (const char* pszNext : {"Kbit/s", "Mbit/s", "Gbit/s"}) {
        if (dValue < 1000)
            break;
        dValue /= 1000;
        pszUnit = pszNext;
    }
    return FormatString("%.2f %s", dValue, pszUnit);
}
