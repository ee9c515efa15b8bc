#include "support/os_info.h"

#include <gtest/gtest.h>

namespace {

COSProbe Probe(const char* pszKernel, int nMajor, int nMinor, int nProductType = 1,
               bool bWow64 = false, int nArch = 0, bool bR2 = false) {
    COSProbe probe;
    probe.strKernel32Version = pszKernel;
    probe.nMajor = nMajor;
    probe.nMinor = nMinor;
    probe.nProductType = nProductType;
    probe.bWow64 = bWow64;
    probe.nProcessorArchitecture = nArch;
    probe.bServerR2 = bR2;
    return probe;
}

OSInfo Identify(const COSProbe& probe) {
    OSInfo info;
    EXPECT_EQ(IdentifyOS(probe, info), EOSIdentifyResult::Ok);
    return info;
}

TEST(OSInfo, FileVersionParse) {
    EXPECT_EQ(ParseFileVersionNumber("6.3.9600.17415"), 603);
    EXPECT_EQ(ParseFileVersionNumber("10.0.19041.1"), 1000);
    EXPECT_EQ(ParseFileVersionNumber("5.00.2195.6688"), 500);
    EXPECT_EQ(ParseFileVersionNumber("6.1.7601.17514"), 601);
    EXPECT_EQ(ParseFileVersionNumber("6.1"), 601);
    EXPECT_EQ(ParseFileVersionNumber(""), 0);
    EXPECT_EQ(ParseFileVersionNumber("6."), 0);    // shorter than 3 characters
    EXPECT_EQ(ParseFileVersionNumber("12345"), 0); // no dot
    // Two translations stand one after another; only the front is read.
    EXPECT_EQ(ParseFileVersionNumber("10.0.1836210.0.18362"), 1000);
}

struct CRow {
    const char* pszKernel;
    int nMajor, nMinor, nProductType;
    bool bWow64;
    int nArch;
    bool bR2;
    int nVersion;
    const char* pszName;
    bool bServer, bIs64, bSupported;
};

// Shown in test names and failures instead of the row's raw bytes.
void PrintTo(const CRow& r, std::ostream* pOut) {
    *pOut << "kernel '" << r.pszKernel << "' reports " << r.nMajor << "." << r.nMinor << " type "
          << r.nProductType << (r.bWow64 ? " wow64" : "") << (r.nArch == 9 ? " amd64" : "")
          << (r.bR2 ? " r2" : "");
}

class OSInfoRows : public testing::TestWithParam<CRow> {};

TEST_P(OSInfoRows, IdentifiesAndGates) {
    const CRow& r = GetParam();
    OSInfo info =
        Identify(Probe(r.pszKernel, r.nMajor, r.nMinor, r.nProductType, r.bWow64, r.nArch, r.bR2));
    EXPECT_EQ(info.version, r.nVersion);
    EXPECT_EQ(info.name, r.pszName);
    EXPECT_EQ(info.isServer, r.bServer);
    EXPECT_EQ(info.is64Bit, r.bIs64);
    EXPECT_EQ(IsSupportedOS(info), r.bSupported);
}

INSTANTIATE_TEST_SUITE_P(
    Releases, OSInfoRows,
    testing::Values(
        // kernel text, GetVersionEx, product type, wow64, arch, R2 -> version, name, server, 64, ok
        CRow{"5.0.2195.6688", 5, 0, 1, false, 0, false, 500, "2000", false, false, false},
        CRow{"5.00.2195.6688", 5, 0, 3, false, 0, false, 500, "2000", false, false, false},
        CRow{"5.1.2600.5512", 5, 1, 1, false, 0, false, 501, "xp", false, false, true},
        CRow{"5.1.2600.5512", 5, 1, 1, true, 0, false, 501, "xp", false, true, false},
        CRow{"5.2.3790.3959", 5, 2, 1, false, 9, false, 502, "xp", false, true, false},
        CRow{"5.2.3790.3959", 5, 2, 3, false, 0, false, 502, "2003", true, false, true},
        CRow{"5.2.3790.3959", 5, 2, 3, false, 0, true, 502, "2003 r2", true, false, true},
        CRow{"5.2.3790.3959", 5, 2, 3, true, 0, false, 502, "2003", true, true, false},
        CRow{"6.0.6002.18005", 6, 0, 1, false, 0, false, 600, "vista", false, false, false},
        CRow{"6.0.6002.18005", 6, 0, 3, false, 0, false, 600, "2008", true, false, true},
        CRow{"6.0.6002.18005", 6, 0, 3, true, 0, false, 600, "2008", true, true, false},
        CRow{"6.1.7601.17514", 6, 1, 1, true, 0, false, 601, "win7", false, true, true},
        CRow{"6.1.7601.17514", 6, 1, 3, false, 0, false, 601, "2008 r2", true, false, true},
        CRow{"6.2.9200.16384", 6, 2, 1, false, 0, false, 602, "win8", false, false, true},
        CRow{"6.2.9200.16384", 6, 2, 3, false, 0, false, 602, "2012", true, false, true},
        // A manifest-less program sees 6.2 on 8.1 and 10; the kernel's version wins.
        CRow{"6.3.9600.17415", 6, 2, 1, false, 0, false, 603, "win8.1", false, false, true},
        CRow{"6.3.9600.17415", 6, 2, 3, false, 0, false, 603, "2012 r2", true, false, true},
        CRow{"10.0.19041.1", 6, 2, 1, false, 0, false, 1000, "win10", false, false, true},
        CRow{"10.0.17763.1", 6, 2, 3, false, 0, false, 1000, "2016", true, false, false},
        // Compatibility mode: 601 kernel, GetVersionEx says 5.1.
        CRow{"6.1.7601.17514", 5, 1, 1, false, 0, false, 1, "", false, false, false},
        // No kernel version text at all.
        CRow{"", 6, 1, 1, false, 0, false, 1, "", false, false, false},
        // A release outside the table.
        CRow{"6.4.9841.0", 6, 2, 1, false, 0, false, 604, "", false, false, false}));

TEST(OSInfo, VersionExFailureIsReported) {
    COSProbe probe = Probe("10.0.19041.1", 10, 0);
    probe.bVersionExOk = false;
    OSInfo info;
    EXPECT_EQ(IdentifyOS(probe, info), EOSIdentifyResult::VersionExFailed);
    EXPECT_EQ(info.version, 0);
}

TEST(OSInfo, IdentificationHappensOnce) {
    OSInfo info = Identify(Probe("6.1.7601.17514", 6, 1));
    ASSERT_EQ(info.version, 601);
    EXPECT_EQ(IdentifyOS(Probe("10.0.19041.1", 10, 0), info), EOSIdentifyResult::Ok);
    EXPECT_EQ(info.version, 601);
    EXPECT_EQ(info.name, "win7");
}

TEST(OSInfo, ReleasePredicates) {
    OSInfo win8 = Identify(Probe("6.2.9200.16384", 6, 2, 1));
    OSInfo server2012 = Identify(Probe("6.2.9200.16384", 6, 2, 3));
    OSInfo win10 = Identify(Probe("10.0.19041.1", 10, 0, 1));
    EXPECT_TRUE(IsWin8(win8));
    EXPECT_FALSE(IsServer2012(win8));
    EXPECT_TRUE(IsServer2012(server2012));
    EXPECT_FALSE(IsWin8(server2012));
    EXPECT_TRUE(IsWin10(win10));
    EXPECT_FALSE(IsWin10(server2012));
}

TEST(OSInfo, FatalTexts) {
    EXPECT_STREQ(kUnsupportedOSText, "不支持该操作系统(GTC)");
    EXPECT_STREQ(kInitOSInfoFailedText, "InitOSInfo失败");
    EXPECT_STREQ(kFatalStopCaption, "(((m -_-)");
}

} // namespace
