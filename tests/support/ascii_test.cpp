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
    struct {
        const char* pszText;
        long long nMin, nMax;
        bool bOk;
        long long nValue;
    } cases[] = {
        {"10001", 1, 65535, true, 10001},
        {"+7", INT_MIN, INT_MAX, true, 7},
        {"-5", INT_MIN, INT_MAX, true, -5},
        {"-0", 0, 10, true, 0},
        {"2147483647", INT_MIN, INT_MAX, true, INT_MAX},
        {"-2147483648", INT_MIN, INT_MAX, true, INT_MIN},
        {"2147483648", INT_MIN, INT_MAX, false, 0},
        {"65536", 1, 65535, false, 0},
        {"0", 1, 65535, false, 0},
        {"-1", 0, 10, false, 0},
        {"99999999999999999999999", INT_MIN, INT_MAX, false, 0},
        {"18446744073709551620", INT_MIN, INT_MAX, false, 0}, // would wrap round to 4
        {"-9223372036854775808", LLONG_MIN, 0, true, LLONG_MIN},
        {"9223372036854775808", 0, LLONG_MAX, false, 0},
        {"", INT_MIN, INT_MAX, false, 0},
        {"-", INT_MIN, INT_MAX, false, 0},
        {" 5", INT_MIN, INT_MAX, false, 0},
        {"5 ", INT_MIN, INT_MAX, false, 0},
        {"1e3", INT_MIN, INT_MAX, false, 0},
        {"0x10", INT_MIN, INT_MAX, false, 0},
    };
    for (const auto& c : cases) {
        long long nValue = 12345;
        EXPECT_EQ(ParseDecimal(c.pszText, c.nMin, c.nMax, nValue), c.bOk) << c.pszText;
        EXPECT_EQ(nValue, c.bOk ? c.nValue : 12345) << c.pszText;
    }
}

TEST(Ascii, ParseLeadingDecimalReadsLikeAtoiAndClamps) {
    struct {
        const char* pszText;
        long long nValue;
    } cases[] = {
        {"42", 42},
        {"  \t17abc", 17},
        {"-3", -3},
        {"+8", 8},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"99999999999999999", INT_MAX},
        {"-99999999999999999", INT_MIN},
        {"18446744073709551620", INT_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLeadingDecimal(c.pszText, INT_MIN, INT_MAX), c.nValue) << c.pszText;
}
