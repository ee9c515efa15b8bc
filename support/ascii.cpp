#include "support/ascii.h"

#include <climits>

namespace {

bool IsAsciiSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

// Digits from i on; stops growing once the magnitude passes nLimit so it cannot overflow.
unsigned long long ReadDigits(std::string_view strText, size_t& i, unsigned long long nLimit) {
    unsigned long long nValue = 0;
    for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        if (nValue <= nLimit)
            nValue = nValue * 10 + static_cast<unsigned long long>(strText[i] - '0');
    }
    return nValue;
}

long long Clamp(bool bNegative, unsigned long long nMagnitude, long long nMin, long long nMax) {
    if (bNegative) {
        // nMin may be the most negative value: compare magnitudes without negating it.
        const unsigned long long nMinMagnitude =
            nMin < 0 ? 0ULL - static_cast<unsigned long long>(nMin) : 0;
        if (nMin >= 0 || nMagnitude > nMinMagnitude)
            return nMagnitude == 0 && nMin <= 0 ? 0 : nMin;
        return static_cast<long long>(0ULL - nMagnitude);
    }
    if (nMax < 0 || nMagnitude > static_cast<unsigned long long>(nMax))
        return nMax;
    const long long nValue = static_cast<long long>(nMagnitude);
    return nValue < nMin ? nMin : nValue;
}

} // namespace

std::string QuoteEscaped(std::string_view strText, bool bControlsAsUnicode) {
    static const char kHex[] = "0123456789abcdef";
    std::string strOut = "\"";
    for (char ch : strText) {
        switch (ch) {
        case '"':
            strOut += "\\\"";
            break;
        case '\\':
            strOut += "\\\\";
            break;
        case '\n':
            strOut += "\\n";
            break;
        case '\r':
            strOut += "\\r";
            break;
        case '\t':
            strOut += "\\t";
            break;
        default:
            if (bControlsAsUnicode && static_cast<unsigned char>(ch) < 0x20) {
                strOut += "\\u00";
                strOut += kHex[(ch >> 4) & 0xF];
                strOut += kHex[ch & 0xF];
            } else {
                strOut += ch;
            }
        }
    }
    return strOut + '"';
}

bool EqualsNoCaseAscii(std::string_view strA, std::string_view strB) {
    if (strA.size() != strB.size())
        return false;
    for (size_t i = 0; i < strA.size(); ++i) {
        if (ToLowerAscii(strA[i]) != ToLowerAscii(strB[i]))
            return false;
    }
    return true;
}

bool ParseDecimal(std::string_view strText, long long nMin, long long nMax, long long& nValue) {
    size_t i = 0;
    const bool bNegative = i < strText.size() && strText[i] == '-';
    if (i < strText.size() && (strText[i] == '-' || strText[i] == '+'))
        ++i;
    const size_t nFirstDigit = i;
    const unsigned long long nMagnitude = ReadDigits(strText, i, 1ULL << 62);
    if (i == nFirstDigit || i != strText.size())
        return false;
    const long long nClamped = Clamp(bNegative, nMagnitude, nMin, nMax);
    // A clamped value differs from the text's own unless the text was already in range.
    const bool bInRange =
        bNegative
            ? (nClamped <= 0 && 0ULL - static_cast<unsigned long long>(nClamped) == nMagnitude)
            : (nClamped >= 0 && static_cast<unsigned long long>(nClamped) == nMagnitude);
    if (!bInRange)
        return false;
    nValue = nClamped;
    return true;
}

bool ParseDecimalInt(std::string_view strText, int& nValue) {
    long long n = 0;
    if (!ParseDecimal(strText, INT_MIN, INT_MAX, n))
        return false;
    nValue = static_cast<int>(n);
    return true;
}

long long ParseLeadingDecimal(std::string_view strText, long long nMin, long long nMax) {
    size_t i = 0;
    while (i < strText.size() && IsAsciiSpace(strText[i]))
        ++i;
    const bool bNegative = i < strText.size() && strText[i] == '-';
    if (i < strText.size() && (strText[i] == '-' || strText[i] == '+'))
        ++i;
    return Clamp(bNegative, ReadDigits(strText, i, 1ULL << 62), nMin, nMax);
}
