#include "support/os_info.h"

#include <gtest/gtest.h>

namespace {

TEST(OSInfo, FileVersionParse) {
    // "6." is too short, "12345" has no dot, and of two translations standing one after
    // another only the front is read.
    const int versions[] = {603, 1000, 500, 601, 0, 0, 0, 1000};
    size_t i = 0;
    for (const char* pszText : {"6.3.9600.17415", "10.0.19041.1", "5.00.2195.6688", "6.1", "", "6.",
                                "12345", "10.0.1836210.0.18362"})
        EXPECT_EQ(ParseFileVersionNumber(pszText), versions[i++]) << pszText;
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
        {"5.0.2195.6688", 5, 0, 1, 0, false, false, 500, "2000", false, false, false},
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
        {"6.1.7601.17514", 6, 1, 3, 0, false, false, 601, "2008 r2", true, false, true},
        {"6.2.9200.16384", 6, 2, 1, 0, false, false, 602, "win8", false, false, true},
        {"6.2.9200.16384", 6, 2, 3, 0, false, false, 602, "2012", true, false, true},
        // A manifest-less program sees 6.2 on 8.1 and 10; the kernel's version wins.
        {"6.3.9600.17415", 6, 2, 1, 0, false, false, 603, "win8.1", false, false, true},
        {"6.3.9600.17415", 6, 2, 3, 0, false, false, 603, "2012 r2", true, false, true},
        {"10.0.19041.1", 6, 2, 1, 0, false, false, 1000, "win10", false, false, true},
        {"10.0.17763.1", 6, 2, 3, 0, false, false, 1000, "2016", true, false, false},
        // Compatibility mode: 601 kernel, GetVersionEx says 5.1.
        {"6.1.7601.17514", 5, 1, 1, 0, false, false, 1, "", false, false, false},
        // No kernel version text at all.
        {"", 6, 1, 1, 0, false, false, 1, "", false, false, false},
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
}

TEST(OSInfo, VersionExFailureIsReported) {
    OSInfo info;
    EXPECT_EQ(IdentifyOS(COSProbe{"10.0.19041.1", false, 10, 0}, info),
              EOSIdentifyResult::VersionExFailed);
    EXPECT_EQ(info.version, 0);
}

} // namespace
