// The Linux window, run for real under Xvfb and driven as a user would: through the
// program's test control channel (read controls, click, set texts, answer message boxes)
// and through real X input (xdotool) for keys and mouse clicks.
#include "testkit/raw_socket.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

const std::string kServerStart = "启动服务";
const std::string kServerStop = "停止";
const std::string kClientStart = "开始连接测试";
const std::string kClientStop = "停止测试";
const std::string kRangeText = "请输入一个在 1 和 65535 之间的整数。";
const std::string kIdleRecv = "    接收：0.00MB/s";

std::string ReadWholeFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& strPath, const std::string& strText) {
    fs::create_directories(fs::path(strPath).parent_path());
    std::ofstream(strPath, std::ios::binary | std::ios::trunc) << strText;
}

// The number in "<name>：12.34MB/s"; -1 when there is none.
double PaneRate(const std::string& strPane) {
    size_t nColon = strPane.find("：");
    return nColon == std::string::npos ? -1 : std::strtod(strPane.c_str() + nColon + 3, nullptr);
}

// The tachyra program on a private display, with its config and data under m_strRoot and
// the control channel on descriptor 3.
class GtkWindow : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/tachyra-gtk-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_strRoot = szTemplate;
        std::string strError;
        ASSERT_TRUE(m_display.Start(strError)) << strError;
        m_nPort = ClosedLoopbackPort();
        m_strPort = std::to_string(m_nPort);
    }
    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "program output:\n%s\n", Output().c_str());
        WaitExit(0);
        m_display.Stop();
        std::error_code ec;
        fs::remove_all(m_strRoot, ec);
    }

    // Starts it and waits until its window is mapped. nFileSizeLimit > 0: a write past it
    // fails as on a full disk.
    void Launch(long nFileSizeLimit = 0) {
        int aPair[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, aPair));
        std::vector<std::string> vecArgs = {"/usr/bin/env", "-i",
                                            "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                                            "GDK_BACKEND=x11"};
        vecArgs.insert(vecArgs.end(),
                       {"NO_AT_BRIDGE=1", "GTK_A11Y=none", "GSETTINGS_BACKEND=memory",
                        "TACHYRA_TEST_CONTROL_FD=3", "DISPLAY=" + m_display.Name()});
        vecArgs.push_back("XDG_DATA_DIRS=" + m_strRoot + "/data:/usr/local/share:/usr/share");
        for (std::string str : {"HOME=/home", "XDG_CONFIG_HOME=/config", "XDG_DATA_HOME=/data",
                                "XDG_CACHE_HOME=/cache", "XDG_RUNTIME_DIR=/run"})
            vecArgs.push_back(str.insert(str.find('=') + 1, m_strRoot)); // all under the root
        if (nFileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN); // inherited: EFBIG instead of death
            vecArgs.insert(vecArgs.end(),
                           {"/usr/bin/prlimit", "--fsize=" + std::to_string(nFileSizeLimit)});
        }
        vecArgs.push_back(TACHYRA_GTK_APP_PATH);
        fs::create_directories(m_strRoot + "/run");
        fs::permissions(m_strRoot + "/run", fs::perms::owner_all);
        const bool bStarted = m_child.Start(vecArgs, {}, true, aPair[1]);
        close(aPair[1]);
        m_control.Adopt(aPair[0]);
        ASSERT_TRUE(bStarted && WaitFor("mapped", "1", 20))
            << "the window did not appear; output:\n"
            << Output();
    }

    // One request; the reply without "ok ", unescaped. An "err ..." reply comes back whole.
    std::string Ask(const std::string& strRequest) {
        if (!m_control.Send(strRequest + "\n"))
            return "err lost";
        std::string strReply, strByte;
        bool bClosed = false;
        while ((strByte = m_control.Recv(1, &bClosed, seconds(10))) != "\n") {
            if (strByte.empty())
                return bClosed ? "err lost" : "err timeout";
            strReply += strByte;
        }
        if (strReply.compare(0, 2, "ok") != 0)
            return strReply;
        std::string strOut;
        for (size_t i = 3; i < strReply.size(); ++i) {
            char ch = strReply[i];
            if (ch == '\\' && i + 1 < strReply.size())
                ch = strReply[++i] == 'n' ? '\n' : strReply[i] == 't' ? '\t' : strReply[i];
            strOut += ch;
        }
        return strOut;
    }
    bool WaitFor(const std::string& strRequest, const std::string& strExpected, int nSeconds = 10) {
        return WaitUntil([&] { return Ask(strRequest) == strExpected; }, seconds(nSeconds));
    }
    // Request, expected reply, request, expected reply, ...; with bWait each may take time.
    void ExpectReplies(const std::vector<std::string>& vec, bool bWait = false) {
        for (size_t i = 0; i + 1 < vec.size(); i += 2) {
            if (bWait)
                EXPECT_TRUE(WaitFor(vec[i], vec[i + 1])) << vec[i] << ": " << Ask(vec[i]);
            else
                EXPECT_EQ(vec[i + 1], Ask(vec[i])) << vec[i];
        }
    }
    // Waits (bounded) for the process to end: its exit code, 128 + the signal that ended
    // it, or -1 (still running, then killed).
    int WaitExit(int nSeconds = 10) {
        const int nCode = m_child.Wait(seconds(nSeconds));
        m_control.Close();
        return nCode;
    }
    std::string Output() { return m_child.Stdout() + m_child.Stderr(); }
    bool Listening() { return CRawSocket().Connect(m_nPort); }

    // Real X input: keys to the focused window, text typed, a click at a point "x y".
    bool Key(const std::string& strKeys) {
        return m_display.Run({"xdotool", "key", "--clearmodifiers", strKeys});
    }
    bool ClickAt(const std::string& strWhere) {
        int x = 0, y = 0;
        return std::sscanf(strWhere.c_str(), "%d %d", &x, &y) == 2 &&
               m_display.Run(
                   {"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }
    // Gives the window the input focus and waits until GTK reports it active.
    bool Focus() {
        std::string strXid = Ask("xid");
        return WaitUntil([&] {
            if (Ask("active") == "1")
                return true;
            m_display.Run({"xdotool", "windowfocus", strXid});
            return false;
        });
    }

    std::string ConfigHome() const { return m_strRoot + "/config"; }
    std::string SettingsPath() const { return ConfigHome() + "/tachyra/settings.ini"; }
    std::string Settings() { return ReadWholeFile(SettingsPath()); }

    // Waits for exactly one message box, checks "kind, title, text, modal, visible",
    // answers it and (unless the answer ends the program) waits until it has gone.
    void ExpectBox(const std::string& strKind, const std::string& strText, bool bStays = true) {
        ASSERT_TRUE(WaitFor("dialogs", "1")) << "dialogs: " << Ask("dialogs");
        EXPECT_EQ(strKind + "\tTachyra\t" + strText + "\tmodal\tvisible", Ask("dialog 0"));
        EXPECT_EQ("", Ask("answer 0"));
        EXPECT_TRUE(!bStays || WaitFor("dialogs", "0"));
    }
    void Click(int nId) { ASSERT_EQ("clicked", Ask("click " + std::to_string(nId))); }
    void SetText(int nId, const std::string& strText) {
        ASSERT_EQ("", Ask("settext " + std::to_string(nId) + " " + strText));
    }
    // Starts the server on m_nPort, a free port.
    void StartServer() {
        SetText(1001, m_strPort);
        Click(1000);
        ASSERT_TRUE(WaitFor("text 1000", kServerStop));
        ASSERT_TRUE(WaitUntil([&] { return Listening(); }));
    }
    // Closes with the close command and expects exit code 1 and these settings.
    void CloseAndExpectSettings(const std::string& strSettings) {
        ASSERT_EQ("", Ask("close"));
        EXPECT_EQ(1, WaitExit());
        EXPECT_EQ(strSettings, Settings());
    }

    CXvfbDisplay m_display;
    std::string m_strRoot;
    CChildProcess m_child;
    CRawSocket m_control; // the control channel
    int m_nPort = 0;
    std::string m_strPort;
};

} // namespace

TEST_F(GtkWindow, NoDamagedOrPrefixSettingsShowTheDefaultsAndAreReplacedOnClose) {
    // A first run; a settings file that is not one; a stored type that is a prefix of
    // "下载" only.
    const std::string strSaved = "[Kestrun]\nm_nListenPort=10001\nm_nServerPort=10001\n"
                                 "m_strServerAddr=\"127.0.0.1\"\nm_strType=\"";
    for (const std::string& strOld :
         {std::string(), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR garbage [Kestrun]\n", 33),
          strSaved + "下\"\n"}) {
        SCOPED_TRACE(strOld);
        if (!strOld.empty())
            WriteWholeFile(SettingsPath(), strOld);
        Launch();
        // The list is sorted: "上传" before "下载". The icons are drawn from the Windows
        // icon's SVG.
        ExpectReplies({"caption",        "Tachyra - v18.0701",
                       "text 1001",      "10001",
                       "text 1003",      "127.0.0.1",
                       "text 1004",      "10001",
                       "text 1007",      "下载",
                       "combo 1007",     "1\t上传\t下载",
                       "text 1000",      kServerStart,
                       "text 1002",      kClientStart,
                       "text 1008",      "使用JS.WebSocket测试",
                       "enabled 1008",   "0",
                       "enabled 1000",   "1",
                       "enabled 1001",   "1",
                       "panes",          "2 visible",
                       "pane 0",         kIdleRecv,
                       "pane 1",         "发送：0.00MB/s",
                       "panegeometry 0", "0 180",
                       "panetip 0",      "",
                       "panetip 1",      "",
                       "taborder",       "1000 1001 1002 1003 1004 1007 1008",
                       "focus",          "1000",
                       "menu",           "访问官网...",
                       "contextmenu",    "最小化\t关闭\t-\t访问官网...",
                       "dialogs",        "0",
                       "icons",          "16 32 48 64 128"});
        // The half-second status timer runs.
        EXPECT_TRUE(WaitUntil([&] { return std::atoi(Ask("timer").c_str()) >= 2; }));
        EXPECT_EQ(strOld, Settings()); // nothing is written before the close
        CloseAndExpectSettings(strSaved + "下载\"\n");
    }
}

TEST_F(GtkWindow, ServerStartsByMouseOpensItsPagesStopsWhileAPeerStreamsAndRestarts) {
    // A default handler for web addresses that only writes down what it was given.
    const std::string strOpened = m_strRoot + "/opened.txt";
    const std::string strScript = m_strRoot + "/opener.sh";
    WriteWholeFile(strScript, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + strOpened + "'\n");
    fs::permissions(strScript, fs::perms::owner_all);
    WriteWholeFile(m_strRoot + "/data/applications/test-opener.desktop",
                   "[Desktop Entry]\nType=Application\nName=Opener\nExec=" + strScript +
                       " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    WriteWholeFile(ConfigHome() + "/mimeapps.list",
                   "[Default Applications]\nx-scheme-handler/http=test-opener.desktop\n"
                   "x-scheme-handler/https=test-opener.desktop\n");
    Launch();
    SetText(1001, m_strPort);
    ASSERT_TRUE(ClickAt(Ask("geometry 1000"))); // a real click on the button's centre
    ASSERT_TRUE(WaitFor("text 1000", kServerStop));
    ASSERT_TRUE(WaitUntil([&] { return Listening(); }));
    // The server thread sets the caption first, then the two enabled states.
    EXPECT_TRUE(WaitFor("enabled 1001", "0"));
    EXPECT_TRUE(WaitFor("enabled 1008", "1"));
    EXPECT_EQ("1", Ask("enabled 1000"));

    std::string strWant = "http://127.0.0.1:" + m_strPort + "/\n";
    for (const char* pszRequest :
         {"click 1008", "activate 访问官网...", "contextactivate 访问官网..."}) {
        ASSERT_NE(0u, Ask(pszRequest).find("err")) << pszRequest;
        EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(strOpened) == strWant; }))
            << pszRequest << ": " << ReadWholeFile(strOpened);
        strWant += "https://tachyra.example.org/\n";
    }

    // A second process downloads from the server until the server cuts it.
    CChildProcess peer;
    ASSERT_TRUE(peer.Start({CliPath(), "-c", "127.0.0.1", "-p", m_strPort, "-t", "0"}, {}, false));
    EXPECT_TRUE(WaitUntil([&] { return PaneRate(Ask("pane 1")) > 0; }, seconds(15)))
        << Ask("pane 1");
    ASSERT_EQ("", Ask("watch 1000"));
    Click(1000);
    ASSERT_TRUE(WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(WaitFor("enabled 1000", "1"));
    ExpectReplies({"enabled 1001", "1", "enabled 1008", "0", "history 1000",
                   "disabled\t正在停止\t启动服务\tenabled"});
    EXPECT_NE(-1, peer.Wait(seconds(10))); // cut, it ends by itself
    EXPECT_FALSE(Listening());
    StartServer(); // a prompt restart on the same port works, and so does an idle stop
    Click(1000);
    EXPECT_TRUE(WaitFor("text 1000", kServerStart));
    EXPECT_EQ("0", Ask("dialogs")); // nor did a page opened above leave a box
    EXPECT_EQ("", Settings());
}

TEST_F(GtkWindow, ClientRunsAgainstItsOwnServerAndCloseSavesWhatWasEntered) {
    Launch();
    StartServer();
    SetText(1004, m_strPort);
    Click(1002);
    ASSERT_TRUE(WaitFor("text 1002", kClientStop));
    EXPECT_TRUE(WaitUntil(
        [&] { return PaneRate(Ask("pane 0")) > 0 && PaneRate(Ask("pane 1")) > 0; }, seconds(15)))
        << Ask("pane 0") << " / " << Ask("pane 1");
    EXPECT_EQ(0u, Ask("pane 0").find("    接收："));
    EXPECT_EQ(0u, Ask("pane 1").find("发送："));
    // The screenshot of the running test is kept with the build as an artifact.
    const std::string strShot = std::string(TACHYRA_ARTIFACT_DIR) + "/gtk-window-running.png";
    EXPECT_TRUE(m_display.Screenshot(strShot));
    EXPECT_GT(ReadWholeFile(strShot).size(), 1000u);
    Click(1002);
    ASSERT_TRUE(WaitFor("text 1002", kClientStart));
    EXPECT_TRUE(WaitFor("enabled 1002", "1"));
    // The box of a failed test would have come before the caption went back.
    ExpectReplies({"dialogs", "0", "text 1000", kServerStop});

    // A real click on the title bar's close button while both sides run.
    SetText(1003, "localhost");
    Click(1002);
    ASSERT_TRUE(WaitFor("text 1002", kClientStop));
    ASSERT_EQ("", Ask("select 1007 0")); // 上传, for the next start
    ASSERT_TRUE(ClickAt(Ask("closebutton")));
    EXPECT_EQ(1, WaitExit(15));
    EXPECT_EQ("[Kestrun]\nm_nListenPort=" + m_strPort + "\nm_nServerPort=" + m_strPort +
                  "\nm_strServerAddr=\"localhost\"\nm_strType=\"上传\"\n",
              Settings());
    Launch(); // the next start shows what was saved
    ExpectReplies(
        {"text 1001", m_strPort, "text 1003", "localhost", "combo 1007", "0\t上传\t下载"});

    // An out-of-range port at the close: the box, and once it is answered the close goes
    // on, saves the number and the process ends.
    SetText(1001, "70000");
    ASSERT_EQ("", Ask("close"));
    ASSERT_TRUE(WaitFor("dialogs", "1"));
    EXPECT_TRUE(m_child.Running());
    ExpectBox("warning", kRangeText, false);
    EXPECT_EQ(1, WaitExit());
    EXPECT_NE(std::string::npos, Settings().find("m_nListenPort=70000\n"));
    Launch();
    EXPECT_EQ("70000", Ask("text 1001"));
}

TEST_F(GtkWindow, EachRefusedStartShowsOneBoxAndLeavesBothSidesStopped) {
    Launch();
    CLoopbackPort busy(true);
    // Listen port, server port, the button pressed, the box, and for a bad value the
    // entry that gets the focus.
    const struct {
        std::string strListen, strServer;
        int nButton;
        const char* pszKind;
        std::string strText, strFocus;
    } aCases[] = {
        {"10001", "65536", 1000, "warning", kRangeText, "1004"},
        {"10001", "abc", 1002, "plain", "请输入一个整数。", "1004"},
        {"0", "10001", 1002, "warning", kRangeText, "1001"}, // the client checks it too
        {std::to_string(busy.Port()), "10001", 1000, "plain", "(98)：Address already in use", ""},
        // Nobody listens there: all ten sessions fail, and one box comes.
        {"10001", m_strPort, 1002, "error", "(111)：Connection refused", ""}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.strListen + " " + c.strServer + " " + std::to_string(c.nButton));
        SetText(1001, c.strListen);
        SetText(1004, c.strServer);
        Click(c.nButton);
        ExpectBox(c.pszKind, c.strText);
        if (!c.strFocus.empty()) {
            EXPECT_EQ(c.strFocus, Ask("focus"));
        }
        ExpectReplies({"text 1000", kServerStart, "text 1002", kClientStart, "enabled 1001", "1",
                       "enabled 1002", "1", "enabled 1003", "1", "enabled 1004", "1",
                       "enabled 1008", "0", "dialogs", "0"},
                      true);
    }
}

TEST_F(GtkWindow, TabFollowsTheTemplateOrderCtrlASelectsAllAndEscAndEnterDoNothing) {
    Launch();
    ASSERT_TRUE(Focus());
    ASSERT_EQ("1000", Ask("focus"));
    for (const char* pszNext : {"1001", "1002", "1003", "1004", "1007"}) {
        ASSERT_TRUE(Key("Tab"));
        ASSERT_TRUE(WaitFor("focus", pszNext)) << "focus " << Ask("focus");
    }
    ASSERT_EQ("", Ask("grabfocus 1003"));
    ASSERT_TRUE(Key("End"));
    ASSERT_TRUE(WaitFor("selection 1003", "9 9"));
    ASSERT_TRUE(Key("ctrl+a"));
    EXPECT_TRUE(WaitFor("selection 1003", "0 9"));
    // Ctrl+Shift+A is not ours: the entry's own binding clears the selection.
    ASSERT_TRUE(Key("ctrl+shift+a"));
    EXPECT_TRUE(WaitUntil([&] {
        int nStart = -1, nEnd = -2;
        return std::sscanf(Ask("selection 1003").c_str(), "%d %d", &nStart, &nEnd) == 2 &&
               nStart == nEnd;
    })) << Ask("selection 1003");

    // Esc and Enter in the entry, then on the focused server button (Enter must not press
    // it). Keys arrive in order: once the last one has shown its effect, those before
    // were handled.
    for (const char* pszKey : {"Escape", "Return", "KP_Enter", "End"})
        ASSERT_TRUE(Key(pszKey));
    ASSERT_TRUE(m_display.Run({"xdotool", "type", "--delay", "20", "x"}));
    ASSERT_TRUE(WaitFor("text 1003", "127.0.0.1x"));
    ASSERT_EQ("", Ask("grabfocus 1000"));
    for (const char* pszKey : {"Return", "Escape", "Tab"})
        ASSERT_TRUE(Key(pszKey));
    ASSERT_TRUE(WaitFor("focus", "1001"));
    ExpectReplies({"text 1000", kServerStart, "mapped", "1", "dialogs", "0"});
    EXPECT_EQ("", Settings());
}

TEST_F(GtkWindow, UnmatchedTypeTestsUploadAndUnwritableSettingsLeaveTheOldFileIntact) {
    // No item begins with "xyz": nothing is selected, and a test uploads, so this
    // process only sends to tachyra-cli's server.
    CChildProcess server;
    const int nPort = StartCliServer(server);
    ASSERT_NE(0, nPort);
    const std::string strOld =
        "[Kestrun]\nm_nListenPort=4321\nm_nServerPort=" + std::to_string(nPort) +
        "\nm_strServerAddr=\"127.0.0.1\"\nm_strType=\"xyz\"\n";
    WriteWholeFile(SettingsPath(), strOld);
    Launch(16); // every settings write fails as on a full disk
    ExpectReplies({"text 1001", "4321", "combo 1007", "-1\t上传\t下载", "text 1007", ""});
    Click(1002);
    ASSERT_TRUE(WaitFor("text 1002", kClientStop));
    EXPECT_TRUE(WaitUntil([&] { return PaneRate(Ask("pane 1")) > 0; }, seconds(15)))
        << Ask("pane 1");
    EXPECT_EQ(kIdleRecv, Ask("pane 0"));
    Click(1002);
    EXPECT_TRUE(WaitFor("text 1002", kClientStart));

    SetText(1001, "5555");
    CloseAndExpectSettings(strOld);
    // No temporary file is left beside it.
    std::string strList;
    for (const auto& entry : fs::directory_iterator(ConfigHome() + "/tachyra"))
        strList += entry.path().filename().string() + ";";
    EXPECT_EQ("settings.ini;", strList);
}

TEST(HeadlessFallback, WithoutADisplayItSaysSoAndRunsTheServer) {
    // The fallback listens on port 10001 of every interface, so it runs in a network
    // namespace of its own, where no interface but its own loopback exists.
    CChildProcess app;
    ASSERT_TRUE(app.Start({"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "LANG=C.UTF-8", "unshare",
                           "-n", TACHYRA_GTK_APP_PATH}));
    const bool bListening = !app.WaitForLine("listening on port 10001", seconds(10)).empty();
    if (!bListening && app.Stderr().find("unshare") != std::string::npos)
        GTEST_SKIP() << "no network namespace can be made here: " << app.Stderr();
    app.Signal(SIGINT);
    EXPECT_EQ(0, app.Wait(seconds(10)));
    EXPECT_TRUE(bListening) << app.Stdout();
    EXPECT_EQ(0u, app.Stdout().find("No display found: starting the headless test server"))
        << app.Stdout();
}
