// tachyra.exe under Wine, driven from a second Win32 program as a user would drive it,
// with native peers (tachyra-cli) next to it. One Xvfb display and one fresh Wine prefix
// serve the whole suite; every wait is bounded.
#include "testkit/raw_socket.h"
#include "testkit/xvfb_display.h"

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
const std::string kDriver = kBuild + "/tests/wine/driver/tachyra-driver.exe";
const std::string kChinese = "zh_CN.UTF-8";
const std::string kEnglish = "C.UTF-8";
const std::string kRangeBox = "box Tachyra | 请输入一个在 1 和 65535 之间的整数。 | icon";
const std::string kIntegerBox = "box Tachyra | 请输入一个整数。 | plain";

struct CProcessResult {
    int nExitCode = -1; // -1: did not end in time (and was killed)
    std::string strOutput;
};

// The display and the Wine prefix the suite runs in.
class CWineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_strError = Prepare(); }
    void TearDown() override {
        if (!m_strPrefix.empty()) {
            for (const char* pszArg : {"-k", "-w"}) {
                CChildProcess server;
                server.Start({"/usr/bin/env", "wineserver", pszArg}, Env(kEnglish), false);
                server.Wait(seconds(30));
            }
            std::error_code ec;
            std::filesystem::remove_all(m_strPrefix, ec);
        }
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
    // Runs one to its end; Windows programs end their lines with "\r\n".
    CProcessResult Run(const std::string& strExe, const CLines& args, const std::string& strLang,
                       int nTimeoutSeconds = 60) {
        CChildProcess child;
        CProcessResult result;
        if (!Start(child, strExe, args, strLang, true))
            return result;
        result.nExitCode = child.Wait(seconds(nTimeoutSeconds));
        for (char ch : child.Stdout())
            result.strOutput += ch != '\r' ? std::string(1, ch) : "";
        return result;
    }

    std::string m_strError; // why the suite cannot run; empty when it can
    CXvfbDisplay m_display;

private:
    std::string Prepare() {
        if (access(kTachyra.c_str(), R_OK) != 0 || access(kDriver.c_str(), R_OK) != 0)
            return "the Windows build is missing: run scripts/prepare-windows.sh";
        for (const char* psz : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"}) {
            if (m_strWine.empty() && access(psz, X_OK) == 0)
                m_strWine = psz;
        }
        std::string strError;
        if (m_strWine.empty())
            return "wine64 is missing (scripts/install-deps.sh test)";
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

bool Has(const std::string& strOutput, const std::string& strLine) {
    return strOutput.find(strLine + "\n") != std::string::npos;
}

// Expects every line of vecLines in the output.
void ExpectLines(const std::string& strOutput, const CLines& vecLines) {
    for (const std::string& strLine : vecLines)
        EXPECT_TRUE(Has(strOutput, strLine)) << strLine << " in:\n" << strOutput;
}

class WineTachyra : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_pWine->m_strError.empty()) << g_pWine->m_strError;
        strPort = std::to_string(ClosedLoopbackPort());
    }
    void TearDown() override {
        // A test that failed half-way must not leave its window for the next one.
        if (app.Running()) {
            Window({"close", "gone:5000"});
            app.Wait(seconds(10));
        }
    }

    // Runs the driver with these steps, expects it to succeed and to print every line of
    // vecLines; its output.
    std::string Drive(const CLines& steps, const CLines& vecLines = {},
                      const std::string& strLang = kChinese) {
        CProcessResult r = g_pWine->Run(kDriver, steps, strLang);
        EXPECT_EQ(0, r.nExitCode) << r.strOutput;
        ExpectLines(r.strOutput, vecLines);
        return r.strOutput;
    }
    // The same on the program's window, found first.
    std::string Window(CLines steps, const CLines& vecLines = {},
                       const std::string& strLang = kChinese) {
        steps.insert(steps.begin(), "wait-window:5000");
        return Drive(steps, vecLines, strLang);
    }
    // Starts the program, with no settings unless bKeepSettings.
    void StartApp(const std::string& strLang = kChinese, bool bKeepSettings = false) {
        if (!bKeepSettings)
            Drive({"reg-clear"}, {}, strLang);
        ASSERT_TRUE(g_pWine->Start(app, kTachyra, {}, strLang));
        Drive({"wait-window:30000"}, {}, strLang);
    }
    // Closes the window through the system menu and expects exit code 1.
    void CloseApp(const std::string& strLang = kChinese) {
        Window({"close", "gone:10000"}, {}, strLang);
        EXPECT_EQ(1, app.Wait(seconds(15)));
    }
    void ExpectSettings(const std::string& strPort, const std::string& strAddr,
                        const std::string& strType, const std::string& strLang = kChinese) {
        Drive({"reg-get:m_nListenPort", "reg-get:m_nServerPort", "reg-get:m_strServerAddr",
               "reg-get:m_strType"},
              {"reg m_nListenPort dword " + strPort, "reg m_nServerPort dword " + strPort,
               "reg m_strServerAddr sz " + strAddr, "reg m_strType sz " + strType},
              strLang);
    }
    void StopPeer(CChildProcess& peer) {
        peer.Signal(SIGINT);
        peer.Wait(seconds(10));
    }

    CChildProcess app;
    std::string strPort;
};

} // namespace

TEST_F(WineTachyra, FirstRunShowsDefaultsAndCloseSavesThemWithExitCodeOne) {
    StartApp();
    Window({"acp", "caption", "text:1000", "text:1001", "text:1002", "text:1003", "text:1004",
            "text:1007", "text:1008", "enabled:1000", "enabled:1008", "pane:0", "pane:1"},
           {"acp 936", "caption Tachyra - v18.0701", "text 1000 启动服务", "text 1001 10001",
            "text 1002 开始连接测试", "text 1003 127.0.0.1", "text 1004 10001", "text 1007 下载",
            "text 1008 使用JS.WebSocket测试", "enabled 1000 1", "enabled 1008 0",
            "pane 0     接收：0.00MB/s", "pane 1 发送：0.00MB/s"});
    CloseApp();
    ExpectSettings("10001", "127.0.0.1", "下载");
}

TEST_F(WineTachyra, TextsReadCorrectlyUnderAnEnglishLocale) {
    StartApp(kEnglish);
    std::string strOut = Window({"acp", "caption", "text:1000", "text:1002", "text:1007", "pane:0",
                                 "pane:1", "set:1001:abc", "click:1000", "box:10000"},
                                {"caption Tachyra - v18.0701", "text 1000 启动服务",
                                 "text 1002 开始连接测试", "text 1007 下载",
                                 "pane 0     接收：0.00MB/s", "pane 1 发送：0.00MB/s", kIntegerBox},
                                kEnglish);
    EXPECT_FALSE(Has(strOut, "acp 936")) << strOut; // not a Chinese code page, yet the above
    Window({"set:1001:10001"}, {}, kEnglish);
    CloseApp(kEnglish);
    Drive({"reg-get:m_strType"}, {"reg m_strType sz 下载"}, kEnglish);
}

TEST_F(WineTachyra, ServerAndClientAgainstItsOwnPort) {
    StartApp();
    // The worker threads change the controls one after another: wait for each.
    Window({"set:1001:" + strPort, "set:1004:" + strPort, "click:1000", "wait:text:1000:停止",
            "wait:enabled:1001:0", "wait:enabled:1008:1", "click:1002", "wait:text:1002:停止测试",
            "wait:enabled:1003:0", "wait:enabled:1004:0", "wait:enabled:1007:0",
            "wait-rate:0:15000", "wait-rate:1:15000", "enabled:1002", "enabled:1000"},
           {"enabled 1002 1", "enabled 1000 1"});
    const char* pszArtifacts = std::getenv("TACHYRA_ARTIFACTS_DIR");
    std::string strDir =
        pszArtifacts != nullptr ? pszArtifacts : std::string(TACHYRA_SOURCE_DIR) + "/artifacts";
    std::filesystem::create_directories(strDir);
    EXPECT_TRUE(g_pWine->m_display.Screenshot(strDir + "/wine-running-test.png"));

    Window({"click:1002", "wait:text:1002:开始连接测试", "wait:enabled:1003:1",
            "wait:enabled:1007:1", "boxes:1500", "click:1000", "wait:text:1000:启动服务",
            "wait:enabled:1000:1", "enabled:1008"},
           {"boxes 0", "enabled 1008 0"});
    CloseApp();
}

TEST_F(WineTachyra, SecondServerClickBeforeTheSocketExistsStartsNoSecondRun) {
    StartApp();
    // Two clicks queued back to back: the second reaches the window before the run has
    // its socket. It stops that run; a second run would fail to bind and say so.
    Window({"set:1001:" + strPort, "click:1000", "click:1000", "wait:text:1000:启动服务:15000",
            "wait:enabled:1000:1", "boxes:1500", "enabled:1001"},
           {"boxes 0", "enabled 1001 1"});
    // The port is free again: a new start listens.
    Window({"click:1000", "wait:text:1000:停止", "boxes:1000"}, {"boxes 0"});
    CloseApp();
}

TEST_F(WineTachyra, StoppingTheServerWhileAnotherProcessStreamsShowsStopping) {
    StartApp();
    Window({"set:1001:" + strPort, "click:1000", "wait:text:1000:停止"});
    CChildProcess cli;
    ASSERT_TRUE(cli.Start({CliPath(), "-c", "127.0.0.1", "-p", strPort, "-t", "0"}, {}, false));
    Window({"wait-rate:1:15000", "click:1000", "seen:text:1000:正在停止",
            "wait:text:1000:启动服务:15000", "wait:enabled:1000:1", "enabled:1001"},
           {"enabled 1001 1"});
    // The cut ends the peer's test; it must not outlive the test either way.
    cli.Wait(seconds(15));
    CloseApp();
}

TEST_F(WineTachyra, ClientAgainstAClosedPortShowsExactlyOneError) {
    StartApp();
    std::string strOut = Window({"set:1004:" + strPort, "click:1002", "box:20000", "boxes:2000",
                                 "wait:text:1002:开始连接测试", "wait:enabled:1004:1",
                                 "enabled:1002", "enabled:1003", "enabled:1007"},
                                {"boxes 0", "enabled 1002 1", "enabled 1003 1", "enabled 1007 1"});
    EXPECT_NE(strOut.find("box Tachyra | (10061)："), std::string::npos) << strOut;
    EXPECT_NE(strOut.find(" | icon\n"), std::string::npos) << strOut;
    EXPECT_EQ(strOut.find("box Tachyra |"), strOut.rfind("box Tachyra |")) << strOut;
    CloseApp();
}

TEST_F(WineTachyra, InvalidPortsShowTheExactMessagesAndStartNothing) {
    StartApp();
    std::string strOut =
        Window({"set:1001:" + strPort, "set:1004:65536", "click:1000", "box:10000", "boxes:1000",
                "text:1000", "enabled:1001", "set:1004:abc", "click:1002", "box:10000",
                "boxes:1000", "text:1002", "enabled:1003", "set:1004:10001"},
               {kRangeBox, kIntegerBox, "text 1000 启动服务", "enabled 1001 1",
                "text 1002 开始连接测试", "enabled 1003 1"});
    const size_t nFirst = strOut.find("boxes 0\n");
    EXPECT_NE(std::string::npos, strOut.find("boxes 0\n", nFirst + 1)) << strOut; // twice
    CloseApp();
}

TEST_F(WineTachyra, ListenPortInUseShowsTheBindError) {
    // A native peer listens on 127.0.0.1, which a bind to every interface collides with.
    CChildProcess holder;
    ASSERT_TRUE(holder.Start({CliPath(), "-s", "-p", strPort, "-B", "127.0.0.1"}, {}, true));
    StartApp();
    std::string strOut =
        Window({"set:1001:" + strPort, "click:1000", "box:20000", "wait:text:1000:启动服务",
                "wait:enabled:1008:0", "enabled:1001", "enabled:1000"},
               {"enabled 1001 1", "enabled 1000 1"});
    EXPECT_NE(strOut.find("box Tachyra | (10048)："), std::string::npos) << strOut;
    StopPeer(holder);
    CloseApp();
}

TEST_F(WineTachyra, CloseWhileServerAndTenSessionsRunSavesAndExitsWithOne) {
    StartApp();
    Window({"set:1001:" + strPort, "set:1004:" + strPort, "set:1003:localhost", "click:1000",
            "wait:text:1000:停止", "click:1002", "wait:text:1002:停止测试", "wait-rate:1:15000"});
    CloseApp();
    ExpectSettings(strPort, "localhost", "下载");
}

TEST_F(WineTachyra, ClosingWithAnOutOfRangePortWarnsSavesItAndShowsItAgain) {
    StartApp();
    Window({"set:1001:70000", "close", "box:10000", "gone:10000"}, {kRangeBox});
    EXPECT_EQ(1, app.Wait(seconds(15)));
    Drive({"reg-get:m_nListenPort"}, {"reg m_nListenPort dword 70000"});
    StartApp(kChinese, true);
    Window({"text:1001", "set:1001:10001"}, {"text 1001 70000"});
    CloseApp();
}

TEST_F(WineTachyra, StoredTypePrefixSelectsDownloadAndUnmatchedRunsAsUpload) {
    Drive({"reg-clear", "reg-set:m_strType:下"});
    StartApp(kChinese, true);
    Window({"text:1007"}, {"text 1007 下载"});
    CloseApp();

    // No item begins with this: nothing is selected, and a test then uploads, so this
    // process only sends to the native server.
    Drive({"reg-set:m_strType:sideways"});
    CChildProcess server;
    ASSERT_TRUE(server.Start({CliPath(), "-s", "-p", strPort, "-B", "127.0.0.1"}, {}, true));
    StartApp(kChinese, true);
    Window({"text:1007", "set:1004:" + strPort, "click:1002", "wait:text:1002:停止测试",
            "wait-rate:1:15000", "pane:0", "click:1002", "wait:text:1002:开始连接测试"},
           {"text 1007 ", "pane 0     接收：0.00MB/s"});
    StopPeer(server);
    CloseApp();
}

TEST_F(WineTachyra, EscapeAndEnterDoNotCloseTheWindow) {
    StartApp();
    Window({"key:1001:27", "key:1003:13", "key:1000:27", "key:1007:13", "exists", "boxes:500"},
           {"exists 1", "boxes 0"});
    EXPECT_TRUE(app.Running());
    CloseApp();
}

TEST_F(WineTachyra, QueuedCommandsGrowThePoolAndCtrlASelectsAll) {
    CProcessResult r =
        g_pWine->Run(kBuild + "/tests/wine/driver/framework-probe.exe", {}, kChinese);
    EXPECT_EQ(r.nExitCode, 0) << r.strOutput;
    for (const char* psz :
         {"nine queued commands grow the pool to 10", "every record came back",
          "the last update won", "Ctrl+Shift+A leaves the selection alone",
          "Ctrl+A selects the whole edit text", "queued updates went back to the pool",
          "queued updates had no effect", "a TEXT resource is cut at its first zero",
          "a missing TEXT resource is empty"})
        EXPECT_TRUE(Has(r.strOutput, std::string("ok ") + psz)) << psz << ":\n" << r.strOutput;
}

TEST_F(WineTachyra, FatalStopShowsItsBoxAndEndsWithExitCodeZero) {
    CChildProcess probe;
    ASSERT_TRUE(
        g_pWine->Start(probe, kBuild + "/tests/wine/driver/fatal-stop-probe.exe", {}, kChinese));
    Drive({"box:30000"}, {"box (((m -_-) | 不支持该操作系统(GTC) | icon"});
    EXPECT_EQ(0, probe.Wait(seconds(15)));
}
