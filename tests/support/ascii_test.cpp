// The one home of case folding and decimal parsing, with the readings each caller relies
// on: strict whole-text numbers for settings and dialogs, atoi-like prefixes for HTTP.
#include "support/ascii.h"

#include <gtest/gtest.h>

#include <climits>

TEST(Ascii, CaseFoldingTouchesOnlyAsciiLetters) {
    EXPECT_TRUE(EqualsNoCaseAscii("Content-LENGTH", "content-length"));
    EXPECT_TRUE(EqualsNoCaseAscii("", ""));
    EXPECT_FALSE(EqualsNoCaseAscii("ab", "abc"));
    EXPECT_FALSE(EqualsNoCaseAscii("\xC3\x89", "\xC3\xA9")); // É and é differ outside ASCII
    EXPECT_TRUE(StartsWithNoCaseAscii("Download", "down"));
    EXPECT_TRUE(StartsWithNoCaseAscii("下载", "下"));
    EXPECT_FALSE(StartsWithNoCaseAscii("上传", "下"));
    EXPECT_FALSE(StartsWithNoCaseAscii("do", "down"));
}

TEST(Ascii, ParseDecimalTakesOnlyWholeNumbersInRange) {
    const auto check = [](const char* pszText, long long nMin, long long nMax, bool bOk,
                          long long nExpected) {
        long long nValue = 12345;
        EXPECT_EQ(ParseDecimal(pszText, nMin, nMax, nValue), bOk) << pszText;
        EXPECT_EQ(nValue, bOk ? nExpected : 12345) << pszText; // untouched when refused
    };
    const long long values[] = {7, -5, INT_MAX, INT_MIN};
    size_t i = 0;
    for (const char* pszText : {"+7", "-5", "2147483647", "-2147483648"})
        check(pszText, INT_MIN, INT_MAX, true, values[i++]);
    // 18446744073709551620 would wrap round to 4 in 64 bits.
    for (const char* pszText : {"2147483648", "99999999999999999999999", "18446744073709551620", "",
                                "-", " 5", "5 ", "1e3", "0x10"})
        check(pszText, INT_MIN, INT_MAX, false, 0);
    check("10001", 1, 65535, true, 10001);
    check("65536", 1, 65535, false, 0);
    check("0", 1, 65535, false, 0);
    check("-0", 0, 10, true, 0);
    check("-1", 0, 10, false, 0);
    check("-9223372036854775808", LLONG_MIN, 0, true, LLONG_MIN);
    check("9223372036854775808", 0, LLONG_MAX, false, 0);
}

TEST(Ascii, ParseLeadingDecimalReadsLikeAtoiAndClamps) {
    const long long values[] = {42, 17, -3, 8, 0, 0, 0, INT_MAX, INT_MIN, INT_MAX};
    size_t i = 0;
    for (const char* pszText : {"42", "  \t17abc", "-3", "+8", "abc", "", "- 5",
                                "99999999999999999", "-99999999999999999", "18446744073709551620"})
        EXPECT_EQ(ParseLeadingDecimal(pszText, INT_MIN, INT_MAX), values[i++]) << pszText;
}
