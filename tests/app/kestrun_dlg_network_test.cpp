// The main window's server and client states with the engine running for real on
// loopback, behind the in-memory window system.
#include "testkit/raw_socket.h"
#include "app/kestrun_dlg.h"
#include "app/resource.h"

#include "support/socket.h"

#include "fake_window_system.h"
#include "testkit/memory_settings_store.h"

#include <gtest/gtest.h>

namespace {

// The dialog's destructor stops the engine's workers and waits for them.
struct MainWindowNet : ::testing::Test {
    MainWindowNet() : dlg(&store, nullptr) {
        InitSocketLibrary();
        dlg.m_strListenAddr = "127.0.0.1";
        ws.m_pDialog = &dlg;
        dlg.AttachWindowSystem(&ws);
        ws.SetControlText(IDC_SERVER_BUTTON, "启动服务");
        ws.SetControlText(IDC_CLIENT_BUTTON, "开始连接测试");
        ws.EnableControl(IDC_WEBTEST_BUTTON, false);
        dlg.OnInitDialog();
    }
    bool WaitFor(std::function<bool()> pred) { return ws.PumpUntil(pred, 15000); }
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

} // namespace

TEST_F(MainWindowNet, ServerAndAClientAgainstItRunAndStopWithTheirCaptions) {
    ws.SetControlText(IDC_LISTEN_PORT, m_strPort);
    ws.SetControlText(IDC_SERVER_PORT, m_strPort);
    dlg.OnServerButton();
    ASSERT_TRUE(WaitFor([&] { return dlg.Server().IsServerListening(); }));
    EXPECT_EQ(ws.Text(IDC_SERVER_BUTTON), "停止");
    EXPECT_FALSE(ws.Enabled(IDC_LISTEN_PORT));
    EXPECT_TRUE(ws.Enabled(IDC_WEBTEST_BUTTON));
    dlg.OnClientButton();
    ASSERT_TRUE(WaitFor([&] { return dlg.Server().ServerSessionCount() == 10; }));
    EXPECT_EQ(ws.Text(IDC_CLIENT_BUTTON), "停止测试");
    for (int nId : {IDC_SERVER_ADDR, IDC_SERVER_PORT, IDC_TYPE})
        EXPECT_FALSE(ws.Enabled(nId)) << nId;
    // Reading the controls while the sessions run: the sessions keep their copy.
    ws.SetControlText(IDC_SERVER_ADDR, "changed.invalid");
    EXPECT_TRUE(dlg.UpdateData(true));
    dlg.OnClientButton();
    ASSERT_TRUE(WaitFor([&] {
        return ws.Text(IDC_CLIENT_BUTTON) == "开始连接测试" && ws.Enabled(IDC_CLIENT_BUTTON) &&
               ws.Enabled(IDC_SERVER_ADDR) && ws.Enabled(IDC_SERVER_PORT) && ws.Enabled(IDC_TYPE);
    }));
    dlg.OnServerButton();
    ASSERT_TRUE(WaitFor([&] { return ServerStopped(); }));
    EXPECT_TRUE(ws.Enabled(IDC_LISTEN_PORT));
    EXPECT_FALSE(ws.Enabled(IDC_WEBTEST_BUTTON));
    EXPECT_TRUE(ws.Boxes().empty());
}

TEST_F(MainWindowNet, SecondClickBeforeTheSocketExistsStartsNoSecondRun) {
    ws.SetControlText(IDC_LISTEN_PORT, m_strPort);
    dlg.OnServerButton();
    dlg.OnServerButton(); // at once: the run exists even if it does not listen yet
    ASSERT_TRUE(WaitFor([&] { return ServerStopped(); }));
    // Had a second run started, it would hold the port or have reported an error.
    EXPECT_TRUE(ws.Boxes().empty());
    EXPECT_FALSE(dlg.Server().IsServerListening());
    // Whenever the run's thread began, the stopping caption stays until the end.
    std::vector<std::string> history = ws.History(IDC_SERVER_BUTTON);
    ASSERT_GE(history.size(), 3u);
    EXPECT_EQ(history[history.size() - 2], "正在停止");
    EXPECT_EQ(history.back(), "启动服务");
}

TEST_F(MainWindowNet, PortInUseShowsTheErrorAndReturnsToStopped) {
    SOCKET sHolder = INVALID_SOCKET;
    ASSERT_TRUE(CreateTcpSocket(sHolder, "127.0.0.1", 0, true));
    ws.SetControlText(IDC_LISTEN_PORT, std::to_string(GetBoundPort(sHolder)));
    dlg.OnServerButton();
    ASSERT_TRUE(WaitFor([&] { return ServerStopped(); }));
    auto boxes = ws.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].strText.substr(0, 1), "(");
    EXPECT_NE(boxes[0].strText.find("："), std::string::npos);
    CloseSocket(sHolder);
}

TEST_F(MainWindowNet, ClosedPortGivesExactlyOneErrorBox) {
    ws.SetControlText(IDC_SERVER_PORT, m_strPort);
    dlg.OnClientButton();
    ASSERT_TRUE(WaitFor(
        [&] { return dlg.ClientTest().ActiveClientCount() == 0 && ws.Enabled(IDC_SERVER_PORT); }));
    auto boxes = ws.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, EVXBoxIcon::Error);
    EXPECT_EQ(ws.Text(IDC_CLIENT_BUTTON), "开始连接测试");
}

TEST_F(MainWindowNet, ClosingWhileAWorkerWaitsForTheWindowsThreadEnds) {
    // As in the real window systems, a worker's caption change waits for this thread.
    ws.m_bWorkersWaitForPump = true;
    dlg.OnCommand(IDC_SERVER_BUTTON);
    ASSERT_TRUE(WaitFor([&] { return dlg.Server().IsServerListening(); }));
    // The stop makes the server thread set its captions, which waits for this thread
    // while this thread waits for the server thread to end: closing must carry the
    // caption out (or refuse it) instead of waiting for ever.
    dlg.StopWorkers();
    EXPECT_EQ(dlg.Server().WorkerCount(), 0);
    EXPECT_FALSE(dlg.Server().IsServerRunActive());
}
