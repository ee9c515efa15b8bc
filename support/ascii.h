// ASCII-only text helpers: case folding that never depends on the locale, and decimal
// parsing with a range check. Every parser of the program goes through these.
#pragma once

#include <string>
#include <string_view>

inline char ToLowerAscii(char ch) {
    return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}

// Same length and the same letters, ignoring ASCII case.
bool EqualsNoCaseAscii(std::string_view strA, std::string_view strB);

// strText begins with strPrefix, ignoring ASCII case.
inline bool StartsWithNoCaseAscii(std::string_view strText, std::string_view strPrefix) {
    return strText.size() >= strPrefix.size() &&
           EqualsNoCaseAscii(strText.substr(0, strPrefix.size()), strPrefix);
}

// strText in double quotes, with backslash escapes for the quote, the backslash, line
// feed, carriage return and tab; other control bytes as \u00XX when bControlsAsUnicode
// (JSON), else as they are.
std::string QuoteEscaped(std::string_view strText, bool bControlsAsUnicode);

// The whole text is an optional sign and at least one decimal digit, and the value lies
// in nMin..nMax. nValue is written only on success.
bool ParseDecimal(std::string_view strText, long long nMin, long long nMax, long long& nValue);

// ParseDecimal over the range of int.
bool ParseDecimalInt(std::string_view strText, int& nValue);

// Leading white space, an optional sign and the decimal digits that follow, as atoi reads
// them; anything after the digits is ignored, no digits give 0, and the value is clamped
// to nMin..nMax instead of overflowing.
long long ParseLeadingDecimal(std::string_view strText, long long nMin, long long nMax);
