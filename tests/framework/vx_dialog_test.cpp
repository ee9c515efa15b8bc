#include "framework/vx_dialog.h"
#include "framework/vx_event.h"

#include "fake_window_system.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const std::string kRecv = "    接收", kSend = "发送", kRecv0 = kRecv + "：0.00MB/s";

// Overrides every hook that the framework routes to, recording what reached it.
class CTestDialog : public CVXDialog {
public:
    CTestDialog() : CVXDialog(102) {}
    void OnVXCommand(const std::string& strName, const std::string& strSub,
                     const std::string& strText, intptr_t nValue) override {
        Log(strName + "|" + strSub + "|" + strText + "|" + std::to_string(nValue));
    }
    void OnUserMessage(_VX_COMMAND_MSG* p) override { Log("user " + std::to_string(p->nKind)); }
    void OnAppRunState(int nValue) override { Log("run " + std::to_string(nValue)); }
    void OnPPPoEDialComplete(int nValue, const std::string& strText) override {
        Log("pppoe " + std::to_string(nValue) + strText);
    }
    void OnLayoutClient(int x, int y, int cx, int cy) override { m_vecLayout = {x, y, cx, cy}; }
    int OnQueryClose() override { return m_nQueryClose; }
    void Log(const std::string& str) { m_vecCalls.push_back(str); }

    std::vector<std::string> m_vecCalls;
    std::vector<int> m_vecLayout;
    int m_nQueryClose = 1;
};

struct DialogFixture : ::testing::Test {
    DialogFixture() {
        ws.m_mapControls[1000]; // the dialog's one control
        ws.m_pDialog = &dlg;
        dlg.AttachWindowSystem(&ws);
    }
    // A record handed straight to the window procedure on the dialog's thread.
    void Deliver(unsigned int nMsg, const char* pszName, const char* pszSub = "",
                 intptr_t nValue = 0, int nKind = 0, CVXEvent* pEvent = nullptr) {
        _VX_COMMAND_MSG* r = dlg.CommandPool().AllocObject();
        // In declaration order; the text "t", the arguments 10, 20 and 30.
        *r = {nKind, pszName, "t", pEvent, pszSub, "", 10, 20, nValue, 30};
        EXPECT_EQ(dlg.WindowProcVX(nMsg, r), 1);
    }
    void FromWorker(int nPane, const std::string& strText) {
        std::thread([=, this] { dlg.SetStatusPaneText(nPane, strText); }).join();
    }
    CTestDialog dlg;
    CFakeWindowSystem ws;
};

} // namespace

TEST_F(DialogFixture, InitialisationLayoutControlsAndCancel) {
    EXPECT_TRUE(dlg.FindControl(1000));
    EXPECT_FALSE(dlg.FindControl(4242));
    dlg.LayoutContent(0, 0, 300, 200); // before initialisation: no layout hook
    EXPECT_TRUE(dlg.m_vecLayout.empty());
    EXPECT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(ws.m_nIconCalls, 1);
    EXPECT_TRUE(ws.m_bToolTip);
    EXPECT_EQ(ws.m_timer, std::make_pair(8000u, 500u));
    dlg.LayoutContent(0, 0, 300, 200);
    EXPECT_EQ(dlg.m_vecLayout, (std::vector<int>{10, 10, 280, 180}));
    std::string strTip = "tip"; // tooltips need an existing control
    EXPECT_FALSE(dlg.AddToolTipById(4242, &strTip, 1));
    EXPECT_TRUE(dlg.AddToolTipById(1000, &strTip, 1));
    for (int nQuery : {0, 1}) {
        dlg.m_nQueryClose = nQuery;
        EXPECT_EQ(dlg.OnCancel(), nQuery != 0);
    }
}

TEST_F(DialogFixture, WorkersPaneTextsAreQueuedInOrderAndDroppedOnceClosingBegan) {
    dlg.OnInitDialog();
    dlg.CreateStatusBar();
    dlg.AddStatusPane(kRecv.c_str(), 180);
    dlg.AddStatusPane(kSend.c_str(), 100);
    ASSERT_GE(ws.m_vecPartCalls.size(), 2u); // the rebuild clears the parts first
    EXPECT_EQ(ws.m_vecPartCalls.back(), (std::vector<int>{180, -1}));
    EXPECT_TRUE(ws.m_vecPartCalls[ws.m_vecPartCalls.size() - 2].empty());
    EXPECT_EQ(ws.PartText(0), kRecv0);
    EXPECT_EQ(ws.PartText(1), kSend + "：0.00MB/s");
    // The status bar asks for its tips through the callback.
    EXPECT_EQ(ws.m_vecTools, std::vector<int>{IDC_VX_STATUSBAR});
    // A worker's texts wait for the pump, grow the pool and keep their order.
    std::thread([this] {
        for (int i = 0; i < 9; ++i)
            dlg.SetStatusPaneText(0, std::to_string(i));
    }).join();
    EXPECT_EQ(ws.PartText(0), kRecv0);
    EXPECT_EQ(ws.QueuedCount(), 9u);
    EXPECT_EQ(dlg.CommandPool().TotalCount(), 10u);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 9u);
    ws.Pump();
    EXPECT_EQ(ws.PartText(0), kRecv + "：8");
    EXPECT_EQ(dlg.CommandPool().FreeCount(), 10u);
    // After closing began, queued commands are released without effect, later ones refused.
    FromWorker(0, "queued");
    dlg.OnDestroyBegin();
    ws.Pump();
    EXPECT_EQ(ws.PartText(0), kRecv + "：8");
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
    FromWorker(0, "late");
    EXPECT_EQ(ws.QueuedCount(), 0u);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
}

TEST_F(DialogFixture, CommandsReachTheirHooksAndReleaseRecordsUnlessHeld) {
    Deliver(WM_VX_COMMAND, "MY_CMD", "sub", 7);
    Deliver(WM_VX_COMMAND, "VX_APP_RUN_STATE", "", 5);
    Deliver(WM_VX_COMMAND, "UI_COMMAND", "PPPOE_DIAL_COMPLETE", 3);
    Deliver(WM_VX_COMMAND, "UI_COMMAND", "ShowMessage"); // nothing to do
    EXPECT_EQ(dlg.m_vecCalls, (std::vector<std::string>{"MY_CMD|sub|t|7", "run 5", "pppoe 3t"}));
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
    // A record with an event or a failed post stays in use.
    CVXEvent event;
    Deliver(WM_VX_COMMAND, "X", "", 0, 0, &event);
    EXPECT_TRUE(event.Wait(std::chrono::milliseconds(0)));
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 1u);
    ws.m_bRefusePosts = true;
    FromWorker(0, "lost");
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 2u);
}
