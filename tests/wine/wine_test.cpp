// tachyra.exe under Wine, driven from a second Win32 program as a user would drive it.
// One Xvfb display and one fresh Wine prefix serve the whole suite.
#include "testkit/raw_socket.h"
#include "wine_harness.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const std::string kBuild = TACHYRA_WINDOWS_BUILD_DIR;
const std::string kTachyra = kBuild + "/app/win32/tachyra.exe";
const std::string kDriver = kBuild + "/tests/wine/driver/tachyra-driver.exe";
const std::string kFrameworkProbe = kBuild + "/tests/wine/driver/framework-probe.exe";
const std::string kFatalProbe = kBuild + "/tests/wine/driver/fatal-stop-probe.exe";
const std::string kChinese = "zh_CN.UTF-8";
const std::string kEnglish = "C.UTF-8";

CWineHarness* g_pWine = nullptr;
std::string g_strSetUpError;

class CWineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        struct stat st;
        if (stat(kTachyra.c_str(), &st) != 0 || stat(kDriver.c_str(), &st) != 0) {
            g_strSetUpError = "the Windows build is missing: run scripts/prepare-windows.sh";
            return;
        }
        g_pWine = new CWineHarness();
        if (!g_pWine->SetUp(g_strSetUpError)) {
            g_pWine->TearDown();
            delete g_pWine;
            g_pWine = nullptr;
        }
    }
    void TearDown() override {
        if (g_pWine != nullptr) {
            g_pWine->TearDown();
            delete g_pWine;
            g_pWine = nullptr;
        }
    }
};

const ::testing::Environment* const g_pEnvironment =
    ::testing::AddGlobalTestEnvironment(new CWineEnvironment());

bool Has(const std::string& strOutput, const std::string& strLine) {
    return strOutput.find(strLine + "\n") != std::string::npos;
}

size_t CountOf(const std::string& strOutput, const std::string& strPrefix) {
    size_t n = 0;
    for (size_t pos = strOutput.find(strPrefix); pos != std::string::npos;
         pos = strOutput.find(strPrefix, pos + 1))
        ++n;
    return n;
}

class WineTachyra : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(g_pWine, nullptr) << g_strSetUpError;
        nPort = ClosedLoopbackPort();
        ASSERT_NE(nPort, 0);
        strPort = std::to_string(nPort);
    }
    void TearDown() override {
        // A test that failed half-way must not leave its window for the next one.
        if (app.Running()) {
            Drive({"wait-window:2000", "close", "gone:5000"});
            app.Wait(std::chrono::milliseconds(10000));
        }
    }

    CProcessResult Drive(const std::vector<std::string>& steps,
                         const std::string& strLang = kChinese, int nTimeoutMs = 60000) {
        CProcessResult r = g_pWine->Run(kDriver, steps, strLang, nTimeoutMs);
        return r;
    }
    void StartApp(const std::string& strLang = kChinese) {
        ASSERT_TRUE(g_pWine->Start(app, kTachyra, {}, strLang));
        CProcessResult r = Drive({"wait-window:30000"}, strLang);
        ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    }
    // Closes the window through the system menu; the process's exit code.
    int CloseApp(const std::string& strLang = kChinese) {
        CProcessResult r = Drive({"wait-window:5000", "close", "gone:10000"}, strLang);
        EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
        return app.Wait(std::chrono::milliseconds(15000));
    }

    CChildProcess app;
    int nPort = 0;
    std::string strPort;
};

} // namespace

TEST_F(WineTachyra, FirstRunShowsDefaultsAndCloseSavesThemWithExitCodeOne) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r = Drive({"wait-window:5000", "acp", "caption", "text:1000", "text:1001",
                              "text:1002", "text:1003", "text:1004", "text:1007", "text:1008",
                              "enabled:1000", "enabled:1008", "pane:0", "pane:1"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    const std::string& o = r.strOutput;
    EXPECT_TRUE(Has(o, "acp 936")) << o;
    EXPECT_TRUE(Has(o, "caption Tachyra - v18.0701")) << o;
    EXPECT_TRUE(Has(o, "text 1000 启动服务")) << o;
    EXPECT_TRUE(Has(o, "text 1001 10001")) << o;
    EXPECT_TRUE(Has(o, "text 1002 开始连接测试")) << o;
    EXPECT_TRUE(Has(o, "text 1003 127.0.0.1")) << o;
    EXPECT_TRUE(Has(o, "text 1004 10001")) << o;
    EXPECT_TRUE(Has(o, "text 1007 下载")) << o;
    EXPECT_TRUE(Has(o, "text 1008 使用JS.WebSocket测试")) << o;
    EXPECT_TRUE(Has(o, "enabled 1000 1")) << o;
    EXPECT_TRUE(Has(o, "enabled 1008 0")) << o;
    EXPECT_TRUE(Has(o, "pane 0     接收：0.00MB/s")) << o;
    EXPECT_TRUE(Has(o, "pane 1 发送：0.00MB/s")) << o;

    EXPECT_EQ(CloseApp(), 1);
    r = Drive({"reg-get:m_nListenPort", "reg-get:m_nServerPort", "reg-get:m_strServerAddr",
               "reg-get:m_strType"});
    EXPECT_TRUE(Has(r.strOutput, "reg m_nListenPort dword 10001")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "reg m_nServerPort dword 10001")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "reg m_strServerAddr sz 127.0.0.1")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "reg m_strType sz 下载")) << r.strOutput;
}

TEST_F(WineTachyra, TextsReadCorrectlyUnderAnEnglishLocale) {
    ASSERT_EQ(Drive({"reg-clear"}, kEnglish).nExitCode, 0);
    StartApp(kEnglish);
    CProcessResult r =
        Drive({"wait-window:5000", "acp", "caption", "text:1000", "text:1002", "text:1007",
               "pane:0", "pane:1", "set:1001:abc", "click:1000", "box:10000"},
              kEnglish);
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    const std::string& o = r.strOutput;
    EXPECT_FALSE(Has(o, "acp 936")) << o; // not a Chinese code page, yet:
    EXPECT_TRUE(Has(o, "caption Tachyra - v18.0701")) << o;
    EXPECT_TRUE(Has(o, "text 1000 启动服务")) << o;
    EXPECT_TRUE(Has(o, "text 1002 开始连接测试")) << o;
    EXPECT_TRUE(Has(o, "text 1007 下载")) << o;
    EXPECT_TRUE(Has(o, "pane 0     接收：0.00MB/s")) << o;
    EXPECT_TRUE(Has(o, "pane 1 发送：0.00MB/s")) << o;
    EXPECT_TRUE(Has(o, "box Tachyra | 请输入一个整数。 | plain") ||
                Has(o, "box Tachyra | 请输入一个整数。 | plain"))
        << o;
    ASSERT_EQ(Drive({"wait-window:5000", "set:1001:10001"}, kEnglish).nExitCode, 0);
    EXPECT_EQ(CloseApp(kEnglish), 1);
    r = Drive({"reg-get:m_strType"}, kEnglish);
    EXPECT_TRUE(Has(r.strOutput, "reg m_strType sz 下载")) << r.strOutput;
}

TEST_F(WineTachyra, ServerAndClientAgainstItsOwnPort) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    // The worker threads change the controls one after another: wait for each.
    CProcessResult r = Drive(
        {"wait-window:5000", "set:1001:" + strPort, "set:1004:" + strPort, "click:1000",
         "wait-text:1000:停止:10000", "wait-enabled:1001:0:10000", "wait-enabled:1008:1:10000",
         "click:1002", "wait-text:1002:停止测试:10000", "wait-enabled:1003:0:10000",
         "wait-enabled:1004:0:10000", "wait-enabled:1007:0:10000", "wait-pane-rate:0:15000",
         "wait-pane-rate:1:15000", "enabled:1002", "enabled:1000"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1002 1")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1000 1")) << r.strOutput;

    const char* pszArtifacts = std::getenv("TACHYRA_ARTIFACTS_DIR");
    std::string strDir =
        pszArtifacts != nullptr ? pszArtifacts : std::string(TACHYRA_SOURCE_DIR) + "/artifacts";
    mkdir(strDir.c_str(), 0755);
    EXPECT_TRUE(g_pWine->Screenshot(strDir + "/wine-running-test.png"));

    r = Drive({"wait-window:5000", "click:1002", "wait-text:1002:开始连接测试:10000",
               "wait-enabled:1003:1:10000", "wait-enabled:1007:1:10000", "boxes:1500", "click:1000",
               "wait-text:1000:启动服务:10000", "wait-enabled:1000:1:10000", "enabled:1008"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "boxes 0")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1008 0")) << r.strOutput;
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, SecondServerClickBeforeTheSocketExistsStartsNoSecondRun) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    // Two clicks queued back to back: the second reaches the window before the run has
    // its socket. It stops that run; a second run would fail to bind and say so.
    CProcessResult r = Drive({"wait-window:5000", "set:1001:" + strPort, "click:1000", "click:1000",
                              "wait-text:1000:启动服务:15000", "wait-enabled:1000:1:10000",
                              "boxes:1500", "enabled:1001"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "boxes 0")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1001 1")) << r.strOutput;
    // The port is free again: a new start listens.
    r = Drive({"wait-window:5000", "click:1000", "wait-text:1000:停止:10000", "boxes:1000"});
    EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "boxes 0")) << r.strOutput;
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, StoppingTheServerWhileAnotherProcessStreamsShowsStopping) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r = Drive(
        {"wait-window:5000", "set:1001:" + strPort, "click:1000", "wait-text:1000:停止:10000"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    CChildProcess cli;
    ASSERT_TRUE(
        cli.Start({TACHYRA_CLI_PATH, "-c", "127.0.0.1", "-p", strPort, "-t", "0"}, {}, true));
    r = Drive({"wait-window:5000", "wait-pane-rate:1:15000", "click:1000",
               "seen-text:1000:正在停止:10000", "wait-text:1000:启动服务:15000",
               "wait-enabled:1000:1:10000", "enabled:1001"});
    EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1001 1")) << r.strOutput;
    // The cut ends the peer's test; it must not outlive the test either way.
    cli.Wait(std::chrono::milliseconds(15000));
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, ClientAgainstAClosedPortShowsExactlyOneError) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r =
        Drive({"wait-window:5000", "set:1004:" + strPort, "click:1002", "box:20000", "boxes:2000",
               "wait-text:1002:开始连接测试:10000", "wait-enabled:1004:1:10000", "enabled:1002",
               "enabled:1003", "enabled:1007"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    const std::string& o = r.strOutput;
    EXPECT_NE(o.find("box Tachyra | (10061)："), std::string::npos) << o;
    EXPECT_NE(o.find(" | icon\n"), std::string::npos) << o;
    EXPECT_TRUE(Has(o, "boxes 0")) << o;
    EXPECT_EQ(CountOf(o, "box Tachyra |"), 1u) << o;
    EXPECT_TRUE(Has(o, "enabled 1002 1")) << o;
    EXPECT_TRUE(Has(o, "enabled 1003 1")) << o;
    EXPECT_TRUE(Has(o, "enabled 1007 1")) << o;
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, InvalidPortsShowTheExactMessagesAndStartNothing) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r =
        Drive({"wait-window:5000", "set:1001:" + strPort, "set:1004:65536", "click:1000",
               "box:10000", "boxes:1000", "text:1000", "enabled:1001", "set:1004:abc", "click:1002",
               "box:10000", "boxes:1000", "text:1002", "enabled:1003"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    const std::string& o = r.strOutput;
    EXPECT_TRUE(Has(o, "box Tachyra | 请输入一个在 1 和 65535 之间的整数。 | icon")) << o;
    EXPECT_TRUE(Has(o, "box Tachyra | 请输入一个整数。 | plain")) << o;
    EXPECT_TRUE(Has(o, "text 1000 启动服务")) << o;
    EXPECT_TRUE(Has(o, "enabled 1001 1")) << o;
    EXPECT_TRUE(Has(o, "text 1002 开始连接测试")) << o;
    EXPECT_TRUE(Has(o, "enabled 1003 1")) << o;
    EXPECT_EQ(CountOf(o, "boxes 0"), 2u) << o;
    ASSERT_EQ(Drive({"wait-window:5000", "set:1004:10001"}).nExitCode, 0);
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, ListenPortInUseShowsTheBindError) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    // A native peer listens on 127.0.0.1, which a bind to every interface collides with.
    CChildProcess holder;
    ASSERT_TRUE(holder.Start({TACHYRA_CLI_PATH, "-s", "-p", strPort, "-B", "127.0.0.1"}, {}, true));
    StartApp();
    CProcessResult r = Drive({"wait-window:5000", "set:1001:" + strPort, "click:1000", "box:20000",
                              "wait-text:1000:启动服务:10000", "wait-enabled:1008:0:10000",
                              "enabled:1001", "enabled:1000"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_NE(r.strOutput.find("box Tachyra | (10048)："), std::string::npos) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1001 1")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "enabled 1000 1")) << r.strOutput;
    kill(holder.Pid(), SIGINT);
    holder.Wait(std::chrono::milliseconds(10000));
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, CloseWhileServerAndTenSessionsRunSavesAndExitsWithOne) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r =
        Drive({"wait-window:5000", "set:1001:" + strPort, "set:1004:" + strPort,
               "set:1003:localhost", "click:1000", "wait-text:1000:停止:10000", "click:1002",
               "wait-text:1002:停止测试:10000", "wait-pane-rate:1:15000"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_EQ(CloseApp(), 1);
    r = Drive({"reg-get:m_nListenPort", "reg-get:m_nServerPort", "reg-get:m_strServerAddr",
               "reg-get:m_strType"});
    EXPECT_TRUE(Has(r.strOutput, "reg m_nListenPort dword " + strPort)) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "reg m_nServerPort dword " + strPort)) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "reg m_strServerAddr sz localhost")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "reg m_strType sz 下载")) << r.strOutput;
}

TEST_F(WineTachyra, ClosingWithAnOutOfRangePortWarnsSavesItAndShowsItAgain) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r =
        Drive({"wait-window:5000", "set:1001:70000", "close", "box:10000", "gone:10000"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "box Tachyra | 请输入一个在 1 和 65535 之间的整数。 | icon"))
        << r.strOutput;
    EXPECT_EQ(app.Wait(std::chrono::milliseconds(15000)), 1);
    r = Drive({"reg-get:m_nListenPort"});
    EXPECT_TRUE(Has(r.strOutput, "reg m_nListenPort dword 70000")) << r.strOutput;
    StartApp();
    r = Drive({"wait-window:5000", "text:1001", "set:1001:10001"});
    EXPECT_TRUE(Has(r.strOutput, "text 1001 70000")) << r.strOutput;
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, StoredTypePrefixSelectsDownloadAndUnmatchedRunsAsUpload) {
    ASSERT_EQ(Drive({"reg-clear", "reg-set-sz:m_strType:下"}).nExitCode, 0);
    StartApp();
    CProcessResult r = Drive({"wait-window:5000", "text:1007"});
    EXPECT_TRUE(Has(r.strOutput, "text 1007 下载")) << r.strOutput;
    EXPECT_EQ(CloseApp(), 1);

    // No item begins with this: nothing is selected, and a test then uploads, so this
    // process only sends to the native server.
    ASSERT_EQ(Drive({"reg-set-sz:m_strType:sideways"}).nExitCode, 0);
    CChildProcess server;
    ASSERT_TRUE(server.Start({TACHYRA_CLI_PATH, "-s", "-p", strPort, "-B", "127.0.0.1"}, {}, true));
    StartApp();
    r = Drive({"wait-window:5000", "text:1007", "set:1004:" + strPort, "click:1002",
               "wait-text:1002:停止测试:10000", "wait-pane-rate:1:15000", "pane:0", "click:1002",
               "wait-text:1002:开始连接测试:10000"});
    EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "text 1007 ")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "pane 0     接收：0.00MB/s")) << r.strOutput;
    kill(server.Pid(), SIGINT);
    server.Wait(std::chrono::milliseconds(10000));
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, EscapeAndEnterDoNotCloseTheWindow) {
    ASSERT_EQ(Drive({"reg-clear"}).nExitCode, 0);
    StartApp();
    CProcessResult r = Drive({"wait-window:5000", "key:1001:27", "key:1003:13", "key:1000:27",
                              "key:1007:13", "exists", "boxes:500"});
    ASSERT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "exists 1")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "boxes 0")) << r.strOutput;
    EXPECT_TRUE(app.Running());
    EXPECT_EQ(CloseApp(), 1);
}

TEST_F(WineTachyra, QueuedCommandsGrowThePoolAndCtrlASelectsAll) {
    CProcessResult r = g_pWine->Run(kFrameworkProbe, {}, kChinese, 60000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok nine queued commands grow the pool to 10")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok every record came back")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok the last update won")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok Ctrl+Shift+A leaves the selection alone")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok Ctrl+A selects the whole edit text")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok queued updates went back to the pool")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok queued updates had no effect")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok a TEXT resource is cut at its first zero")) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "ok a missing TEXT resource is empty")) << r.strOutput;
}

TEST_F(WineTachyra, FatalStopShowsItsBoxAndEndsWithExitCodeZero) {
    CChildProcess probe;
    ASSERT_TRUE(g_pWine->Start(probe, kFatalProbe, {}, kChinese));
    CProcessResult r = Drive({"box:30000"});
    EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
    EXPECT_TRUE(Has(r.strOutput, "box (((m -_-) | 不支持该操作系统(GTC) | icon")) << r.strOutput;
    EXPECT_EQ(probe.Wait(std::chrono::milliseconds(15000)), 0);
}
