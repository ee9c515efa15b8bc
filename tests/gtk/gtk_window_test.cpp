// The Linux window, run for real under Xvfb and driven as a user would: through the
// program's test control channel (read controls, click, set texts, answer message boxes)
// and through real X input (xdotool) for keys and mouse clicks.
#include "testkit/window_scenarios.h"

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

std::string ReadWholeFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& strPath, const std::string& strText) {
    fs::create_directories(fs::path(strPath).parent_path());
    std::ofstream(strPath, std::ios::binary | std::ios::trunc) << strText;
}

// The settings file as the program writes it.
std::string Ini(const CVars& vecSettings) {
    std::string str = "[Kestrun]\n";
    for (const auto& [strName, strValue] : vecSettings) {
        const std::string strQuote = strName.compare(0, 5, "m_str") == 0 ? "\"" : "";
        str += strName + "=" + strQuote + strValue + strQuote + "\n";
    }
    return str;
}

// The tachyra program on a private display, with its config and data under m_strRoot and
// the control channel on descriptor 3.
class GtkWindow : public ::testing::Test, public CWindowPlayer {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/tachyra-gtk-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_strRoot = szTemplate;
        std::string strError;
        ASSERT_TRUE(m_display.Start(strError)) << strError;
        m_pDisplay = &m_display;
        m_strShot = TACHYRA_ARTIFACT_DIR "/gtk-window.png";
    }
    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "program output:\n%s%s\n", m_app.Stdout().c_str(),
                         m_app.Stderr().c_str());
        m_app.Wait(seconds(0));
        m_display.Stop();
        std::error_code ec;
        fs::remove_all(m_strRoot, ec);
    }

    // Starts it and waits until its window is mapped.
    void Launch() {
        int aPair[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, aPair));
        std::vector<std::string> vecArgs({"/usr/bin/env", "-i", "PATH=/usr/local/bin:/usr/bin:/bin",
                                          "LANG=C.UTF-8", "GDK_BACKEND=x11", "NO_AT_BRIDGE=1",
                                          "GTK_A11Y=none", "GSETTINGS_BACKEND=memory",
                                          "TACHYRA_TEST_CONTROL_FD=3"});
        for (std::string str : {"HOME=/home", "XDG_CONFIG_HOME=/config", "XDG_DATA_HOME=/data",
                                "XDG_CACHE_HOME=/cache", "XDG_RUNTIME_DIR=/run",
                                "XDG_DATA_DIRS=/data:/usr/local/share:/usr/share"})
            vecArgs.push_back(str.insert(str.find('=') + 1, m_strRoot)); // all under the root
        vecArgs.insert(vecArgs.end(), {"DISPLAY=" + m_display.Name(), TACHYRA_GTK_APP_PATH});
        fs::create_directories(m_strRoot + "/run");
        fs::permissions(m_strRoot + "/run", fs::perms::owner_all);
        const bool bStarted = m_app.Start(vecArgs, {}, true, aPair[1]);
        close(aPair[1]);
        m_channel.Adopt(aPair[0]);
        ASSERT_TRUE(bStarted && WaitFor("mapped", "1", 20)) << "the window did not appear";
    }

    // Request, expected reply, request, expected reply, ...
    void ExpectReplies(const std::vector<std::string>& vec) {
        for (size_t i = 0; i + 1 < vec.size(); i += 2)
            EXPECT_EQ(vec[i + 1], Ask(vec[i])) << vec[i];
    }

    // Real X input: keys to the focused window, a click at a point "x y".
    bool Key(std::vector<std::string> keys) {
        keys.insert(keys.begin(), {"xdotool", "key", "--clearmodifiers"});
        return m_display.Run(keys);
    }
    bool ClickAt(const std::string& strWhere) {
        int x = 0, y = 0;
        return std::sscanf(strWhere.c_str(), "%d %d", &x, &y) == 2 &&
               m_display.Run(
                   {"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    std::string SettingsPath() const { return m_strRoot + "/config/tachyra/settings.ini"; }
    std::string Settings() { return ReadWholeFile(SettingsPath()); }

    CXvfbDisplay m_display;
    std::string m_strRoot;
};

} // namespace

class GtkScenario : public GtkWindow, public ::testing::WithParamInterface<CWindowScenario> {};

TEST_P(GtkScenario, Plays) {
    const CWindowScenario& scenario = GetParam();
    const CVars vecVars =
        Vars(scenario, "(111)：Connection refused", "(98)：Address already in use");
    if (!scenario.vecStored.empty())
        WriteWholeFile(SettingsPath(), Ini(NamedSettings(scenario.vecStored, vecVars)));
    Launch();
    Play(scenario.vecSteps, vecVars);
    EXPECT_EQ(Ini(NamedSettings(scenario.vecSaved, vecVars)), Settings());
}

INSTANTIATE_TEST_SUITE_P(Shared, GtkScenario, ::testing::ValuesIn(kWindowScenarios),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(GtkWindow, PartsRealClicksAndItsPagesAndAnUnmatchedTypeSavesNone) {
    // A default handler for web addresses that only writes down what it was given.
    const std::string strOpened = m_strRoot + "/opened.txt", strScript = m_strRoot + "/open.sh";
    WriteWholeFile(strScript, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + strOpened + "'\n");
    fs::permissions(strScript, fs::perms::owner_all);
    WriteWholeFile(m_strRoot + "/data/applications/test-opener.desktop",
                   "[Desktop Entry]\nType=Application\nName=Opener\nExec=" + strScript +
                       " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    WriteWholeFile(m_strRoot + "/config/mimeapps.list",
                   "[Default Applications]\nx-scheme-handler/http=test-opener.desktop\n"
                   "x-scheme-handler/https=test-opener.desktop\n");
    // No item begins with "xyz": nothing is selected, and nothing is saved for it.
    WriteWholeFile(SettingsPath(),
                   "[Kestrun]\nm_nListenPort=" + m_strPort + "\nm_strType=\"xyz\"\n");
    Launch();
    // The icons are drawn from the Windows icon's SVG.
    ExpectReplies({"combo 1007", "-1\t上传\t下载", "panes", "2 visible", "panegeometry 0", "0 180",
                   "taborder", "1000 1001 1002 1003 1004 1007 1008", "menu", "访问官网...",
                   "contextmenu", "最小化\t关闭\t-\t访问官网...", "icons", "16 32 48 64 128"});
    // The half-second status timer runs.
    EXPECT_TRUE(WaitUntil([&] { return std::atoi(Ask("timer").c_str()) >= 2; }));
    ASSERT_TRUE(ClickAt(Ask("geometry 1000"))); // a real click on the button's centre
    ASSERT_TRUE(WaitFor("text 1000", "停止"));
    EXPECT_TRUE(WaitFor("enabled 1008", "1")); // set by the server thread after the caption
    std::string strWant = "http://127.0.0.1:" + m_strPort + "/\n";
    for (const char* pszRequest :
         {"click 1008", "activate 访问官网...", "contextactivate 访问官网..."}) {
        ASSERT_NE(0u, Ask(pszRequest).find("err")) << pszRequest;
        EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(strOpened) == strWant; }))
            << pszRequest << ": " << ReadWholeFile(strOpened);
        strWant += "https://tachyra.example.org/\n";
    }
    EXPECT_EQ("0", Ask("dialogs"));           // nor did a page opened above leave a box
    ASSERT_TRUE(ClickAt(Ask("closebutton"))); // a real click on the title bar's close button
    EXPECT_EQ(1, m_app.Wait(seconds(15)));
    // Stored entries keep their places.
    EXPECT_EQ("[Kestrun]\nm_nListenPort=" + m_strPort +
                  "\nm_strType=\"\"\nm_nServerPort=10001\nm_strServerAddr=\"127.0.0.1\"\n",
              Settings());
}

TEST_F(GtkWindow, TabFollowsTheTemplateOrderCtrlASelectsAllAndEscAndEnterDoNothing) {
    Launch();
    // The window gets the input focus (GTK reports it active), on 1000, the first tab stop.
    const std::string strXid = Ask("xid");
    ASSERT_TRUE(WaitUntil([&] {
        return Ask("active") == "1" || (m_display.Run({"xdotool", "windowfocus", strXid}), false);
    }));
    for (const char* pszNext : {"1001", "1002", "1003", "1004", "1007"}) {
        ASSERT_TRUE(Key({"Tab"}));
        ASSERT_TRUE(WaitFor("focus", pszNext)) << "focus " << Ask("focus");
    }
    ASSERT_EQ("", Ask("grabfocus 1003"));
    ASSERT_TRUE(Key({"End"}));
    ASSERT_TRUE(WaitFor("selection 1003", "9 9"));
    ASSERT_TRUE(Key({"ctrl+a"}));
    EXPECT_TRUE(WaitFor("selection 1003", "0 9"));
    // Ctrl+Shift+A is not ours: the entry's own binding drops the selection and leaves the
    // cursor at its start.
    ASSERT_TRUE(Key({"ctrl+shift+a"}));
    EXPECT_TRUE(WaitUntil([&] {
        int nStart = -1, nEnd = -2;
        return std::sscanf(Ask("selection 1003").c_str(), "%d %d", &nStart, &nEnd) == 2 &&
               nStart == nEnd;
    })) << Ask("selection 1003");

    // Esc and Enter in the entry, then on the focused server button (Enter must not press
    // it). Keys arrive in order: once the last one has shown its effect, those before
    // were handled.
    ASSERT_TRUE(Key({"Escape", "Return", "KP_Enter", "End"}));
    ASSERT_TRUE(m_display.Run({"xdotool", "type", "--delay", "20", "x"}));
    ASSERT_TRUE(WaitFor("text 1003", "127.0.0.1x"));
    ASSERT_EQ("", Ask("grabfocus 1000"));
    ASSERT_TRUE(Key({"Return", "Escape", "Tab"}));
    ASSERT_TRUE(WaitFor("focus", "1001"));
    ExpectReplies({"text 1000", "启动服务", "mapped", "1", "dialogs", "0"});
    EXPECT_EQ("", Settings());
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
