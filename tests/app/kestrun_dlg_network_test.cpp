// The main window's server and client states with the engine running for real on
// loopback, behind the in-memory window system.
#include "app/kestrun_dlg.h"
#include "app/resource.h"
#include "framework/fake_window_system.h"
#include "support/socket.h"
#include "testkit/memory_settings_store.h"
#include "testkit/raw_socket.h"

#include <gtest/gtest.h>

// The dialog's destructor stops the server and the client test and waits for their ends.
struct MainWindowNet : ::testing::Test {
    MainWindowNet() : dlg(&store, nullptr) {
        InitSocketLibrary();
        dlg.m_strListenAddr = "127.0.0.1";
        ws.m_pDialog = &dlg;
        dlg.AttachWindowSystem(&ws);
        dlg.OnInitDialog();
        ws.SetControlText(IDC_LISTEN_PORT, m_strPort);
        ws.SetControlText(IDC_SERVER_PORT, m_strPort);
    }
    // The button is enabled last, after the other controls of the stopped state.
    bool ServerStopped() {
        return !dlg.Server().IsServerRunActive() && ws.Text(IDC_SERVER_BUTTON) == "启动服务" &&
               ws.Enabled(IDC_SERVER_BUTTON);
    }

    CMemorySettingsStore store;
    CFakeWindowSystem ws;
    CKestrunDlg dlg;
    const std::string m_strPort = std::to_string(ClosedLoopbackPort()); // nobody listens there
};

// The captions of either side's stop: the window scenarios.
TEST_F(MainWindowNet, ServerAndClientRunAndStopAndAQuickSecondClickStartsNoSecondRun) {
    dlg.OnServerButton();
    // The caption comes from the run's start hook, which may run after the socket listens.
    ASSERT_TRUE(ws.PumpUntil(
        [&] { return dlg.Server().IsServerListening() && ws.Text(IDC_SERVER_BUTTON) == "停止"; }));
    dlg.OnClientButton();
    ASSERT_TRUE(ws.PumpUntil([&] { return dlg.Server().ServerSessionCount() == 10; }));
    EXPECT_EQ(ws.Text(IDC_CLIENT_BUTTON), "停止测试");
    dlg.OnServerButton(); // which ends the client test too
    ASSERT_TRUE(ws.PumpUntil([&] { return ServerStopped(); }));
    // A second click before the socket exists stops the run instead of starting another.
    ws.At(IDC_SERVER_BUTTON)->vecHistory.clear();
    dlg.OnServerButton();
    dlg.OnServerButton(); // at once: the run exists even if it does not listen yet
    ASSERT_TRUE(ws.PumpUntil([&] { return ServerStopped(); }));
    // Had a second run started, it would hold the port or have reported an error.
    EXPECT_TRUE(ws.Boxes().empty());
    EXPECT_FALSE(dlg.Server().IsServerListening());
    // However soon the run began, the stopping caption stays until the end.
    std::vector<std::string> history = ws.History(IDC_SERVER_BUTTON);
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[history.size() - 2], "正在停止");
    EXPECT_EQ(history.back(), "启动服务");
}

TEST_F(MainWindowNet, ClosingWhileAHookWaitsForTheWindowsThreadEnds) {
    // As in the real window systems, a hook's caption change waits for this thread.
    ws.m_bWorkersWaitForPump = true;
    dlg.OnCommand(IDC_SERVER_BUTTON);
    ASSERT_TRUE(ws.PumpUntil([&] { return dlg.Server().IsServerListening(); }));
    // The stop makes the run's end hooks set the captions, which waits for this thread
    // while this thread waits for the run to end: closing must carry the caption out (or
    // refuse it) instead of waiting for ever.
    dlg.StopWorkers();
    EXPECT_FALSE(dlg.Server().IsServerRunActive());
}
