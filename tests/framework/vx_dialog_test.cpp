#include "framework/vx_dialog.h"
#include "framework/vx_event.h"

#include "fake_window_system.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class CTestDialog : public CVXDialog {
public:
    CTestDialog() : CVXDialog(102) {}
    void OnVXCommand(const std::string& strName, const std::string& strSub,
                     const std::string& strText, intptr_t nValue) override {
        m_strLastCommand = strName + "|" + strSub + "|" + strText + "|" + std::to_string(nValue);
    }
    void OnUserMessage(_VX_COMMAND_MSG* pRecord) override {
        m_vecUserKinds.push_back(pRecord->nKind);
    }
    void OnAppRunState(int nValue) override { m_nRunState = nValue; }
    void OnPPPoEDialComplete(int nValue, const std::string& strText) override {
        m_strPPPoE = std::to_string(nValue) + strText;
    }
    void OnLayoutClient(int x, int y, int cx, int cy) override {
        m_vecLayout = std::vector<int>{x, y, cx, cy};
    }
    int OnQueryClose() override { return m_nQueryClose; }

    std::string m_strLastCommand;
    std::vector<int> m_vecUserKinds;
    int m_nRunState = 0;
    std::string m_strPPPoE;
    std::vector<int> m_vecLayout;
    int m_nQueryClose = 1;
};

struct DialogFixture : ::testing::Test {
    DialogFixture() : ws({1000}) {
        ws.SetDialog(&dlg);
        dlg.AttachWindowSystem(&ws);
    }
    void InitWithPanes() {
        dlg.OnInitDialog();
        dlg.CreateStatusBar();
        dlg.AddStatusPane("    接收", 180);
        dlg.AddStatusPane("发送", 100);
    }
    CTestDialog dlg;
    CFakeWindowSystem ws;
};

} // namespace

TEST_F(DialogFixture, InitialisationRunsOnceAndStartsTooltipAndTimer) {
    EXPECT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(ws.m_nIconCalls, 1);
    EXPECT_TRUE(ws.m_bToolTip);
    EXPECT_EQ(ws.m_nTimerId, 8000u);
    EXPECT_EQ(ws.m_nTimerPeriod, 500u);
}

TEST_F(DialogFixture, CaptionJoinsNameAndVersion) {
    dlg.SetAppInfo("Tachyra", "v18.0701");
    EXPECT_EQ(ws.m_strCaption, "Tachyra - v18.0701");
    EXPECT_EQ(dlg.AppName(), "Tachyra");
}

TEST_F(DialogFixture, StatusBarRebuildSendsEdgesAndTexts) {
    InitWithPanes();
    ASSERT_FALSE(ws.m_vecPartCalls.empty());
    EXPECT_EQ(ws.m_vecPartCalls.back(), (std::vector<int>{180, -1}));
    EXPECT_TRUE(ws.m_vecPartCalls[ws.m_vecPartCalls.size() - 2].empty());
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：0.00MB/s");
    EXPECT_EQ(ws.PartText(1), std::string("发送") + "：0.00MB/s");
    // The status bar asks for its tips through the callback.
    ASSERT_FALSE(ws.m_vecTools.empty());
    EXPECT_EQ(ws.m_vecTools[0].first, IDC_VX_STATUSBAR);
}

TEST_F(DialogFixture, PaneTextOnTheDialogThreadIsShownAtOnce) {
    InitWithPanes();
    dlg.SetStatusPaneTextByName("发送", "3.25MB/s");
    EXPECT_EQ(ws.PartText(1), std::string("发送") + "：3.25MB/s");
    dlg.SetStatusPaneTextByName("接收", "9.99MB/s"); // leading blanks count
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：0.00MB/s");
    EXPECT_EQ(ws.QueuedCount(), 0u);
}

TEST_F(DialogFixture, WorkerPaneTextWaitsForTheDialogThreadInOrder) {
    InitWithPanes();
    std::thread worker([this] {
        dlg.SetStatusPaneText(0, "1.00MB/s");
        dlg.SetStatusPaneText(0, "2.00MB/s");
    });
    worker.join();
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：0.00MB/s");
    EXPECT_EQ(ws.QueuedCount(), 2u);
    ws.Pump();
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：2.00MB/s");
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
}

TEST_F(DialogFixture, NineQueuedCommandsGrowThePoolToTen) {
    InitWithPanes();
    std::thread worker([this] {
        for (int i = 0; i < 9; ++i)
            dlg.SetStatusPaneText(1, std::to_string(i));
    });
    worker.join();
    EXPECT_EQ(dlg.CommandPool().TotalCount(), 10u);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 9u);
    ws.Pump();
    EXPECT_EQ(dlg.CommandPool().FreeCount(), 10u);
    EXPECT_EQ(ws.PartText(1), std::string("发送") + "：8");
}

TEST_F(DialogFixture, CommandsByNameReachTheirHooks) {
    auto* r = dlg.CommandPool().AllocObject();
    r->strName = "MY_CMD";
    r->strSubCommand = "sub";
    r->strText = "text";
    r->nValue = 7;
    EXPECT_EQ(dlg.WindowProcVX(WM_VX_COMMAND, r), 1);
    EXPECT_EQ(dlg.m_strLastCommand, "MY_CMD|sub|text|7");

    r = dlg.CommandPool().AllocObject();
    r->strName = "VX_APP_RUN_STATE";
    r->nValue = 5;
    dlg.WindowProcVX(WM_VX_COMMAND, r);
    EXPECT_EQ(dlg.m_nRunState, 5);

    r = dlg.CommandPool().AllocObject();
    r->strName = "UI_COMMAND";
    r->strSubCommand = "PPPOE_DIAL_COMPLETE";
    r->strText = "x";
    r->nValue = 3;
    dlg.WindowProcVX(WM_VX_COMMAND, r);
    EXPECT_EQ(dlg.m_strPPPoE, "3x");

    r = dlg.CommandPool().AllocObject();
    r->strName = "UI_COMMAND";
    r->strSubCommand = "ShowMessage";
    dlg.WindowProcVX(WM_VX_COMMAND, r);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
}

TEST_F(DialogFixture, CallbackKindsCallTheirSlotsAndReleaseRecords) {
    std::vector<std::string> calls;
    const int kinds[] = {1, 2, 4, 5, 6, 9};
    for (int kind : kinds) {
        auto* c = dlg.CallbackPool().AllocObject();
        c->fn1 = [&] { calls.push_back("1"); };
        c->fn2 = [&](int a) { calls.push_back("2:" + std::to_string(a)); };
        c->fn4 = [&](int a, int b) { calls.push_back("4:" + std::to_string(a + b)); };
        c->fn5 = [&](int a, const std::string& s) {
            calls.push_back("5:" + std::to_string(a) + s);
        };
        c->fn6 = [&](const std::string& s) { calls.push_back("6:" + s); };
        auto* r = dlg.CommandPool().AllocObject();
        r->nKind = kind;
        r->nValue = reinterpret_cast<intptr_t>(c);
        r->nArg1 = 10;
        r->nArg2 = 20;
        r->nArg3 = 30;
        r->strSubCommand = "s";
        EXPECT_EQ(dlg.WindowProcVX(WM_VX_CALLBACK, r), 1);
        EXPECT_EQ(dlg.CallbackPool().InUseCount(), 0u);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"1", "2:30", "4:30", "6:s", "5:10s"}));

    for (int kind : {0, 21}) {
        auto* r = dlg.CommandPool().AllocObject();
        r->nKind = kind;
        dlg.WindowProcVX(WM_VX_CALLBACK, r);
    }
    EXPECT_EQ(dlg.m_vecUserKinds, (std::vector<int>{0, 21}));
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
}

TEST_F(DialogFixture, RecordWithEventIsSignalledAndStaysInUse) {
    CVXEvent event;
    auto* r = dlg.CommandPool().AllocObject();
    r->strName = "X";
    r->hEvent = &event;
    dlg.WindowProcVX(WM_VX_COMMAND, r);
    EXPECT_TRUE(event.Wait(std::chrono::milliseconds(0)));
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 1u);
}

TEST_F(DialogFixture, AfterClosingBeganCommandsAreRefusedOrReleasedWithoutEffect) {
    InitWithPanes();
    std::thread([this] { dlg.SetStatusPaneText(0, "queued"); }).join();
    dlg.OnDestroyBegin();
    ws.Pump(); // the drain: released without effect
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：0.00MB/s");
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
    std::thread([this] { dlg.SetStatusPaneText(0, "late"); }).join();
    EXPECT_EQ(ws.QueuedCount(), 0u);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
}

TEST_F(DialogFixture, FailedPostKeepsTheRecordInUse) {
    InitWithPanes();
    ws.m_bRefusePosts = true;
    std::thread([this] { dlg.SetStatusPaneText(0, "lost"); }).join();
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 1u);
}

TEST_F(DialogFixture, LayoutUsesMarginsOnlyAfterInitialisation) {
    dlg.LayoutContent(0, 0, 300, 200);
    EXPECT_TRUE(dlg.m_vecLayout.empty());
    dlg.OnInitDialog();
    dlg.LayoutContent(0, 0, 300, 200);
    EXPECT_EQ(dlg.m_vecLayout, (std::vector<int>{10, 10, 280, 180}));
}

TEST_F(DialogFixture, CancelAsksTheCloseHook) {
    dlg.m_nQueryClose = 0;
    EXPECT_FALSE(dlg.OnCancel());
    dlg.m_nQueryClose = 1;
    EXPECT_TRUE(dlg.OnCancel());
}

TEST_F(DialogFixture, FindControlAndToolTipsNeedAnExistingControl) {
    EXPECT_TRUE(dlg.FindControl(1000));
    EXPECT_FALSE(dlg.FindControl(4242));
    dlg.OnInitDialog();
    std::string strTip = "tip";
    EXPECT_FALSE(dlg.AddToolTipById(4242, &strTip, 1));
    EXPECT_TRUE(dlg.AddToolTipById(1000, &strTip, 1));
}
