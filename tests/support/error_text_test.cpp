#include "support/error_text.h"
#include "support/format.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

namespace {

const std::string kColon = "："; // full width; UTF-8 on this platform

TEST(ErrorText, DecimalOrHexCodesAndLineBreakPairsAsOneBlank) {
    const std::tuple<int, const char*, const char*> rows[] = {
        {10061, "refused", "(10061)：refused"},
        {0, "ok", "(0)：ok"},
        {-1, "x", "(0xFFFFFFFF)：x"},
        {static_cast<int>(0x8007000E), "y", "(0x8007000E)：y"},
        {5, "line one\r\nline two\r\n", "(5)：line one line two "},
        {5, "a\rb\nc", "(5)：a\rb\nc"}, // lone breaks stay
        {5, "", "(5)："}};
    for (const auto& [nCode, pszText, pszExpected] : rows)
        EXPECT_EQ(ComposeErrorText(nCode, pszText), pszExpected);
}

TEST(ErrorText, CodeZeroTakesTheLastErrorAndLeavesItInPlace) {
    errno = ECONNREFUSED;
    std::string strText = GetErrorText(0);
    EXPECT_EQ(strText.rfind("(" + std::to_string(ECONNREFUSED) + ")" + kColon, 0), 0u) << strText;
    EXPECT_GT(strText.size(), std::to_string(ECONNREFUSED).size() + 2 + kColon.size());
    EXPECT_EQ(errno, ECONNREFUSED);
    errno = 0;
    strText = GetErrorText(0);
    EXPECT_EQ(strText.rfind("(0)" + kColon, 0), 0u) << strText;
    // Name lookups leave negative codes; they must not read as "Unknown error".
    strText = GetErrorText(-2);
    EXPECT_EQ(strText.rfind("(0xFFFFFFFE)" + kColon, 0), 0u) << strText;
    EXPECT_EQ(strText.find("Unknown error"), std::string::npos) << strText;
}

TEST(FormatString, ExactLengthsAndANullFormatGivesNothing) {
    const std::string strLong(5000, 'x');
    EXPECT_EQ(FormatString("[%s]%d", strLong.c_str(), 42), "[" + strLong + "]42");
    EXPECT_EQ(FormatString("%s", ""), "");
    const char* pszNull = nullptr;
    EXPECT_EQ(FormatString(pszNull), "");
}

TEST(TraceDebug, LineEndingsAndOneLineToStandardError) {
    EXPECT_EQ(MakeTraceLine(""), "");
    EXPECT_EQ(MakeTraceLine("pool empty"), "pool empty\r\n");
    EXPECT_EQ(MakeTraceLine("done\n"), "done\n");
    EXPECT_EQ(MakeTraceLine("done\r\n"), "done\r\n");
    EXPECT_EQ(MakeTraceLine("half\r"), "half\r\r\n");
    testing::internal::CaptureStderr();
    TraceDebug("pool %s %d", "grew to", 10);
    TraceDebug("%s", "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "pool grew to 10\r\n");
}

} // namespace
