// The Linux window, run for real under Xvfb and driven as a user would: through the
// program's test control channel (read controls, click, set texts, answer message boxes)
// and through real X input (xdotool) for keys and mouse clicks.
#include "testkit/raw_socket.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using CReplies = std::vector<std::string>;

const std::string kCaption = "Tachyra - v18.0701";
const std::string kServerStart = "启动服务";
const std::string kServerStop = "停止";
const std::string kClientStart = "开始连接测试";
const std::string kClientStop = "停止测试";
const std::string kRangeText = "请输入一个在 1 和 65535 之间的整数。";
const std::string kIntegerText = "请输入一个整数。";
const std::string kIdleRecv = "    接收：0.00MB/s";

std::string ReadWholeFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
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

bool CanConnect(int nPort) {
    CRawSocket sock;
    return sock.Connect(nPort);
}

// The tachyra program on the display, with its config and data under strRoot and the
// control channel on descriptor 3.
class CWindow {
public:
    CWindow(CXvfbDisplay& display, std::string strRoot)
        : m_display(display), m_strRoot(std::move(strRoot)) {}
    ~CWindow() { WaitExit(0); }

    // Starts it and waits until its window is mapped. nFileSizeLimit > 0: a write past it
    // fails as on a full disk.
    bool Launch(std::string& strError, long nFileSizeLimit = 0) {
        int aPair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, aPair) != 0) {
            strError = "socketpair failed";
            return false;
        }
        std::vector<std::string> vecArgs = {"/usr/bin/env",
                                            "-i",
                                            "PATH=/usr/local/bin:/usr/bin:/bin",
                                            "LANG=C.UTF-8",
                                            "GDK_BACKEND=x11",
                                            "NO_AT_BRIDGE=1",
                                            "GTK_A11Y=none",
                                            "GSETTINGS_BACKEND=memory",
                                            "TACHYRA_TEST_CONTROL_FD=3",
                                            "DISPLAY=" + m_display.Name(),
                                            "XDG_DATA_DIRS=" + m_strRoot +
                                                "/data:/usr/local/share:/usr/share"};
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
        if (bStarted && WaitFor("mapped", "1", 20))
            return true;
        strError = "the window did not appear; output:\n" + Output();
        return false;
    }

    // One request; the reply without "ok ", unescaped. An "err ..." reply comes back whole.
    std::string Ask(const std::string& strRequest) {
        if (!m_control.Send(strRequest + "\n"))
            return "err lost";
        const auto tEnd = std::chrono::steady_clock::now() + seconds(10);
        std::string strReply, strByte;
        bool bClosed = false;
        while ((strByte = m_control.Recv(1, &bClosed, seconds(1))) != "\n") {
            if (bClosed || std::chrono::steady_clock::now() >= tEnd)
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
    // Request, expected reply, request, expected reply, ...
    void ExpectReplies(const CReplies& vec) {
        for (size_t i = 0; i + 1 < vec.size(); i += 2)
            EXPECT_EQ(vec[i + 1], Ask(vec[i])) << vec[i];
    }
    // Waits (bounded) for the process to end: its exit code, 128 + the signal that ended
    // it, or -1 (still running, then killed).
    int WaitExit(int nSeconds = 10) {
        const int nCode = m_child.Wait(seconds(nSeconds));
        m_control.Close();
        return nCode;
    }
    bool Running() { return m_child.Running(); }

    // Real X input: keys to the focused window, text typed, a click at a point.
    bool Key(const std::string& strKeys) {
        return m_display.Run({"xdotool", "key", "--clearmodifiers", strKeys});
    }
    bool Type(const std::string& strText) {
        return m_display.Run({"xdotool", "type", "--delay", "20", strText});
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
    std::string Output() { return m_child.Stdout() + m_child.Stderr(); }

private:
    CXvfbDisplay& m_display;
    std::string m_strRoot;
    CChildProcess m_child;
    CRawSocket m_control; // the control channel
};

class GtkWindow : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/tachyra-gtk-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_strRoot = szTemplate;
        std::string strError;
        ASSERT_TRUE(m_display.Start(strError)) << strError;
        m_pApp.reset(new CWindow(m_display, m_strRoot));
        m_nPort = ClosedLoopbackPort();
        m_strPort = std::to_string(m_nPort);
    }
    void TearDown() override {
        if (HasFailure() && m_pApp)
            std::fprintf(stderr, "program output:\n%s\n", m_pApp->Output().c_str());
        m_pApp.reset();
        m_display.Stop();
        std::error_code ec;
        fs::remove_all(m_strRoot, ec);
    }
    void Launch(long nFileSizeLimit = 0) {
        std::string strError;
        ASSERT_TRUE(m_pApp->Launch(strError, nFileSizeLimit)) << strError;
    }
    CWindow& App() { return *m_pApp; }
    std::string Settings() { return ReadWholeFile(App().SettingsPath()); }

    // Waits for exactly one message box, checks "kind, title, text, modal, visible",
    // answers it and (unless the answer ends the program) waits until it has gone.
    void ExpectBox(const std::string& strKind, const std::string& strText, bool bStays = true) {
        ASSERT_TRUE(App().WaitFor("dialogs", "1")) << "dialogs: " << App().Ask("dialogs");
        EXPECT_EQ(strKind + "\tTachyra\t" + strText + "\tmodal\tvisible", App().Ask("dialog 0"));
        EXPECT_EQ("", App().Ask("answer 0"));
        EXPECT_TRUE(!bStays || App().WaitFor("dialogs", "0"));
    }
    void Click(int nId) { ASSERT_EQ("clicked", App().Ask("click " + std::to_string(nId))); }
    void SetText(int nId, const std::string& strText) {
        ASSERT_EQ("", App().Ask("settext " + std::to_string(nId) + " " + strText));
    }
    // Starts the server on m_nPort, a free port.
    void StartServer() {
        SetText(1001, m_strPort);
        Click(1000);
        ASSERT_TRUE(App().WaitFor("text 1000", kServerStop));
        ASSERT_TRUE(WaitUntil([&] { return CanConnect(m_nPort); }));
    }
    // Closes with the close command and expects exit code 1 and these settings.
    void CloseAndExpectSettings(const std::string& strSettings) {
        ASSERT_EQ("", App().Ask("close"));
        EXPECT_EQ(1, App().WaitExit());
        EXPECT_EQ(strSettings, Settings());
    }

    CXvfbDisplay m_display;
    std::string m_strRoot;
    std::unique_ptr<CWindow> m_pApp;
    int m_nPort = 0;
    std::string m_strPort;
};

} // namespace

TEST_F(GtkWindow, FirstRunShowsTheDefaults) {
    Launch();
    // The list is sorted: "上传" before "下载". The icons are drawn from the Windows icon's SVG.
    App().ExpectReplies({"caption",        kCaption,
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
    EXPECT_TRUE(WaitUntil([&] { return std::atoi(App().Ask("timer").c_str()) >= 2; }));
    EXPECT_EQ("", Settings()); // nothing is written before the close
}

TEST_F(GtkWindow, ServerStartsStopsAndRestarts) {
    Launch();
    StartServer();
    // The server thread sets the caption first, then the two enabled states.
    EXPECT_TRUE(App().WaitFor("enabled 1001", "0"));
    EXPECT_TRUE(App().WaitFor("enabled 1008", "1"));
    EXPECT_EQ("1", App().Ask("enabled 1000"));
    Click(1000);
    ASSERT_TRUE(App().WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(App().WaitFor("enabled 1000", "1"));
    App().ExpectReplies({"enabled 1001", "1", "enabled 1008", "0"});
    EXPECT_FALSE(CanConnect(m_nPort));
    StartServer(); // a prompt restart on the same port works
    EXPECT_EQ("0", App().Ask("dialogs"));
    EXPECT_EQ("", Settings());
}

TEST_F(GtkWindow, StoppingWhileAPeerStreamsShowsStoppingFirst) {
    Launch();
    StartServer();
    // A second process downloads from the server until the server cuts it.
    CChildProcess peer;
    ASSERT_TRUE(peer.Start({CliPath(), "-c", "127.0.0.1", "-p", m_strPort, "-t", "0"}, {}, false));
    EXPECT_TRUE(WaitUntil([&] { return PaneRate(App().Ask("pane 1")) > 0; }, seconds(15)))
        << App().Ask("pane 1");
    ASSERT_EQ("", App().Ask("watch 1000"));
    Click(1000);
    EXPECT_TRUE(App().WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(App().WaitFor("enabled 1000", "1"));
    EXPECT_EQ("disabled\t正在停止\t启动服务\tenabled", App().Ask("history 1000"));
    EXPECT_NE(-1, peer.Wait(seconds(10))); // cut, it ends by itself
}

TEST_F(GtkWindow, RealMouseClickStartsTheServer) {
    Launch();
    SetText(1001, m_strPort);
    ASSERT_TRUE(App().ClickAt(App().Ask("geometry 1000"))); // the button's centre
    ASSERT_TRUE(App().WaitFor("text 1000", kServerStop));
    EXPECT_TRUE(WaitUntil([&] { return CanConnect(m_nPort); }));
}

TEST_F(GtkWindow, ClientTestAgainstItselfFillsBothPanes) {
    Launch();
    StartServer();
    SetText(1004, m_strPort);
    Click(1002);
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStop));
    EXPECT_TRUE(WaitUntil(
        [&] { return PaneRate(App().Ask("pane 0")) > 0 && PaneRate(App().Ask("pane 1")) > 0; },
        seconds(15)))
        << App().Ask("pane 0") << " / " << App().Ask("pane 1");
    EXPECT_EQ(0u, App().Ask("pane 0").find("    接收："));
    EXPECT_EQ(0u, App().Ask("pane 1").find("发送："));
    // The screenshot of the running test is kept with the build as an artifact.
    const std::string strShot = std::string(TACHYRA_ARTIFACT_DIR) + "/gtk-window-running.png";
    EXPECT_TRUE(m_display.Screenshot(strShot));
    EXPECT_GT(ReadWholeFile(strShot).size(), 1000u);

    Click(1002);
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStart));
    EXPECT_TRUE(App().WaitFor("enabled 1002", "1"));
    // The box of a failed test would have come before the caption went back.
    App().ExpectReplies({"dialogs", "0", "text 1000", kServerStop});
}

TEST_F(GtkWindow, RefusedConnectionShowsOneErrorBox) {
    Launch();
    SetText(1004, m_strPort); // nobody listens there
    Click(1002);
    ExpectBox("error", "(111)：Connection refused");
    EXPECT_TRUE(App().WaitFor("text 1002", kClientStart));
    for (const char* pszId : {"1002", "1003", "1004"})
        EXPECT_TRUE(App().WaitFor(std::string("enabled ") + pszId, "1")) << pszId;
    EXPECT_EQ("0", App().Ask("dialogs")); // all ten sessions failed, and one box came
}

TEST_F(GtkWindow, InvalidEntriesShowTheValidationMessages) {
    Launch();
    // Each bad value: its box, the focus on its entry, and nothing started.
    const struct {
        int nEntry;
        const char* pszValue;
        int nButton;
        const char* pszKind;
        std::string strText;
    } aCases[] = {{1004, "65536", 1000, "warning", kRangeText},
                  {1004, "abc", 1002, "plain", kIntegerText},
                  {1001, "0", 1002, "warning", kRangeText}}; // the client checks it too
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszValue);
        SetText(1004, "10001");
        SetText(c.nEntry, c.pszValue);
        Click(c.nButton);
        ExpectBox(c.pszKind, c.strText);
        EXPECT_EQ(std::to_string(c.nEntry), App().Ask("focus"));
        App().ExpectReplies(
            {"text 1000", kServerStart, "text 1002", kClientStart, "enabled 1001", "1"});
    }
}

TEST_F(GtkWindow, ListenPortInUseShowsTheBindError) {
    Launch();
    CLoopbackPort busy(true);
    SetText(1001, std::to_string(busy.Port()));
    Click(1000);
    ExpectBox("plain", "(98)：Address already in use");
    EXPECT_TRUE(App().WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(App().WaitFor("enabled 1001", "1"));
    EXPECT_TRUE(App().WaitFor("enabled 1008", "0"));
}

TEST_F(GtkWindow, CloseWhileEverythingRunsSavesAndExitsWithOne) {
    Launch();
    StartServer();
    SetText(1004, m_strPort);
    SetText(1003, "localhost");
    Click(1002);
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStop));
    ASSERT_EQ("", App().Ask("select 1007 0")); // 上传, for the next start
    // A real click on the title bar's close button.
    ASSERT_TRUE(App().ClickAt(App().Ask("closebutton")));
    EXPECT_EQ(1, App().WaitExit(15));
    EXPECT_EQ("[Kestrun]\nm_nListenPort=" + m_strPort + "\nm_nServerPort=" + m_strPort +
                  "\nm_strServerAddr=\"localhost\"\nm_strType=\"上传\"\n",
              Settings());
    Launch(); // the next start shows what was saved
    App().ExpectReplies(
        {"text 1001", m_strPort, "text 1003", "localhost", "combo 1007", "0\t上传\t下载"});
}

TEST_F(GtkWindow, CloseWithAnOutOfRangePortShowsTheMessageAndSavesIt) {
    Launch();
    SetText(1001, "70000");
    ASSERT_EQ("", App().Ask("close"));
    ASSERT_TRUE(App().WaitFor("dialogs", "1"));
    EXPECT_TRUE(App().Running());
    // Once the box is answered the close goes on and the process ends.
    ExpectBox("warning", kRangeText, false);
    EXPECT_EQ(1, App().WaitExit());
    EXPECT_NE(std::string::npos, Settings().find("m_nListenPort=70000\n"));
    Launch();
    EXPECT_EQ("70000", App().Ask("text 1001"));
}

TEST_F(GtkWindow, StoredTypeSelectsByPrefixOrNothingAndThenTestsUpload) {
    WriteWholeFile(App().SettingsPath(), "[Kestrun]\nm_strType=\"下\"\n");
    Launch();
    App().ExpectReplies({"combo 1007", "1\t上传\t下载", "text 1007", "下载"});
    ASSERT_EQ("", App().Ask("close"));
    ASSERT_EQ(1, App().WaitExit());

    // No item begins with "xyz": nothing is selected, and a test uploads, so this
    // process only sends to tachyra-cli's server.
    CChildProcess server;
    const int nPort = StartCliServer(server);
    ASSERT_NE(0, nPort);
    WriteWholeFile(App().SettingsPath(),
                   "[Kestrun]\nm_nServerPort=" + std::to_string(nPort) + "\nm_strType=\"xyz\"\n");
    Launch();
    App().ExpectReplies({"combo 1007", "-1\t上传\t下载", "text 1007", ""});
    Click(1002);
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStop));
    std::string strRecv, strSend;
    EXPECT_TRUE(WaitUntil(
        [&] {
            strRecv = App().Ask("pane 0");
            strSend = App().Ask("pane 1");
            return PaneRate(strSend) > 0;
        },
        seconds(15)))
        << strSend;
    EXPECT_EQ(kIdleRecv, strRecv);
    Click(1002);
    EXPECT_TRUE(App().WaitFor("text 1002", kClientStart));
}

TEST_F(GtkWindow, EscAndEnterDoNothing) {
    Launch();
    ASSERT_TRUE(App().Focus());
    // In an entry, then on the focused server button (Enter must not press it). Keys
    // arrive in order: once the last one has shown its effect, those before were handled.
    ASSERT_EQ("", App().Ask("grabfocus 1003"));
    for (const char* pszKey : {"Escape", "Return", "KP_Enter", "End"})
        ASSERT_TRUE(App().Key(pszKey));
    ASSERT_TRUE(App().Type("x"));
    ASSERT_TRUE(App().WaitFor("text 1003", "127.0.0.1x"));
    ASSERT_EQ("", App().Ask("grabfocus 1000"));
    for (const char* pszKey : {"Return", "Escape", "Tab"})
        ASSERT_TRUE(App().Key(pszKey));
    ASSERT_TRUE(App().WaitFor("focus", "1001"));
    App().ExpectReplies({"text 1000", kServerStart, "mapped", "1", "dialogs", "0"});
    EXPECT_TRUE(App().Running());
    EXPECT_EQ("", Settings());
}

TEST_F(GtkWindow, TabFollowsTheTemplateOrderAndCtrlASelectsAll) {
    Launch();
    ASSERT_TRUE(App().Focus());
    ASSERT_EQ("1000", App().Ask("focus"));
    for (const char* pszNext : {"1001", "1002", "1003", "1004", "1007"}) {
        ASSERT_TRUE(App().Key("Tab"));
        ASSERT_TRUE(App().WaitFor("focus", pszNext)) << "focus " << App().Ask("focus");
    }
    ASSERT_EQ("", App().Ask("grabfocus 1003"));
    ASSERT_TRUE(App().Key("End"));
    ASSERT_TRUE(App().WaitFor("selection 1003", "9 9"));
    ASSERT_TRUE(App().Key("ctrl+a"));
    EXPECT_TRUE(App().WaitFor("selection 1003", "0 9"));
    // Ctrl+Shift+A is not ours: the entry's own binding clears the selection.
    ASSERT_TRUE(App().Key("ctrl+shift+a"));
    EXPECT_TRUE(WaitUntil([&] {
        int nStart = -1, nEnd = -2;
        return std::sscanf(App().Ask("selection 1003").c_str(), "%d %d", &nStart, &nEnd) == 2 &&
               nStart == nEnd;
    })) << App().Ask("selection 1003");
}

TEST_F(GtkWindow, DamagedSettingsGiveDefaultsAndAreReplacedOnClose) {
    WriteWholeFile(App().SettingsPath(),
                   std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR garbage [Kestrun]\n", 33));
    Launch();
    App().ExpectReplies({"text 1001", "10001", "text 1003", "127.0.0.1", "text 1004", "10001",
                         "text 1007", "下载"});
    CloseAndExpectSettings("[Kestrun]\nm_nListenPort=10001\nm_nServerPort=10001\n"
                           "m_strServerAddr=\"127.0.0.1\"\nm_strType=\"下载\"\n");
}

TEST_F(GtkWindow, UnwritableSettingsLeaveTheOldFileIntact) {
    const std::string strOld = "[Kestrun]\nm_nListenPort=4321\nm_nServerPort=4322\n"
                               "m_strServerAddr=\"10.1.2.3\"\nm_strType=\"上传\"\n";
    WriteWholeFile(App().SettingsPath(), strOld);
    Launch(16); // every settings write fails as on a full disk
    App().ExpectReplies({"text 1001", "4321", "text 1007", "上传"});
    SetText(1001, "5555");
    CloseAndExpectSettings(strOld);
    // No temporary file is left beside it.
    std::string strList;
    for (const auto& entry : fs::directory_iterator(App().ConfigHome() + "/tachyra"))
        strList += entry.path().filename().string() + ";";
    EXPECT_EQ("settings.ini;", strList);
}

TEST_F(GtkWindow, WebTestButtonAndMenuOpenTheirAddresses) {
    // A default handler for web addresses that only writes down what it was given.
    const std::string strOpened = m_strRoot + "/opened.txt";
    const std::string strScript = m_strRoot + "/opener.sh";
    WriteWholeFile(strScript, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + strOpened + "'\n");
    fs::permissions(strScript, fs::perms::owner_all);
    WriteWholeFile(m_strRoot + "/data/applications/test-opener.desktop",
                   "[Desktop Entry]\nType=Application\nName=Opener\nExec=" + strScript +
                       " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    WriteWholeFile(App().ConfigHome() + "/mimeapps.list",
                   "[Default Applications]\nx-scheme-handler/http=test-opener.desktop\n"
                   "x-scheme-handler/https=test-opener.desktop\n");
    Launch();
    StartServer();
    std::string strWant = "http://127.0.0.1:" + m_strPort + "/\n";
    for (const char* pszRequest :
         {"click 1008", "activate 访问官网...", "contextactivate 访问官网..."}) {
        ASSERT_NE(0u, App().Ask(pszRequest).find("err")) << pszRequest;
        EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(strOpened) == strWant; }))
            << pszRequest << ": " << ReadWholeFile(strOpened);
        strWant += "https://tachyra.example.org/\n";
    }
    EXPECT_EQ("0", App().Ask("dialogs"));
    EXPECT_TRUE(App().Running());
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
