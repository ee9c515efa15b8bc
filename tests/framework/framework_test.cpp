// The framework's dialog logic against the in-memory window system: the status bar's panes,
// the command records workers post through and the queue they wait in.
#include "framework/object_pool.h"
#include "framework/status_panes.h"
#include "framework/vx_dialog.h"

#include "fake_window_system.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(StatusPanes, EdgesAreRunningSumsFieldsAreCutTo256BytesAndNamesIgnoreAsciiCase) {
    CStatusPaneList list;
    EXPECT_EQ(list.Add("    接收", 10), 0);
    EXPECT_EQ(list.Add("ABC", 20), 1);
    list.Add(std::string(400, 'n').c_str(), 30);
    list.Add("", 5); // an unnamed pane shows its value alone
    std::string strDisplay;
    ASSERT_TRUE(list.SetText(1, std::string(300, 'x'), strDisplay));
    EXPECT_EQ(strDisplay, "ABC：" + std::string(256, 'x'));
    strDisplay = "unchanged";
    for (int nBad : {4, -1})
        EXPECT_FALSE(list.SetText(nBad, "v", strDisplay)) << nBad;
    EXPECT_EQ(strDisplay, "unchanged");
    const CStatusBarLayout layout = list.Layout();
    EXPECT_EQ(layout.vecRightEdges, (std::vector<int>{10, 30, 60, -1}));
    EXPECT_EQ(layout.vecTexts,
              (std::vector<std::string>{"    接收：0.00MB/s", "ABC：" + std::string(256, 'x'),
                                        std::string(256, 'n') + "：0.00MB/s", "0.00MB/s"}));
    const std::pair<const char*, int> names[] = {
        {"接收", -1}, {"    接收", 0}, {"abc", 1}, {"ab", -1}};
    for (auto& name : names)
        EXPECT_EQ(list.FindByName(name.first), name.second) << name.first;
}

TEST(ObjectPool, ManyThreadsTakeAndReturnWithoutLosingRecords) {
    CObjectPool<_VX_COMMAND_MSG> pool(2, 8, "trace");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&pool] {
            for (int i = 0; i < 1000; ++i) {
                auto* a = pool.AllocObject();
                pool.FreeObject(pool.AllocObject());
                pool.FreeObject(a);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(pool.InUseCount(), 0u);
    // A record given back twice is counted free once.
    const size_t nFree = pool.FreeCount();
    auto* p = pool.AllocObject();
    pool.FreeObject(p);
    pool.FreeObject(p);
    EXPECT_EQ(pool.FreeCount(), nFree);
}

const std::string kRecv = "    接收", kSend = "发送", kRecv0 = kRecv + "：0.00MB/s";

TEST(VXDialog, WorkersPaneTextsAreQueuedInOrderAndDroppedOnceClosingBegan) {
    CVXDialog dlg{102};
    CFakeWindowSystem ws;
    ws.m_pDialog = &dlg;
    dlg.AttachWindowSystem(&ws);
    dlg.OnInitDialog();
    dlg.CreateStatusBar();
    dlg.AddStatusPane(kRecv.c_str(), 180);
    dlg.AddStatusPane(kSend.c_str(), 100);
    EXPECT_EQ(ws.m_vecPartEdges, (std::vector<int>{180, -1}));
    EXPECT_EQ(ws.PartText(0), kRecv0);
    EXPECT_EQ(ws.PartText(1), kSend + "：0.00MB/s");
    // The status bar asks for its tips through the callback.
    EXPECT_EQ(ws.m_vecTools, std::vector<int>{IDC_VX_STATUSBAR});
    // A worker's texts wait for the pump, in records from the pool, and keep their order.
    std::thread([&] {
        for (int i = 0; i < 9; ++i)
            dlg.SetStatusPaneText(0, std::to_string(i));
    }).join();
    EXPECT_EQ(ws.PartText(0), kRecv0);
    EXPECT_EQ(ws.QueuedCount(), 9u);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 9u);
    ws.Pump();
    EXPECT_EQ(ws.PartText(0), kRecv + "：8");
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
    // After closing began, queued commands are released without effect, later ones refused.
    std::thread([&] { dlg.SetStatusPaneText(0, "queued"); }).join();
    dlg.OnDestroyBegin();
    ws.Pump();
    EXPECT_EQ(ws.PartText(0), kRecv + "：8");
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
    std::thread([&] { dlg.SetStatusPaneText(0, "late"); }).join();
    EXPECT_EQ(ws.QueuedCount(), 0u);
    EXPECT_EQ(dlg.CommandPool().InUseCount(), 0u);
}
