#include "support/ascii.h"

#include <climits>

namespace {

bool IsAsciiSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

// An optional sign and the decimal digits that follow it, read from i on.
struct CSignedDigits {
    bool bDigits = false;    // at least one digit
    bool bSaturated = false; // beyond the range of long long: nValue is its nearer end
    long long nValue = 0;
};

CSignedDigits ReadSignedDigits(std::string_view strText, size_t& i) {
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '-' || strText[i] == '+')) {
        bNegative = strText[i] == '-';
        ++i;
    }
    // Accumulated negated, whose range reaches LLONG_MIN; once a digit would overflow it,
    // the value saturates instead of wrapping round.
    CSignedDigits result;
    long long nNegated = 0;
    for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        result.bDigits = true;
        const int nDigit = strText[i] - '0';
        if (result.bSaturated || nNegated < (LLONG_MIN + nDigit) / 10)
            result.bSaturated = true;
        else
            nNegated = nNegated * 10 - nDigit;
    }
    if (!bNegative && nNegated == LLONG_MIN)
        result.bSaturated = true;
    if (result.bSaturated)
        result.nValue = bNegative ? LLONG_MIN : LLONG_MAX;
    else
        result.nValue = bNegative ? nNegated : -nNegated;
    return result;
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
    const CSignedDigits digits = ReadSignedDigits(strText, i);
    if (!digits.bDigits || digits.bSaturated || i != strText.size() || digits.nValue < nMin ||
        digits.nValue > nMax)
        return false;
    nValue = digits.nValue;
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
    const long long nValue = ReadSignedDigits(strText, i).nValue;
    return nValue < nMin ? nMin : (nValue > nMax ? nMax : nValue);
}
