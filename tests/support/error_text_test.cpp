#include "support/error_text.h"
#include "support/format.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

namespace {

const std::string kColon = "\xEF\xBC\x9A"; // the full-width colon, UTF-8 on this platform

TEST(ErrorText, PositiveCodesAreDecimalNegativeCodesAreEightHexDigits) {
    EXPECT_EQ(ComposeErrorText(10061, "refused"), "(10061)" + kColon + "refused");
    EXPECT_EQ(ComposeErrorText(0, "ok"), "(0)" + kColon + "ok");
    EXPECT_EQ(ComposeErrorText(-1, "x"), "(0xFFFFFFFF)" + kColon + "x");
    EXPECT_EQ(ComposeErrorText(static_cast<int>(0x8007000E), "y"), "(0x8007000E)" + kColon + "y");
}

TEST(ErrorText, LineBreakPairsBecomeOneBlankLoneBreaksStay) {
    EXPECT_EQ(ComposeErrorText(5, "line one\r\nline two\r\n"),
              "(5)" + kColon + "line one line two ");
    EXPECT_EQ(ComposeErrorText(5, "a\rb\nc"), "(5)" + kColon + "a\rb\nc");
    EXPECT_EQ(ComposeErrorText(5, ""), "(5)" + kColon);
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
}

TEST(ErrorText, ResolverCodesUseTheResolverTexts) {
    // Name lookups leave negative codes; they must not read as "Unknown error".
    std::string strText = GetErrorText(-2);
    EXPECT_EQ(strText.rfind("(0xFFFFFFFE)" + kColon, 0), 0u) << strText;
    EXPECT_EQ(strText.find("Unknown error"), std::string::npos) << strText;
}

TEST(FormatString, FormatsLongTextsToTheirExactLength) {
    std::string strLong(5000, 'x');
    std::string strText = FormatString("[%s]%d", strLong.c_str(), 42);
    EXPECT_EQ(strText.size(), 5004u);
    EXPECT_EQ(strText.substr(strText.size() - 3), "]42");
    EXPECT_EQ(FormatString("%.02fMB/s", 1.0), "1.00MB/s");
    EXPECT_EQ(FormatString("%s", ""), "");
}

TEST(FormatString, ABadFormatGivesAnEmptyResult) {
    const char* pszNull = nullptr;
    EXPECT_EQ(FormatString(pszNull), "");
}

TEST(TraceDebug, LineEndingRules) {
    EXPECT_EQ(MakeTraceLine(""), "");
    EXPECT_EQ(MakeTraceLine("pool empty"), "pool empty\r\n");
    EXPECT_EQ(MakeTraceLine("done\n"), "done\n");
    EXPECT_EQ(MakeTraceLine("done\r\n"), "done\r\n");
    EXPECT_EQ(MakeTraceLine("half\r"), "half\r\r\n");
}

TEST(TraceDebug, WritesOneLineToStandardError) {
    testing::internal::CaptureStderr();
    TraceDebug("pool %s %d", "grew to", 10);
    TraceDebug("%s", "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "pool grew to 10\r\n");
}

} // namespace
