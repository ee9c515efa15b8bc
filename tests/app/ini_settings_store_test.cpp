// The INI settings store against real files in a temporary folder.
#include "app/ini_settings_store.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& strPath, const std::string& strText) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strText;
}

int CountEntries(const std::string& strDir) {
    int n = 0;
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr)
        return -1;
    while (struct dirent* pEnt = readdir(pDir)) {
        if (std::string(pEnt->d_name) != "." && std::string(pEnt->d_name) != "..")
            ++n;
    }
    closedir(pDir);
    return n;
}

class IniSettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/tachyra-ini-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_strRoot = szTemplate;
        m_strDir = m_strRoot + "/tachyra";
        m_strPath = m_strDir + "/settings.ini";
    }
    void TearDown() override {
        std::string strCmd = "rm -rf '" + m_strRoot + "'";
        EXPECT_EQ(0, std::system(strCmd.c_str()));
    }
    std::string m_strRoot, m_strDir, m_strPath;
};

} // namespace

TEST_F(IniSettingsStore, MissingFileGivesDefaults) {
    CIniSettingsStore store(m_strPath);
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nListenPort", 10001));
    EXPECT_EQ("127.0.0.1", store.ReadString("Kestrun", "m_strServerAddr", "127.0.0.1"));
}

TEST_F(IniSettingsStore, WritesCreateTheFolderAndReadBack) {
    CIniSettingsStore store(m_strPath);
    ASSERT_TRUE(store.WriteInt("Kestrun", "m_nListenPort", 12345));
    ASSERT_TRUE(store.WriteInt("Kestrun", "m_nServerPort", 70000));
    ASSERT_TRUE(store.WriteString("Kestrun", "m_strServerAddr", "localhost"));
    ASSERT_TRUE(store.WriteString("Kestrun", "m_strType", "上传"));
    EXPECT_EQ("[Kestrun]\nm_nListenPort=12345\nm_nServerPort=70000\n"
              "m_strServerAddr=\"localhost\"\nm_strType=\"上传\"\n",
              ReadFile(m_strPath));
    CIniSettingsStore again(m_strPath);
    EXPECT_EQ(12345, again.ReadInt("Kestrun", "m_nListenPort", 1));
    EXPECT_EQ(70000, again.ReadInt("Kestrun", "m_nServerPort", 1));
    EXPECT_EQ("localhost", again.ReadString("Kestrun", "m_strServerAddr", ""));
    EXPECT_EQ("上传", again.ReadString("Kestrun", "m_strType", ""));
    // Only the settings file is left behind: no temporary file.
    EXPECT_EQ(1, CountEntries(m_strDir));
    struct stat st;
    ASSERT_EQ(0, stat(m_strDir.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777u);
}

TEST_F(IniSettingsStore, ValuesOfTheWrongKindGiveTheirDefaults) {
    ASSERT_EQ(0, mkdir(m_strDir.c_str(), 0700));
    WriteFile(m_strPath, "[Kestrun]\nm_nListenPort=abc\nm_nServerPort=\"7\"\nm_strType=\n");
    CIniSettingsStore store(m_strPath);
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nListenPort", 10001));
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nServerPort", 10001));
    // A present but empty string is a value, as an empty registry string would be.
    EXPECT_EQ("", store.ReadString("Kestrun", "m_strType", "下载"));
}

TEST_F(IniSettingsStore, DamagedFileGivesDefaultsAndIsReplacedByTheNextWrite) {
    ASSERT_EQ(0, mkdir(m_strDir.c_str(), 0700));
    WriteFile(m_strPath, std::string("\x7f"
                                     "ELF\x02\x01\x00\x00 [Kestrun]\nm_nListenPort=5\n",
                                     30));
    CIniSettingsStore store(m_strPath);
    EXPECT_EQ(10001, store.ReadInt("Kestrun", "m_nListenPort", 10001));
    EXPECT_EQ("下载", store.ReadString("Kestrun", "m_strType", "下载"));
    ASSERT_TRUE(store.WriteInt("Kestrun", "m_nListenPort", 10001));
    EXPECT_EQ("[Kestrun]\nm_nListenPort=10001\n", ReadFile(m_strPath));
}

TEST_F(IniSettingsStore, OtherSectionsSurviveAWrite) {
    ASSERT_EQ(0, mkdir(m_strDir.c_str(), 0700));
    WriteFile(m_strPath, "[Window]\nx=3\n[Kestrun]\nm_nListenPort=5\n");
    CIniSettingsStore store(m_strPath);
    ASSERT_TRUE(store.WriteInt("Kestrun", "m_nListenPort", 6));
    EXPECT_EQ("[Window]\nx=3\n\n[Kestrun]\nm_nListenPort=6\n", ReadFile(m_strPath));
}

TEST_F(IniSettingsStore, AFailedWriteLeavesTheOldFileWhole) {
    // A file size limit makes every write past a few bytes fail as a full disk would.
    // The limit is per process, so it is lifted again before the test ends.
    ASSERT_EQ(0, mkdir(m_strDir.c_str(), 0700));
    const std::string strOld = "[Kestrun]\nm_nListenPort=4242\nm_strType=\"上传\"\n";
    WriteFile(m_strPath, strOld);
    CIniSettingsStore store(m_strPath);

    struct rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    void (*pfnOld)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = old;
    tight.rlim_cur = 8;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &tight));
    bool bWritten = store.WriteInt("Kestrun", "m_nListenPort", 1);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, pfnOld);

    EXPECT_FALSE(bWritten);
    EXPECT_EQ(strOld, ReadFile(m_strPath));
    EXPECT_EQ(1, CountEntries(m_strDir)); // the temporary file is gone
    EXPECT_EQ(4242, store.ReadInt("Kestrun", "m_nListenPort", 10001));
}

TEST_F(IniSettingsStore, AFolderThatCannotBeMadeFailsTheWrite) {
    WriteFile(m_strDir, "a file where the folder should be");
    CIniSettingsStore store(m_strPath);
    EXPECT_FALSE(store.WriteInt("Kestrun", "m_nListenPort", 1));
    EXPECT_EQ("a file where the folder should be", ReadFile(m_strDir));
}

TEST(IniSettingsStorePath, FollowsXdgConfigHome) {
    std::string strOldXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    bool bHadXdg = std::getenv("XDG_CONFIG_HOME") != nullptr;
    std::string strOldHome = std::getenv("HOME") ? std::getenv("HOME") : "";

    setenv("XDG_CONFIG_HOME", "/x/conf/", 1);
    EXPECT_EQ("/x/conf/tachyra/settings.ini", CIniSettingsStore::DefaultPath("tachyra"));
    setenv("XDG_CONFIG_HOME", "relative/dir", 1); // relative paths are to be ignored
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ("/home/someone/.config/tachyra/settings.ini",
              CIniSettingsStore::DefaultPath("tachyra"));
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ("/home/someone/.config/app/settings.ini", CIniSettingsStore::DefaultPath("app"));

    if (bHadXdg)
        setenv("XDG_CONFIG_HOME", strOldXdg.c_str(), 1);
    setenv("HOME", strOldHome.c_str(), 1);
}
