// The INI text (parsing, what counts as damaged, the round trip of values) and the settings
// store against real files in a temporary folder. The file's text and its round trip through
// the program are checked by the window scenarios; here, what they cannot see.
#include "app/ini_file.h"
#include "app/ini_settings_store.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct IniSettingsStore : ::testing::Test {
    void SetUp() override {
        std::string strTemplate = (fs::temp_directory_path() / "tachyra-ini-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(strTemplate.data()));
        m_root = strTemplate;
        m_dir = m_root / "tachyra";
        m_path = m_dir / "settings.ini";
    }
    void TearDown() override { fs::remove_all(m_root); }
    // The settings file now holds this text.
    void Seed(const std::string& strText) { std::ofstream(m_path, std::ios::binary) << strText; }
    // Files in the settings folder: 1 means no temporary file was left behind.
    long Entries() { return std::distance(fs::directory_iterator(m_dir), {}); }
    fs::path m_root, m_dir, m_path;
};

TEST_F(IniSettingsStore, DamagedFilesAndValuesOfTheWrongKindGiveDefaults) {
    CIniSettingsStore store(m_path.string());
    // The first write makes a private folder and leaves no temporary file.
    ASSERT_TRUE(store.WriteString("Kestrun", "m_strType", "上传"));
    EXPECT_EQ(1, Entries());
    EXPECT_EQ(fs::perms::owner_all, fs::status(m_dir).permissions());
    // A damaged file reads as defaults and the next write replaces it.
    Seed(std::string("\x7f"
                     "ELF\x02\x01\x00\x00 [Kestrun]\nm_nListenPort=5\n",
                     30));
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nListenPort", 10001));
    ASSERT_TRUE(store.WriteInt("Kestrun", "m_nListenPort", 10001));
    EXPECT_EQ("[Kestrun]\nm_nListenPort=10001\n", ReadFile(m_path));

    Seed("[Window]\nx=3\n[Kestrun]\nm_nListenPort=abc\nm_nServerPort=\"7\"\nm_strType=\n");
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nListenPort", 10001));
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nServerPort", 10001));
    // A present but empty string is a value, as an empty registry string would be.
    EXPECT_EQ("", store.ReadString("Kestrun", "m_strType", "下载"));
    // Other sections survive a write.
    Seed("[Window]\nx=3\n[Kestrun]\nm_nListenPort=5\n");
    ASSERT_TRUE(store.WriteInt("Kestrun", "m_nListenPort", 6));
    EXPECT_EQ("[Window]\nx=3\n\n[Kestrun]\nm_nListenPort=6\n", ReadFile(m_path));
}

TEST_F(IniSettingsStore, FailedWritesReportItAndLeaveTheOldFileWhole) {
    // A file size limit makes every write past a few bytes fail as a full disk would.
    // The limit is per process, so it is lifted again at once.
    const std::string strOld = "[Kestrun]\nm_nListenPort=4242\nm_strType=\"上传\"\n";
    fs::create_directory(m_dir);
    Seed(strOld);
    CIniSettingsStore store(m_path.string());
    struct rlimit old, tight;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    void (*pfnOld)(int) = std::signal(SIGXFSZ, SIG_IGN);
    tight = old;
    tight.rlim_cur = 8;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &tight));
    bool bWritten = store.WriteInt("Kestrun", "m_nListenPort", 1);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, pfnOld);

    EXPECT_FALSE(bWritten);
    EXPECT_EQ(strOld, ReadFile(m_path));
    EXPECT_EQ(1, Entries());
    EXPECT_EQ(4242, store.ReadInt("Kestrun", "m_nListenPort", 10001));
    // A folder that cannot be made fails the write too.
    std::ofstream(m_root / "blocked") << "a file where the folder should be";
    CIniSettingsStore blocked((m_root / "blocked" / "settings.ini").string());
    EXPECT_FALSE(blocked.WriteInt("Kestrun", "m_nListenPort", 1));
    EXPECT_EQ("a file where the folder should be", ReadFile(m_root / "blocked"));
}

// The variables are this test process's own; nothing else in it reads them.
TEST(IniSettingsStorePath, FollowsXdgConfigHome) {
    setenv("XDG_CONFIG_HOME", "/x/conf/", 1);
    EXPECT_EQ("/x/conf/tachyra/settings.ini", CIniSettingsStore::DefaultPath("tachyra"));
    setenv("XDG_CONFIG_HOME", "relative/dir", 1); // relative paths are to be ignored
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ("/home/someone/.config/tachyra/settings.ini",
              CIniSettingsStore::DefaultPath("tachyra"));
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ("/home/someone/.config/app/settings.ini", CIniSettingsStore::DefaultPath("app"));
}

TEST(IniFile, ParsesSectionsIntegersAndQuotedStringsAndRoundTripsThem) {
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
    // Setting a value replaces it, and strings round trip exactly.
    ASSERT_TRUE(doc.Parse("[A]\nk=1\n[Kestrun]\nm_nListenPort=1\n"));
    doc.SetInt("KESTRUN", "m_nlistenport", -7);
    EXPECT_EQ("[A]\nk=1\n\n[Kestrun]\nm_nListenPort=-7\n", doc.Serialize());
    const std::string strOdd = "  下载 \"q\" back\\slash\ttab\nline  ";
    doc.SetString("Kestrun", "m_strType", strOdd);
    CIniDocument again;
    ASSERT_TRUE(again.Parse(doc.Serialize()));
    ASSERT_TRUE(again.GetValue("Kestrun", "m_strType", strValue));
    EXPECT_EQ(strOdd, strValue);
}

TEST(IniFile, RejectsDamagedText) {
    CIniDocument doc;
    for (const std::string& strText :
         {std::string("[Kestrun]\nm_nListenPort=1\0\n", 27), std::string("[Kestrun]\ngarbage\n"),
          std::string("m_nListenPort=1\n[Kestrun]\n"), std::string("[Kestrun\nm_nListenPort=1\n"),
          std::string("[Kestrun]\nm_strType=\"abc\n"),
          std::string("[Kestrun]\nm_strType=\"a\\qb\"\n"), std::string("[Kestrun]\n=1\n")})
        EXPECT_FALSE(doc.Parse(strText)) << strText;
    EXPECT_TRUE(doc.Parse(""));
}
