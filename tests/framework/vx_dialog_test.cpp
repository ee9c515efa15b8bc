#include "framework/vx_dialog.h"

#include "fake_window_system.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const std::string kRecv = "    接收", kSend = "发送", kRecv0 = kRecv + "：0.00MB/s";

struct DialogFixture : ::testing::Test {
    DialogFixture() {
        ws.m_pDialog = &dlg;
        dlg.AttachWindowSystem(&ws);
    }
    void FromWorker(int nPane, const std::string& strText) {
        std::thread([=, this] { dlg.SetStatusPaneText(nPane, strText); }).join();
    }
    CVXDialog dlg{102};
    CFakeWindowSystem ws;
};

} // namespace

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
