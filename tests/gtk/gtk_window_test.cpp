// The Linux window, run for real under Xvfb and driven as a user would drive it.
#include "testkit/raw_socket.h"
#include "gtk/window_driver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kCaption = "Tachyra - v18.0701";
const char* const kServerStart = "启动服务";
const char* const kServerStop = "停止";
const char* const kClientStart = "开始连接测试";
const char* const kClientStop = "停止测试";
const char* const kRangeText = "请输入一个在 1 和 65535 之间的整数。";
const char* const kIntegerText = "请输入一个整数。";

// A listening socket on the loopback interface, held for the test.
class CLoopbackListener {
public:
    explicit CLoopbackListener(int nPort) {
        m_s = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in addr;
        std::memset(&addr, 0, sizeof(addr));
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(nPort));
        m_bOk =
            bind(m_s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(m_s, 4) == 0;
    }
    ~CLoopbackListener() { close(m_s); }
    bool Ok() const { return m_bOk; }

private:
    int m_s;
    bool m_bOk;
};

bool CanConnect(int nPort) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    bool bOk = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(s);
    return bOk;
}

class GtkWindow : public ::testing::Test {
protected:
    void SetUp() override {
        m_strRoot = MakeTempDir();
        ASSERT_FALSE(m_strRoot.empty());
        std::string strError;
        ASSERT_TRUE(m_xvfb.Start(strError)) << strError;
        m_pApp.reset(new CWindowDriver(m_xvfb.Display(), m_strRoot));
    }
    void TearDown() override {
        if (HasFailure() && m_pApp)
            std::fprintf(stderr, "program output:\n%s\n", m_pApp->Output().c_str());
        m_pApp.reset();
        m_xvfb.Stop();
        RemoveTree(m_strRoot);
    }
    void Launch(const CAppOptions& options = CAppOptions()) {
        std::string strError;
        ASSERT_TRUE(m_pApp->Launch(strError, options)) << strError;
    }
    void WriteSettings(const std::string& strText) {
        mkdir(App().ConfigHome().c_str(), 0700);
        mkdir((App().ConfigHome() + "/tachyra").c_str(), 0700);
        WriteWholeFile(App().SettingsPath(), strText);
    }
    CWindowDriver& App() { return *m_pApp; }

    // Waits for exactly one open message box and returns its kind, title and text.
    std::vector<std::string> WaitForOneBox() {
        EXPECT_TRUE(App().WaitFor("dialogs", "1")) << "dialogs: " << App().Ask("dialogs");
        return SplitTabs(App().Ask("dialog 0"));
    }
    void AnswerBox() {
        EXPECT_EQ("", App().Ask("answer 0"));
        EXPECT_TRUE(App().WaitFor("dialogs", "0"));
    }
    void StartServerOn(int nPort) {
        ASSERT_EQ("", App().Ask("settext 1001 " + std::to_string(nPort)));
        ASSERT_EQ("clicked", App().Ask("click 1000"));
        ASSERT_TRUE(App().WaitFor("text 1000", kServerStop));
        ASSERT_TRUE(CWindowDriver::WaitUntil([&] { return CanConnect(nPort); }));
    }

    CXvfb m_xvfb;
    std::string m_strRoot;
    std::unique_ptr<CWindowDriver> m_pApp;
};

} // namespace

TEST_F(GtkWindow, FirstRunShowsTheDefaults) {
    Launch();
    EXPECT_EQ(kCaption, App().Ask("caption"));
    EXPECT_EQ("10001", App().Ask("text 1001"));
    EXPECT_EQ("127.0.0.1", App().Ask("text 1003"));
    EXPECT_EQ("10001", App().Ask("text 1004"));
    EXPECT_EQ("下载", App().Ask("text 1007"));
    // The sorted list: "上传" before "下载".
    EXPECT_EQ("1\t上传\t下载", App().Ask("combo 1007"));
    EXPECT_EQ(kServerStart, App().Ask("text 1000"));
    EXPECT_EQ(kClientStart, App().Ask("text 1002"));
    EXPECT_EQ("使用JS.WebSocket测试", App().Ask("text 1008"));
    EXPECT_EQ("0", App().Ask("enabled 1008"));
    EXPECT_EQ("1", App().Ask("enabled 1000"));
    EXPECT_EQ("1", App().Ask("enabled 1001"));
    EXPECT_EQ("2 visible", App().Ask("panes"));
    EXPECT_EQ("    接收：0.00MB/s", App().Ask("pane 0"));
    EXPECT_EQ("发送：0.00MB/s", App().Ask("pane 1"));
    EXPECT_EQ("0 180", App().Ask("panegeometry 0"));
    EXPECT_EQ("", App().Ask("panetip 0"));
    EXPECT_EQ("", App().Ask("panetip 1"));
    EXPECT_EQ("1000 1001 1002 1003 1004 1007 1008", App().Ask("taborder"));
    EXPECT_EQ("1000", App().Ask("focus"));
    EXPECT_EQ("访问官网...", App().Ask("menu"));
    EXPECT_EQ("最小化\t关闭\t-\t访问官网...", App().Ask("contextmenu"));
    EXPECT_EQ("0", App().Ask("dialogs"));
    // The window icon, drawn from the same SVG as the Windows icon.
    EXPECT_EQ("16 32 48 64 128", App().Ask("icons"));
    // The half-second status timer runs.
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] { return std::stoi(App().Ask("timer")) >= 2; }));
    // Starting and stopping nothing writes no settings.
    EXPECT_EQ("", ReadWholeFile(App().SettingsPath()));
}

TEST_F(GtkWindow, ServerStartsAndStops) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    StartServerOn(nPort);
    // The server thread sets the caption first, then the two enabled states.
    EXPECT_TRUE(App().WaitFor("enabled 1001", "0"));
    EXPECT_TRUE(App().WaitFor("enabled 1008", "1"));
    EXPECT_EQ("1", App().Ask("enabled 1000"));

    ASSERT_EQ("clicked", App().Ask("click 1000"));
    ASSERT_TRUE(App().WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(App().WaitFor("enabled 1000", "1"));
    EXPECT_EQ("1", App().Ask("enabled 1001"));
    EXPECT_EQ("0", App().Ask("enabled 1008"));
    EXPECT_FALSE(CanConnect(nPort));
    // A prompt restart on the same port works.
    StartServerOn(nPort);
    EXPECT_EQ("0", App().Ask("dialogs"));
    EXPECT_EQ("", ReadWholeFile(App().SettingsPath()));
}

TEST_F(GtkWindow, StoppingWhileAPeerStreamsShowsStoppingFirst) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    StartServerOn(nPort);
    // A second process downloads from the server until the server cuts it.
    pid_t pidClient = fork();
    if (pidClient == 0) {
        std::string strPort = std::to_string(nPort);
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 1);
        dup2(fdNull, 2);
        execl(TACHYRA_CLI_PATH, TACHYRA_CLI_PATH, "-c", "127.0.0.1", "-p", strPort.c_str(), "-t",
              "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pidClient, 0);
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] { return PaneRate(App().Ask("pane 1")) > 0; }, 15))
        << App().Ask("pane 1");
    ASSERT_EQ("", App().Ask("watch 1000"));
    ASSERT_EQ("clicked", App().Ask("click 1000"));
    EXPECT_TRUE(App().WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(App().WaitFor("enabled 1000", "1"));
    EXPECT_EQ("disabled\t正在停止\t启动服务\tenabled", App().Ask("history 1000"));
    // The peer has been cut and ends by itself.
    int nStatus = 0;
    bool bEnded = CWindowDriver::WaitUntil(
        [&] { return waitpid(pidClient, &nStatus, WNOHANG) == pidClient; }, 10);
    if (!bEnded) {
        kill(pidClient, SIGKILL);
        waitpid(pidClient, &nStatus, 0);
    }
    EXPECT_TRUE(bEnded);
}

TEST_F(GtkWindow, RealMouseClickStartsTheServer) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    ASSERT_EQ("", App().Ask("settext 1001 " + std::to_string(nPort)));
    std::vector<std::string> vecGeo;
    std::string strGeo = App().Ask("geometry 1000");
    int x = 0, y = 0, cx = 0, cy = 0;
    ASSERT_EQ(4, std::sscanf(strGeo.c_str(), "%d %d %d %d", &x, &y, &cx, &cy)) << strGeo;
    ASSERT_TRUE(App().ClickAt(x, y));
    ASSERT_TRUE(App().WaitFor("text 1000", kServerStop));
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] { return CanConnect(nPort); }));
}

TEST_F(GtkWindow, ClientTestAgainstItselfFillsBothPanes) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    StartServerOn(nPort);
    ASSERT_EQ("", App().Ask("settext 1004 " + std::to_string(nPort)));
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStop));
    EXPECT_TRUE(CWindowDriver::WaitUntil(
        [&] { return PaneRate(App().Ask("pane 0")) > 0 && PaneRate(App().Ask("pane 1")) > 0; }, 15))
        << App().Ask("pane 0") << " / " << App().Ask("pane 1");
    EXPECT_EQ(0u, App().Ask("pane 0").find("    接收："));
    EXPECT_EQ(0u, App().Ask("pane 1").find("发送："));

    // The screenshot of the running test is kept with the build as an artifact.
    const std::string strShot = std::string(TACHYRA_ARTIFACT_DIR) + "/gtk-window-running.png";
    EXPECT_TRUE(App().Screenshot(strShot));
    EXPECT_GT(ReadWholeFile(strShot).size(), 1000u);

    ASSERT_EQ("clicked", App().Ask("click 1002"));
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStart));
    EXPECT_TRUE(App().WaitFor("enabled 1002", "1"));
    // The box of a failed test would have come before the caption went back.
    EXPECT_EQ("0", App().Ask("dialogs"));
    EXPECT_EQ(kServerStop, App().Ask("text 1000"));
}

TEST_F(GtkWindow, RefusedConnectionShowsOneErrorBox) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    ASSERT_EQ("", App().Ask("settext 1004 " + std::to_string(nPort)));
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    std::vector<std::string> vecBox = WaitForOneBox();
    ASSERT_EQ(5u, vecBox.size());
    EXPECT_EQ("error", vecBox[0]);
    EXPECT_EQ("Tachyra", vecBox[1]);
    EXPECT_EQ("(111)：Connection refused", vecBox[2]);
    EXPECT_EQ("modal", vecBox[3]);
    // All ten sessions have failed by now, and still only one box is up.
    EXPECT_EQ("1", App().Ask("dialogs"));
    AnswerBox();
    EXPECT_TRUE(App().WaitFor("text 1002", kClientStart));
    EXPECT_TRUE(App().WaitFor("enabled 1002", "1"));
    EXPECT_TRUE(App().WaitFor("enabled 1003", "1"));
    EXPECT_TRUE(App().WaitFor("enabled 1004", "1"));
    EXPECT_EQ("0", App().Ask("dialogs"));
}

TEST_F(GtkWindow, InvalidEntriesShowTheValidationMessages) {
    Launch();
    ASSERT_EQ("", App().Ask("settext 1004 65536"));
    ASSERT_EQ("clicked", App().Ask("click 1000"));
    std::vector<std::string> vecBox = WaitForOneBox();
    ASSERT_EQ(5u, vecBox.size());
    EXPECT_EQ("warning", vecBox[0]);
    EXPECT_EQ("Tachyra", vecBox[1]);
    EXPECT_EQ(kRangeText, vecBox[2]);
    AnswerBox();
    EXPECT_EQ("1004", App().Ask("focus"));
    EXPECT_EQ(kServerStart, App().Ask("text 1000"));
    EXPECT_EQ("1", App().Ask("enabled 1001"));

    ASSERT_EQ("", App().Ask("settext 1004 abc"));
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    vecBox = WaitForOneBox();
    ASSERT_EQ(5u, vecBox.size());
    EXPECT_EQ("plain", vecBox[0]);
    EXPECT_EQ(kIntegerText, vecBox[2]);
    AnswerBox();
    EXPECT_EQ("1004", App().Ask("focus"));
    EXPECT_EQ(kClientStart, App().Ask("text 1002"));

    // The listen port box is checked first.
    ASSERT_EQ("", App().Ask("settext 1004 10001"));
    ASSERT_EQ("", App().Ask("settext 1001 0"));
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    vecBox = WaitForOneBox();
    ASSERT_EQ(5u, vecBox.size());
    EXPECT_EQ(kRangeText, vecBox[2]);
    AnswerBox();
    EXPECT_EQ("1001", App().Ask("focus"));
}

TEST_F(GtkWindow, ListenPortInUseShowsTheBindError) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    CLoopbackListener busy(nPort);
    ASSERT_TRUE(busy.Ok());
    ASSERT_EQ("", App().Ask("settext 1001 " + std::to_string(nPort)));
    ASSERT_EQ("clicked", App().Ask("click 1000"));
    std::vector<std::string> vecBox = WaitForOneBox();
    ASSERT_EQ(5u, vecBox.size());
    EXPECT_EQ("Tachyra", vecBox[1]);
    EXPECT_EQ("(98)：Address already in use", vecBox[2]);
    AnswerBox();
    EXPECT_TRUE(App().WaitFor("text 1000", kServerStart));
    EXPECT_TRUE(App().WaitFor("enabled 1001", "1"));
    EXPECT_TRUE(App().WaitFor("enabled 1008", "0"));
}

TEST_F(GtkWindow, CloseWhileEverythingRunsSavesAndExitsWithOne) {
    Launch();
    const int nPort = ClosedLoopbackPort();
    StartServerOn(nPort);
    ASSERT_EQ("", App().Ask("settext 1004 " + std::to_string(nPort)));
    ASSERT_EQ("", App().Ask("settext 1003 localhost"));
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStop));
    ASSERT_EQ("", App().Ask("select 1007 0")); // 上传, for the next start
    // A real click on the title bar's close button.
    std::string strAt = App().Ask("closebutton");
    int x = 0, y = 0;
    ASSERT_EQ(2, std::sscanf(strAt.c_str(), "%d %d", &x, &y)) << strAt;
    ASSERT_TRUE(App().ClickAt(x, y));
    EXPECT_EQ(1, App().WaitExit(15));
    const std::string strPort = std::to_string(nPort);
    EXPECT_EQ("[Kestrun]\nm_nListenPort=" + strPort + "\nm_nServerPort=" + strPort +
                  "\nm_strServerAddr=\"localhost\"\nm_strType=\"上传\"\n",
              ReadWholeFile(App().SettingsPath()));

    // The next start shows what was saved.
    Launch();
    EXPECT_EQ(strPort, App().Ask("text 1001"));
    EXPECT_EQ("localhost", App().Ask("text 1003"));
    EXPECT_EQ("0\t上传\t下载", App().Ask("combo 1007"));
}

TEST_F(GtkWindow, CloseWithAnOutOfRangePortShowsTheMessageAndSavesIt) {
    Launch();
    ASSERT_EQ("", App().Ask("settext 1001 70000"));
    ASSERT_EQ("", App().Ask("close"));
    std::vector<std::string> vecBox = WaitForOneBox();
    ASSERT_EQ(5u, vecBox.size());
    EXPECT_EQ(kRangeText, vecBox[2]);
    EXPECT_TRUE(App().Running());
    // Once the box is answered the close goes on and the process ends.
    EXPECT_EQ("", App().Ask("answer 0"));
    EXPECT_EQ(1, App().WaitExit());
    EXPECT_NE(std::string::npos, ReadWholeFile(App().SettingsPath()).find("m_nListenPort=70000\n"));
    Launch();
    EXPECT_EQ("70000", App().Ask("text 1001"));
}

TEST_F(GtkWindow, StoredTypeSelectsByPrefix) {
    WriteSettings("[Kestrun]\nm_strType=\"下\"\n");
    Launch();
    EXPECT_EQ("1\t上传\t下载", App().Ask("combo 1007"));
    EXPECT_EQ("下载", App().Ask("text 1007"));
}

TEST_F(GtkWindow, UnmatchedStoredTypeSelectsNothingAndTestsUpload) {
    // The peer is a second process: tachyra-cli's server on a loopback port.
    const int nPort = ClosedLoopbackPort();
    WriteSettings("[Kestrun]\nm_nServerPort=" + std::to_string(nPort) + "\nm_strType=\"xyz\"\n");
    pid_t pidServer = fork();
    if (pidServer == 0) {
        std::string strPort = std::to_string(nPort);
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 1);
        dup2(fdNull, 2);
        execl(TACHYRA_CLI_PATH, TACHYRA_CLI_PATH, "-s", "-B", "127.0.0.1", "-p", strPort.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pidServer, 0);
    struct CReap {
        pid_t pid;
        ~CReap() {
            kill(pid, SIGTERM);
            int n = 0;
            if (!CWindowDriver::WaitUntil([&] { return waitpid(pid, &n, WNOHANG) == pid; }, 5)) {
                kill(pid, SIGKILL);
                waitpid(pid, &n, 0);
            }
        }
    } reap{pidServer};
    ASSERT_TRUE(CWindowDriver::WaitUntil([&] { return CanConnect(nPort); }));

    Launch();
    EXPECT_EQ("-1\t上传\t下载", App().Ask("combo 1007"));
    EXPECT_EQ("", App().Ask("text 1007"));
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    ASSERT_TRUE(App().WaitFor("text 1002", kClientStop));
    // Upload: this process only sends.
    std::string strRecv, strSend;
    EXPECT_TRUE(CWindowDriver::WaitUntil(
        [&] {
            strRecv = App().Ask("pane 0");
            strSend = App().Ask("pane 1");
            return PaneRate(strSend) > 0;
        },
        15))
        << strSend;
    EXPECT_EQ("    接收：0.00MB/s", strRecv);
    ASSERT_EQ("clicked", App().Ask("click 1002"));
    EXPECT_TRUE(App().WaitFor("text 1002", kClientStart));
}

TEST_F(GtkWindow, EscAndEnterDoNothing) {
    Launch();
    ASSERT_TRUE(App().FocusWindow());
    ASSERT_EQ("", App().Ask("grabfocus 1003"));
    ASSERT_TRUE(App().Key("Escape"));
    ASSERT_TRUE(App().Key("Return"));
    ASSERT_TRUE(App().Key("KP_Enter"));
    // Keys arrive in order: once "x" shows, the three keys before it were handled.
    ASSERT_TRUE(App().Key("End"));
    ASSERT_TRUE(App().TypeText("x"));
    ASSERT_TRUE(App().WaitFor("text 1003", "127.0.0.1x"));
    EXPECT_EQ("1", App().Ask("mapped"));
    EXPECT_EQ("0", App().Ask("dialogs"));

    // Enter on the focused server button does not press it.
    ASSERT_EQ("", App().Ask("grabfocus 1000"));
    ASSERT_TRUE(App().Key("Return"));
    ASSERT_TRUE(App().Key("Escape"));
    ASSERT_TRUE(App().Key("Tab"));
    ASSERT_TRUE(App().WaitFor("focus", "1001"));
    EXPECT_EQ(kServerStart, App().Ask("text 1000"));
    EXPECT_EQ("1", App().Ask("mapped"));
    EXPECT_TRUE(App().Running());
    EXPECT_EQ("", ReadWholeFile(App().SettingsPath()));
}

TEST_F(GtkWindow, TabFollowsTheTemplateOrderAndCtrlASelectsAll) {
    Launch();
    ASSERT_TRUE(App().FocusWindow());
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
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] {
        int nStart = -1, nEnd = -2;
        return std::sscanf(App().Ask("selection 1003").c_str(), "%d %d", &nStart, &nEnd) == 2 &&
               nStart == nEnd;
    })) << App().Ask("selection 1003");
}

TEST_F(GtkWindow, DamagedSettingsGiveDefaultsAndAreReplacedOnClose) {
    WriteSettings(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR garbage [Kestrun]\n", 33));
    Launch();
    EXPECT_EQ("10001", App().Ask("text 1001"));
    EXPECT_EQ("127.0.0.1", App().Ask("text 1003"));
    EXPECT_EQ("10001", App().Ask("text 1004"));
    EXPECT_EQ("下载", App().Ask("text 1007"));
    ASSERT_EQ("", App().Ask("close"));
    EXPECT_EQ(1, App().WaitExit());
    EXPECT_EQ("[Kestrun]\nm_nListenPort=10001\nm_nServerPort=10001\n"
              "m_strServerAddr=\"127.0.0.1\"\nm_strType=\"下载\"\n",
              ReadWholeFile(App().SettingsPath()));
}

TEST_F(GtkWindow, UnwritableSettingsLeaveTheOldFileIntact) {
    const std::string strOld = "[Kestrun]\nm_nListenPort=4321\nm_nServerPort=4322\n"
                               "m_strServerAddr=\"10.1.2.3\"\nm_strType=\"上传\"\n";
    WriteSettings(strOld);
    CAppOptions options;
    options.nFileSizeLimit = 16; // every settings write fails as on a full disk
    Launch(options);
    EXPECT_EQ("4321", App().Ask("text 1001"));
    EXPECT_EQ("上传", App().Ask("text 1007"));
    ASSERT_EQ("", App().Ask("settext 1001 5555"));
    ASSERT_EQ("", App().Ask("close"));
    EXPECT_EQ(1, App().WaitExit());
    EXPECT_EQ(strOld, ReadWholeFile(App().SettingsPath()));
    // No temporary file is left beside it.
    std::string strList;
    DIR* pDir = opendir((App().ConfigHome() + "/tachyra").c_str());
    ASSERT_NE(nullptr, pDir);
    while (struct dirent* pEnt = readdir(pDir)) {
        if (pEnt->d_name[0] != '.')
            strList += std::string(pEnt->d_name) + ";";
    }
    closedir(pDir);
    EXPECT_EQ("settings.ini;", strList);
}

TEST_F(GtkWindow, WebTestButtonAndMenuOpenTheirAddresses) {
    // A default handler for web addresses that only writes down what it was given.
    const std::string strData = m_strRoot + "/data/applications";
    ASSERT_EQ(0, system(("mkdir -p '" + strData + "' '" + App().ConfigHome() + "'").c_str()));
    const std::string strOpened = m_strRoot + "/opened.txt";
    const std::string strScript = m_strRoot + "/opener.sh";
    WriteWholeFile(strScript, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + strOpened + "'\n");
    chmod(strScript.c_str(), 0755);
    WriteWholeFile(strData + "/test-opener.desktop",
                   "[Desktop Entry]\nType=Application\nName=Opener\nExec=" + strScript +
                       " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    WriteWholeFile(App().ConfigHome() + "/mimeapps.list",
                   "[Default Applications]\nx-scheme-handler/http=test-opener.desktop\n"
                   "x-scheme-handler/https=test-opener.desktop\n");
    Launch();
    const int nPort = ClosedLoopbackPort();
    StartServerOn(nPort);
    ASSERT_EQ("clicked", App().Ask("click 1008"));
    const std::string strPage = "http://127.0.0.1:" + std::to_string(nPort) + "/\n";
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] { return ReadWholeFile(strOpened) == strPage; }))
        << ReadWholeFile(strOpened);
    ASSERT_EQ("", App().Ask("activate 访问官网..."));
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] {
        return ReadWholeFile(strOpened) == strPage + "https://tachyra.example.org/\n";
    })) << ReadWholeFile(strOpened);
    ASSERT_EQ("", App().Ask("contextactivate 访问官网..."));
    EXPECT_TRUE(CWindowDriver::WaitUntil([&] {
        return ReadWholeFile(strOpened) ==
               strPage + "https://tachyra.example.org/\nhttps://tachyra.example.org/\n";
    })) << ReadWholeFile(strOpened);
    EXPECT_EQ("0", App().Ask("dialogs"));
    EXPECT_TRUE(App().Running());
}

TEST(HeadlessFallback, WithoutADisplayItSaysSoAndRunsTheServer) {
    // The fallback listens on port 10001 of every interface, so it runs in a network
    // namespace of its own, where no interface but its own loopback exists.
    int aPipe[2];
    ASSERT_EQ(0, pipe(aPipe));
    pid_t pid = fork();
    if (pid == 0) {
        close(aPipe[0]);
        if (unshare(CLONE_NEWNET) != 0)
            _exit(77);
        dup2(aPipe[1], 1);
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 0);
        dup2(fdNull, 2);
        char szPath[] = "PATH=/usr/bin:/bin";
        char szLang[] = "LANG=C.UTF-8";
        char* envp[] = {szPath, szLang, nullptr};
        char* argv[] = {const_cast<char*>(TACHYRA_GTK_APP_PATH), nullptr};
        execve(TACHYRA_GTK_APP_PATH, argv, envp);
        _exit(127);
    }
    close(aPipe[1]);
    ASSERT_GT(pid, 0);
    std::string strOut;
    bool bListening = CWindowDriver::WaitUntil([&] {
        struct pollfd pfd = {aPipe[0], POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0) {
            char szBuf[512];
            ssize_t n = read(aPipe[0], szBuf, sizeof(szBuf));
            if (n > 0)
                strOut.append(szBuf, static_cast<size_t>(n));
        }
        return strOut.find("listening on port 10001\n") != std::string::npos;
    });
    int nStatus = 0;
    if (!bListening && waitpid(pid, &nStatus, WNOHANG) == pid && WIFEXITED(nStatus) &&
        WEXITSTATUS(nStatus) == 77) {
        close(aPipe[0]);
        GTEST_SKIP() << "no network namespace can be made here";
    }
    kill(pid, SIGINT);
    bool bEnded =
        CWindowDriver::WaitUntil([&] { return waitpid(pid, &nStatus, WNOHANG) == pid; }, 10);
    if (!bEnded) {
        kill(pid, SIGKILL);
        waitpid(pid, &nStatus, 0);
    }
    close(aPipe[0]);
    EXPECT_TRUE(bListening) << strOut;
    EXPECT_EQ(0u, strOut.find("No display found: starting the headless test server")) << strOut;
    EXPECT_TRUE(bEnded);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << nStatus;
}
