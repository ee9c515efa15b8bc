// tachyra.exe under Wine, driven from a second Win32 program as a user would drive it,
// with native peers (tachyra-cli) next to it. One Xvfb display and one fresh Wine prefix
// serve the whole suite; every wait is bounded.
#include "testkit/window_scenarios.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

using std::chrono::seconds;
using CLines = std::vector<std::string>;

const std::string kBuild = TACHYRA_WINDOWS_BUILD_DIR;
const std::string kTachyra = kBuild + "/app/win32/tachyra.exe";
const std::string kChinese = "zh_CN.UTF-8", kEnglish = "C.UTF-8";

// The display and the Wine prefix the suite runs in.
class CWineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_strError = Prepare(); }
    void TearDown() override {
        for (const char* pszArg : {"-k", "-w"}) {
            CChildProcess server;
            if (!m_strPrefix.empty() && server.Start({"wineserver", pszArg}, Env(kEnglish), false))
                server.Wait(seconds(30));
        }
        std::error_code ec; // also when there is no prefix
        std::filesystem::remove_all(m_strPrefix, ec);
        m_display.Stop();
    }
    std::map<std::string, std::string> Env(const std::string& strLang) const {
        return {{"WINEPREFIX", m_strPrefix},
                {"WINEDEBUG", "-all"},
                {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                {"DISPLAY", m_display.Name()},
                {"LANG", strLang},
                {"LC_ALL", strLang},
                {"PATH", "/usr/lib/wine:/usr/bin:/bin"}};
    }
    // Starts a Windows program in the background.
    bool Start(CChildProcess& child, const std::string& strExe, CLines args,
               const std::string& strLang, bool bCapture = false) {
        args.insert(args.begin(), {m_strWine, strExe});
        return child.Start(args, Env(strLang), bCapture);
    }

    std::string m_strError; // why the suite cannot run; empty when it can
    CXvfbDisplay m_display;

private:
    std::string Prepare() {
        if (access(kTachyra.c_str(), R_OK) != 0)
            return "the Windows build is missing: run scripts/prepare-windows.sh";
        for (const char* psz : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"})
            m_strWine = m_strWine.empty() && access(psz, X_OK) == 0 ? psz : m_strWine;
        if (m_strWine.empty())
            return "wine64 is missing (scripts/install-deps.sh test)";
        std::string strError;
        if (!m_display.Start(strError))
            return strError;
        char szPrefix[] = "/tmp/tachyra-wine-XXXXXX";
        if (mkdtemp(szPrefix) == nullptr)
            return "mkdtemp failed";
        m_strPrefix = szPrefix;
        // Not captured: the Wine processes it leaves running would hold the pipe.
        CChildProcess boot;
        if (!Start(boot, "wineboot", {"-i"}, kChinese) || boot.Wait(seconds(180)) == -1)
            return "wineboot did not finish";
        return std::string();
    }

    std::string m_strWine, m_strPrefix;
};

CWineEnvironment* const g_pWine =
    static_cast<CWineEnvironment*>(::testing::AddGlobalTestEnvironment(new CWineEnvironment()));

// tachyra.exe (m_app) and the driver, whose control channel the steps go through.
class WineTachyra : public ::testing::Test, public CWindowPlayer {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_pWine->m_strError.empty()) << g_pWine->m_strError;
        m_pDisplay = &g_pWine->m_display;
        m_strShot = TACHYRA_ARTIFACT_DIR "/wine-window.png";
    }
    void TearDown() override {
        // A test that failed half-way must not leave its window for the next one.
        if (m_app.Running() && WaitFor("window", "1", 5))
            Ask("close");
        m_app.Wait(seconds(10));
        m_channel.Close();
        m_driver.Wait(seconds(10));
    }

    // Starts the driver and connects to it, with no settings from an earlier test.
    void StartDriver() {
        ASSERT_TRUE(g_pWine->Start(m_driver, kBuild + "/tests/wine/driver/tachyra-driver.exe", {},
                                   m_strLang, true));
        const std::string strLine = m_driver.WaitForLine("listening", seconds(60));
        ASSERT_TRUE(!strLine.empty() && m_channel.Connect(std::atoi(strLine.c_str() + 10)));
        ASSERT_EQ("", Ask("regclear"));
    }
    // Starts tachyra.exe and waits for its window.
    void Launch() {
        ASSERT_TRUE(g_pWine->Start(m_app, kTachyra, {}, m_strLang));
        ASSERT_TRUE(WaitFor("window", "1", 30));
    }

    CChildProcess m_driver;
    std::string m_strLang = kChinese;
};

} // namespace

class WineScenario : public WineTachyra, public ::testing::WithParamInterface<CWindowScenario> {};

TEST_P(WineScenario, Plays) {
    const CWindowScenario& scenario = GetParam();
    CVars vecVars = Vars(scenario, "(10061)：*", "(10048)：*");
    StartDriver();
    for (const auto& [strName, strValue] : NamedSettings(scenario.vecStored, vecVars))
        ASSERT_EQ("", Ask("regset " + strName + " " + strValue));
    // The driver tells a box with an icon from a plain one, not which icon it is.
    vecVars.insert(vecVars.end(), {{"| error", "| icon"}, {"| warning", "| icon"}});
    Launch();
    Play(scenario.vecSteps, vecVars);
    for (const auto& [strName, strValue] : NamedSettings(scenario.vecSaved, vecVars))
        EXPECT_EQ((strName.starts_with("m_n") ? "dword " : "sz ") + strValue,
                  Ask("reg " + strName));
}

INSTANTIATE_TEST_SUITE_P(Shared, WineScenario, ::testing::ValuesIn(kWindowScenarios),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(WineTachyra, NotAChineseCodePageYetTheSameTextsAndEscapeAndEnterDoNotClose) {
    m_strLang = kEnglish;
    StartDriver();
    Launch();
    EXPECT_NE("936", Ask("acp"));
    Play({"text 1007 下载", "pane 0     接收：0.00MB/s", "key:1001:27", "key:1007:13", "boxes:500",
          "caption Tachyra - v18.0701", "close", "gone:10000"},
         {});
}

// The probe ends with 0 only when every one of its checks ran and held.
TEST_F(WineTachyra, QueuedCommandsKeepTheirOrderAndCtrlASelectsAll) {
    ASSERT_TRUE(g_pWine->Start(m_app, kBuild + "/tests/wine/driver/framework-probe.exe", {},
                               m_strLang, true));
    EXPECT_EQ(0, m_app.Wait(seconds(60))) << m_app.Stdout();
}

TEST_F(WineTachyra, FatalStopShowsItsBoxAndEndsWithExitCodeZero) {
    StartDriver();
    ASSERT_TRUE(
        g_pWine->Start(m_app, kBuild + "/tests/wine/driver/fatal-stop-probe.exe", {}, m_strLang));
    EXPECT_TRUE(Step("box (((m -_-) | 不支持该操作系统(GTC) | icon"));
    EXPECT_EQ(0, m_app.Wait(seconds(15)));
}

namespace {

const std::string kCli = kBuild + "/cli/tachyra-cli.exe";

// A page as a server answers it: the status line and the body.
std::string FetchPage(int nPort, const std::string& strPath) {
    CRawSocket socket;
    if (!socket.Connect(nPort) ||
        !socket.Send("GET " + strPath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"))
        return std::string();
    const std::string strAnswer = socket.Recv(8u << 20);
    const size_t nBody = strAnswer.find("\r\n\r\n");
    return nBody == std::string::npos
               ? strAnswer
               : strAnswer.substr(0, strAnswer.find("\r\n")) + strAnswer.substr(nBody);
}

// tachyra-cli.exe as scripts meet it: the pages its server serves, JSON that is UTF-8 and
// the client's added paths, a native tachyra-cli on the other end.
TEST(WineCli, ServesThePagesWritesUtf8JsonAndRunsBothWaysAtARate) {
    ASSERT_TRUE(g_pWine->m_strError.empty()) << g_pWine->m_strError;
    CChildProcess native, windows;
    const int nNative = StartCliServer(native);
    const std::string strPort = std::to_string(ClosedLoopbackPort());
    ASSERT_TRUE(
        g_pWine->Start(windows, kCli, {"-s", "-B", "127.0.0.1", "-p", strPort}, kChinese, true));
    ASSERT_FALSE(windows.WaitForLine("listening on port", seconds(60)).empty());
    for (const char* pszPath : {"/", "/buttons.css", "/echarts.min.js", "/full", "/full.js"}) {
        const std::string strExpected = FetchPage(nNative, pszPath);
        EXPECT_GT(strExpected.size(), 100u) << pszPath;
        EXPECT_EQ(FetchPage(std::stoi(strPort), pszPath), strExpected) << pszPath;
    }
    windows.Signal(SIGINT);
    windows.Wait(seconds(20));

    CChildProcess refused;
    ASSERT_TRUE(g_pWine->Start(refused, kCli, {"-c", "127.0.0.1", "-p", strPort, "-t", "2", "-J"},
                               kChinese, true));
    EXPECT_EQ(refused.Wait(seconds(60)), 1);
    EXPECT_NE(refused.Stdout().find("\xEF\xBC\x9A"), std::string::npos) << "UTF-8 \"：\"";
    EXPECT_EQ(refused.Stdout().find("\xA3\xBA"), std::string::npos) << refused.Stdout();

    CChildProcess client;
    ASSERT_TRUE(g_pWine->Start(client, kCli,
                               {"-c", "127.0.0.1", "-p", std::to_string(nNative), "--bidir", "-b",
                                "200M", "-t", "2", "-O", "1", "-i", "0.5", "--fail-below", "1M"},
                               kChinese, true));
    EXPECT_EQ(client.Wait(seconds(60)), 0) << client.Stdout() << client.Stderr();
    EXPECT_NE(client.Stdout().find("(omitted)"), std::string::npos) << client.Stdout();
    EXPECT_NE(client.Stdout().find("[  0.50-"), std::string::npos) << client.Stdout();
}

} // namespace
