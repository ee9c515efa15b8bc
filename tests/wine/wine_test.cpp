// tachyra.exe under Wine, driven from a second Win32 program as a user would drive it,
// with native peers (tachyra-cli) next to it. One Xvfb display and one fresh Wine prefix
// serve the whole suite; every wait is bounded.
#include "testkit/raw_socket.h"
#include "testkit/window_scenarios.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <algorithm>
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
const std::string kDriver = kBuild + "/tests/wine/driver/tachyra-driver.exe";
const std::string kChinese = "zh_CN.UTF-8", kEnglish = "C.UTF-8";

// The display and the Wine prefix the suite runs in.
class CWineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_strError = Prepare(); }
    void TearDown() override {
        for (const char* pszArg : {"-k", "-w"}) {
            CChildProcess server;
            if (!m_strPrefix.empty() &&
                server.Start({"/usr/bin/env", "wineserver", pszArg}, Env(kEnglish), false))
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
    bool Start(CChildProcess& child, const std::string& strExe, const CLines& args,
               const std::string& strLang, bool bCapture = false) {
        CLines argv{m_strWine, strExe};
        argv.insert(argv.end(), args.begin(), args.end());
        return child.Start(argv, Env(strLang), bCapture);
    }

    std::string m_strError; // why the suite cannot run; empty when it can
    CXvfbDisplay m_display;

private:
    std::string Prepare() {
        if (access(kTachyra.c_str(), R_OK) != 0 || access(kDriver.c_str(), R_OK) != 0)
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

class WineTachyra : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_pWine->m_strError.empty()) << g_pWine->m_strError;
        m_strPort = std::to_string(ClosedLoopbackPort());
        Drive({"reg-clear"}); // no settings from an earlier test
    }
    void TearDown() override {
        // A test that failed half-way must not leave its window for the next one.
        if (m_app.Running()) {
            Drive({"wait-window:5000", "close", "gone:5000"});
            m_app.Wait(seconds(10));
        }
    }

    // Runs the driver with these steps (or another Windows program) and expects exit code 0,
    // so every check step held; its output, without the "\r" of Windows line ends.
    std::string Drive(const CLines& steps, const std::string& strExe = kDriver) {
        CChildProcess child;
        const bool bStarted = g_pWine->Start(child, strExe, steps, m_strLang, true);
        const int nExitCode = bStarted ? child.Wait(seconds(60)) : -1;
        std::string strOut = child.Stdout();
        strOut.erase(std::remove(strOut.begin(), strOut.end(), '\r'), strOut.end());
        EXPECT_EQ(0, nExitCode) << strOut;
        return strOut;
    }

    CChildProcess m_app;
    std::string m_strPort, m_strLang = kChinese;
};

} // namespace

class WineScenario : public WineTachyra, public ::testing::WithParamInterface<CWindowScenario> {};

TEST_P(WineScenario, Plays) {
    const CWindowScenario& scenario = GetParam();
    CChildProcess peer;
    std::vector<std::pair<std::string, std::string>> vecVars = {
        {"{port}", m_strPort}, {"{refused}", "(10061)：*"}, {"{inuse}", "(10048)：*"}};
    if (UsesPeer(scenario))
        vecVars.push_back({"{peer}", std::to_string(StartCliServer(peer))});
    CLines steps;
    for (const auto& [strName, strValue] : scenario.vecStored)
        steps.push_back("reg-set:" + strName + ":" + FillScenario(strValue, vecVars));
    Drive(steps);
    // The driver tells a box with an icon from a plain one, not which icon it is.
    vecVars.insert(vecVars.end(), {{"| error", "| icon"}, {"| warning", "| icon"}});
    EXPECT_TRUE(g_pWine->Start(m_app, kTachyra, {}, m_strLang));
    steps = {"wait-window:30000"};
    for (const std::string& strStep : scenario.vecSteps) {
        if (strStep != "screenshot") {
            steps.push_back(FillScenario(strStep, vecVars));
            continue;
        }
        Drive(steps);
        steps = {"wait-window:5000"};
        const char* pszDir = std::getenv("TACHYRA_ARTIFACTS_DIR");
        const std::string strDir = pszDir ? pszDir : std::string(TACHYRA_SOURCE_DIR) + "/artifacts";
        std::filesystem::create_directories(strDir);
        EXPECT_TRUE(g_pWine->m_display.Screenshot(strDir + "/wine-window.png"));
    }
    Drive(steps);
    EXPECT_EQ(1, m_app.Wait(seconds(15)));
    steps.clear();
    for (const auto& [strName, strValue] : scenario.vecSaved)
        steps.push_back("reg " + strName +
                        (strName.compare(0, 3, "m_n") == 0 ? " dword " : " sz ") +
                        FillScenario(strValue, vecVars));
    Drive(steps);
}

INSTANTIATE_TEST_SUITE_P(Shared, WineScenario, ::testing::ValuesIn(kWindowScenarios),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(WineTachyra, NotAChineseCodePageYetTheSameTextsAndEscapeAndEnterDoNotClose) {
    m_strLang = kEnglish;
    ASSERT_TRUE(g_pWine->Start(m_app, kTachyra, {}, m_strLang));
    const std::string strOut = Drive(
        {"wait-window:30000", "acp", "text 1007 下载", "pane 0     接收：0.00MB/s", "key:1001:27",
         "key:1007:13", "boxes:500", "caption Tachyra - v18.0701", "close", "gone:10000"});
    EXPECT_EQ(std::string::npos, strOut.find("acp 936\n")) << strOut;
    EXPECT_EQ(1, m_app.Wait(seconds(15)));
}

// The probe ends with 0 only when every one of its checks ran and held.
TEST_F(WineTachyra, QueuedCommandsKeepTheirOrderAndCtrlASelectsAll) {
    Drive({}, kBuild + "/tests/wine/driver/framework-probe.exe");
}

TEST_F(WineTachyra, FatalStopShowsItsBoxAndEndsWithExitCodeZero) {
    CChildProcess probe;
    ASSERT_TRUE(
        g_pWine->Start(probe, kBuild + "/tests/wine/driver/fatal-stop-probe.exe", {}, m_strLang));
    Drive({"box (((m -_-) | 不支持该操作系统(GTC) | icon"});
    EXPECT_EQ(0, probe.Wait(seconds(15)));
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
    ASSERT_TRUE(native.Start({CliPath(), "-s", "-B", "127.0.0.1", "-p", "0"}));
    const std::string strNative = native.WaitForLine("listening on port");
    const int nNative = std::stoi(strNative.substr(strNative.rfind(' ') + 1));
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
    native.Signal(SIGINT);
    EXPECT_EQ(native.Wait(), 0);
}

} // namespace
