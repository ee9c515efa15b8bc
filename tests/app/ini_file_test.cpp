// The INI text: parsing, what counts as damaged, and the round trip of values.
#include "app/ini_file.h"

#include <gtest/gtest.h>

TEST(IniFile, ParsesSectionsIntegersAndQuotedStrings) {
    CIniDocument doc;
    ASSERT_TRUE(doc.Parse("; comment\n[Kestrun]\nm_nListenPort=10002\n"
                          "m_strServerAddr=\"10.0.0.1\"\r\n\n[Other]\nx = plain text \n"));
    std::string strValue;
    bool bQuoted = true;
    ASSERT_TRUE(doc.GetValue("Kestrun", "m_nListenPort", strValue, &bQuoted));
    EXPECT_EQ("10002", strValue);
    EXPECT_FALSE(bQuoted);
    ASSERT_TRUE(doc.GetValue("kestrun", "M_STRSERVERADDR", strValue, &bQuoted));
    EXPECT_EQ("10.0.0.1", strValue);
    EXPECT_TRUE(bQuoted);
    ASSERT_TRUE(doc.GetValue("Other", "x", strValue));
    EXPECT_EQ("plain text", strValue);
    EXPECT_FALSE(doc.GetValue("Kestrun", "x", strValue));
}

TEST(IniFile, RejectsDamagedText) {
    CIniDocument doc;
    for (const std::string& strText :
         {std::string("[Kestrun]\nm_nListenPort=1\0\n", 27), std::string("[Kestrun]\ngarbage\n"),
          std::string("m_nListenPort=1\n[Kestrun]\n"), std::string("[Kestrun\nm_nListenPort=1\n"),
          std::string("[Kestrun]\nm_strType=\"abc\n"),
          std::string("[Kestrun]\nm_strType=\"a\\qb\"\n"), std::string("[Kestrun]\n=1\n")}) {
        ASSERT_TRUE(doc.Parse("[A]\nk=1\n"));
        EXPECT_FALSE(doc.Parse(strText)) << strText;
        EXPECT_TRUE(doc.Empty()) << strText;
    }
    EXPECT_TRUE(doc.Parse(""));
}

TEST(IniFile, StringsRoundTripExactlyAndSettingAValueReplacesIt) {
    const std::string strOdd = "  下载 \"q\" back\\slash\ttab\nline  ";
    CIniDocument doc;
    ASSERT_TRUE(doc.Parse("[A]\nk=1\n[Kestrun]\nm_nListenPort=1\n"));
    doc.SetInt("KESTRUN", "m_nlistenport", -7);
    EXPECT_EQ("[A]\nk=1\n\n[Kestrun]\nm_nListenPort=-7\n", doc.Serialize());
    doc.SetString("Kestrun", "m_strType", strOdd);
    CIniDocument again;
    ASSERT_TRUE(again.Parse(doc.Serialize()));
    std::string strValue;
    ASSERT_TRUE(again.GetValue("Kestrun", "m_strType", strValue));
    EXPECT_EQ(strOdd, strValue);
}

TEST(IniFile, IntegersAreDecimalInTheRangeOfInt) {
    for (const char* psz : {"2147483648", "0x10", "12a", "", "-"}) {
        int n = 0;
        EXPECT_FALSE(ParseIniInt(psz, n)) << psz;
    }
    for (int nValue : {65536, -1, -5, 2147483647}) {
        int n = 0;
        EXPECT_TRUE(ParseIniInt(std::to_string(nValue), n));
        EXPECT_EQ(nValue, n);
    }
}
