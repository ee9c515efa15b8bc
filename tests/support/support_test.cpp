// The support library's pure parts: ASCII case folding and decimal parsing, error and
// trace texts, accept failures, process paths, addresses shown to other devices and the
// Windows release gate.
#include "support/accept_errors.h"
#include "support/ascii.h"
#include "support/error_text.h"
#include "support/format.h"
#include "support/os_info.h"
#include "support/process_paths.h"
#include "support/socket_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <tuple>

// The one home of case folding and decimal parsing, with the readings each caller relies
// on: strict whole-text numbers for settings and dialogs, atoi-like prefixes for HTTP.
// Further cases through their callers: pane names, INI keys, the stored type's prefix.
TEST(Ascii, CaseFoldingTouchesOnlyAsciiLetters) {
    EXPECT_FALSE(EqualsNoCaseAscii("\xC3\x89", "\xC3\xA9")); // É and é differ outside ASCII
    EXPECT_TRUE(StartsWithNoCaseAscii("Download", "down"));
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

const std::string kColon = "："; // full width; UTF-8 on this platform

TEST(ErrorText, DecimalOrHexCodesAndLineBreakPairsAsOneBlank) {
    const std::tuple<int, const char*, const char*> rows[] = {
        {10061, "refused", "(10061)：refused"},
        {-1, "x", "(0xFFFFFFFF)：x"},
        {static_cast<int>(0x8007000E), "y", "(0x8007000E)：y"},
        {5, "line one\r\nline two\r\n", "(5)：line one line two "},
        {5, "a\rb\nc", "(5)：a\rb\nc"}}; // lone breaks stay
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

TEST(TraceDebug, OneLineEachToStandardErrorEndedByCrLfUnlessItEnds) {
    testing::internal::CaptureStderr();
    TraceDebug("pool %s %d", "grew to", 10);
    TraceDebug("%s", "");
    for (const char* psz : {"done\n", "done\r\n", "half\r"})
        TraceDebug("%s", psz);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "pool grew to 10\r\ndone\ndone\r\nhalf\r\r\n");
}

// Which accept failures pause the server and which end it, in both platforms' codes.
TEST(AcceptErrors, ShortagesAndOneFailedConnectionPassOthersEndTheRun) {
    for (int nError : {EMFILE, ENFILE, ENOBUFS, ENOMEM, ECONNABORTED, EPROTO, EPERM, EINTR})
        EXPECT_TRUE(IsTransientAcceptErrorPosix(nError)) << nError;
    for (int nError : {EBADF, EINVAL, ENOTSOCK, EOPNOTSUPP, EFAULT})
        EXPECT_FALSE(IsTransientAcceptErrorPosix(nError)) << nError;
    // WSAEMFILE, WSAENOBUFS, WSAECONNRESET, WSAECONNABORTED, WSAEINTR
    for (int nError : {10024, 10055, 10054, 10053, 10004})
        EXPECT_TRUE(IsTransientAcceptErrorWinsock(nError)) << nError;
    // WSAENOTSOCK, WSAEINVAL, WSAENETDOWN, WSAEOPNOTSUPP, WSANOTINITIALISED
    for (int nError : {10038, 10022, 10050, 10045, 10093})
        EXPECT_FALSE(IsTransientAcceptErrorWinsock(nError)) << nError;
}

// Applied to the running program's path by GetProcessDirectory (files beside tachyra-cli:
// cli_server_test.py) and GetProcessBaseName (the settings folder: the window tests).
TEST(ProcessPaths, DirectoryKeepsTheLastSeparatorAndBaseNameDropsTheLastExtension) {
    const std::tuple<const char*, char, const char*, const char*> rows[] = {
        {"C:\\Tools\\Tachyra.exe", '\\', "C:\\Tools\\", "Tachyra"},
        {"C:\\Tools\\tachyra.v2.exe", '\\', "C:\\Tools\\", "tachyra.v2"},
        {"/usr/bin/tachyra", '/', "/usr/bin/", "tachyra"},
        {"tachyra.exe", '\\', "tachyra.exe", ""},
        {"/opt/app/", '/', "/opt/app/", ""},
        {"", '/', "", ""}};
    for (const auto& [pszPath, cSep, pszDir, pszBase] : rows) {
        EXPECT_EQ(ProcessDirectoryOf(pszPath, cSep), pszDir) << pszPath;
        EXPECT_EQ(ProcessBaseNameOf(pszPath, cSep), pszBase) << pszPath;
    }
}

// Which interface addresses are shown to other devices, in what order and form.
TEST(ShareableHosts, NetworkAddressesIpv4FirstOrTheOneListenedOn) {
    const std::vector<std::string> ifs = {"::1",      "fe80::1", "fd00::1",         "10.9.0.1",
                                          "10.9.0.1", "ff02::1", "::ffff:10.9.9.9", "127.0.0.1"};
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {"10.9.0.1", "10.9.9.9", "[fd00::1]"}},
        {"0.0.0.0", {"10.9.0.1", "10.9.9.9"}},
        {"[::1]", {"[::1]"}},
        {"bogus", {}}};
    for (const auto& [pszListen, hosts] : cases)
        EXPECT_EQ(ShareableHosts(pszListen, ifs), hosts) << pszListen;
}

TEST(OSInfo, IdentifiesReleasesAndGatesThem) {
    const struct {
        const char* pszKernel;
        int nMajor, nMinor, nProductType, nArch;
        bool bWow64, bR2;
        int nVersion;
        const char* pszName;
        bool bServer, bIs64, bSupported;
    } rows[] = {
        // kernel text, GetVersionEx, product type, arch, wow64, R2 -> version, name, server, 64, ok
        {"5.00.2195.6688", 5, 0, 3, 0, false, false, 500, "2000", false, false, false},
        {"5.1.2600.5512", 5, 1, 1, 0, false, false, 501, "xp", false, false, true},
        {"5.1.2600.5512", 5, 1, 1, 0, true, false, 501, "xp", false, true, false},
        {"5.2.3790.3959", 5, 2, 1, 9, false, false, 502, "xp", false, true, false},
        {"5.2.3790.3959", 5, 2, 3, 0, false, false, 502, "2003", true, false, true},
        {"5.2.3790.3959", 5, 2, 3, 0, false, true, 502, "2003 r2", true, false, true},
        {"5.2.3790.3959", 5, 2, 3, 0, true, false, 502, "2003", true, true, false},
        {"6.0.6002.18005", 6, 0, 1, 0, false, false, 600, "vista", false, false, false},
        {"6.0.6002.18005", 6, 0, 3, 0, false, false, 600, "2008", true, false, true},
        {"6.0.6002.18005", 6, 0, 3, 0, true, false, 600, "2008", true, true, false},
        {"6.1.7601.17514", 6, 1, 1, 0, true, false, 601, "win7", false, true, true},
        {"6.1", 6, 1, 3, 0, false, false, 601, "2008 r2", true, false, true},
        {"6.2.9200.16384", 6, 2, 1, 0, false, false, 602, "win8", false, false, true},
        {"6.2.9200.16384", 6, 2, 3, 0, false, false, 602, "2012", true, false, true},
        // A manifest-less program sees 6.2 on 8.1 and 10; the kernel's version wins.
        {"6.3.9600.17415", 6, 2, 1, 0, false, false, 603, "win8.1", false, false, true},
        {"6.3.9600.17415", 6, 2, 3, 0, false, false, 603, "2012 r2", true, false, true},
        // Of two translations standing one after another only the front is read.
        {"10.0.1836210.0.18362", 6, 2, 1, 0, false, false, 1000, "win10", false, false, true},
        {"10.0.17763.1", 6, 2, 3, 0, false, false, 1000, "2016", true, false, false},
        // Compatibility mode: 601 kernel, GetVersionEx says 5.1.
        {"6.1.7601.17514", 5, 1, 1, 0, false, false, 1, "", false, false, false},
        // No kernel version text, or one too short or without a dot, reads as none.
        {"", 6, 1, 1, 0, false, false, 1, "", false, false, false},
        {"6.", 6, 0, 1, 0, false, false, 1, "", false, false, false},
        {"12345", 6, 1, 1, 0, false, false, 1, "", false, false, false},
        // A release outside the table.
        {"6.4.9841.0", 6, 2, 1, 0, false, false, 604, "", false, false, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows) << ", kernel " << r.pszKernel);
        const COSProbe probe{r.pszKernel,    true,    r.nMajor, r.nMinor,
                             r.nProductType, r.nArch, r.bR2,    r.bWow64};
        OSInfo info;
        ASSERT_EQ(IdentifyOS(probe, info), EOSIdentifyResult::Ok);
        EXPECT_EQ(info.version, r.nVersion);
        EXPECT_EQ(info.name, r.pszName);
        EXPECT_EQ(info.isServer, r.bServer);
        EXPECT_EQ(info.is64Bit, r.bIs64);
        EXPECT_EQ(IsSupportedOS(info), r.bSupported);
    }
    OSInfo info;
    EXPECT_EQ(IdentifyOS(COSProbe{"10.0.19041.1", false, 10, 0}, info),
              EOSIdentifyResult::VersionExFailed);
    EXPECT_EQ(info.version, 0);
}
