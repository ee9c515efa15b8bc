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
    EXPECT_FALSE(doc.Parse(std::string("[Kestrun]\nm_nListenPort=1\0\n", 27)));
    EXPECT_FALSE(doc.Parse("[Kestrun]\ngarbage line\n"));
    EXPECT_FALSE(doc.Parse("m_nListenPort=1\n[Kestrun]\n"));
    EXPECT_FALSE(doc.Parse("[Kestrun\nm_nListenPort=1\n"));
    EXPECT_FALSE(doc.Parse("[Kestrun]\nm_strType=\"abc\n"));
    EXPECT_FALSE(doc.Parse("[Kestrun]\nm_strType=\"a\\qb\"\n"));
    EXPECT_FALSE(doc.Parse("[Kestrun]\n=1\n"));
    EXPECT_TRUE(doc.Empty());
    EXPECT_TRUE(doc.Parse(""));
}

TEST(IniFile, StringsRoundTripExactly) {
    const std::string strOdd = "  下载 \"q\" back\\slash\ttab\nline  ";
    CIniDocument doc;
    doc.SetString("Kestrun", "m_strType", strOdd);
    doc.SetInt("Kestrun", "m_nServerPort", -5);
    CIniDocument again;
    ASSERT_TRUE(again.Parse(doc.Serialize()));
    std::string strValue;
    ASSERT_TRUE(again.GetValue("Kestrun", "m_strType", strValue));
    EXPECT_EQ(strOdd, strValue);
    ASSERT_TRUE(again.GetValue("Kestrun", "m_nServerPort", strValue));
    EXPECT_EQ("-5", strValue);
}

TEST(IniFile, SettingAnExistingValueReplacesIt) {
    CIniDocument doc;
    ASSERT_TRUE(doc.Parse("[A]\nk=1\n[Kestrun]\nm_nListenPort=1\n"));
    doc.SetInt("KESTRUN", "m_nlistenport", 7);
    EXPECT_EQ("[A]\nk=1\n\n[Kestrun]\nm_nListenPort=7\n", doc.Serialize());
}

TEST(IniFile, IntegersAreDecimalInTheRangeOfInt) {
    int n = 0;
    EXPECT_TRUE(ParseIniInt("65536", n));
    EXPECT_EQ(65536, n);
    EXPECT_TRUE(ParseIniInt("-1", n));
    EXPECT_EQ(-1, n);
    EXPECT_TRUE(ParseIniInt("2147483647", n));
    EXPECT_FALSE(ParseIniInt("2147483648", n));
    EXPECT_FALSE(ParseIniInt("0x10", n));
    EXPECT_FALSE(ParseIniInt("12a", n));
    EXPECT_FALSE(ParseIniInt("", n));
    EXPECT_FALSE(ParseIniInt("-", n));
}
