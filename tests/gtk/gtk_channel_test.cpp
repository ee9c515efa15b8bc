// The GTK backend's cross-thread channel from worker threads to the main loop, without
// a window.
#include "framework/gtk/gtk_window_system.h"
#include "support/platform.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

class COrderDialog : public CVXDialog {
public:
    COrderDialog() : CVXDialog(102) {}
    void OnVXCommand(const std::string& strName, const std::string&, const std::string&,
                     intptr_t nValue) override {
        if (strName == "ORDER") {
            m_vecSeen.push_back(static_cast<int>(nValue));
            m_vecThreads.push_back(CurrentThreadId());
        }
    }
    std::vector<int> m_vecSeen;
    std::vector<uint32_t> m_vecThreads;
};

class GtkChannel : public ::testing::Test {
protected:
    // Runs the default main context until fnDone holds or about ten seconds have passed.
    static bool IterateUntil(const std::function<bool()>& fnDone) {
        auto fnStep = [&] {
            g_main_context_iteration(nullptr, FALSE);
            return fnDone();
        };
        return fnDone() || WaitUntil(fnStep, std::chrono::seconds(10), 1);
    }
    // Posts ORDER commands 0 .. nCount-1 from a worker thread, as the engine's threads do.
    void PostFromWorker(int nCount) {
        std::thread([&] {
            for (int i = 0; i < nCount; ++i) {
                _VX_COMMAND_MSG* pRecord = m_dlg.CommandPool().AllocObject();
                ASSERT_NE(nullptr, pRecord);
                pRecord->strName = "ORDER";
                pRecord->nValue = i;
                m_ws.PostVXMessage(WM_VX_COMMAND, pRecord);
            }
        }).join();
    }

    COrderDialog m_dlg;
    CGtkWindowSystem m_ws{&m_dlg, CGtkDialogTemplate()};
};

} // namespace

TEST_F(GtkChannel, CommandsFromAWorkerArriveInOrderOnTheMainLoop) {
    const int kCount = 300;
    PostFromWorker(kCount);
    // Nothing has run yet: posting never carries a command out on the sender.
    EXPECT_TRUE(m_dlg.m_vecSeen.empty());
    ASSERT_TRUE(IterateUntil([&] { return m_dlg.m_vecSeen.size() == kCount; }));
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(i, m_dlg.m_vecSeen[static_cast<size_t>(i)]);
    for (uint32_t nThread : m_dlg.m_vecThreads)
        ASSERT_EQ(CurrentThreadId(), nThread);
    EXPECT_EQ(0u, m_dlg.CommandPool().InUseCount());
}

TEST_F(GtkChannel, NineCommandsBeforeTheLoopRunsGrowThePoolToTen) {
    std::thread([&] {
        for (int i = 0; i < 9; ++i)
            m_dlg.SendVXCommand("StatusBar_SetItemText", "1.00MB/s", 0);
    }).join();
    EXPECT_EQ(9u, m_dlg.CommandPool().InUseCount());
    EXPECT_EQ(10u, m_dlg.CommandPool().TotalCount());
    ASSERT_TRUE(IterateUntil([&] { return m_dlg.CommandPool().InUseCount() == 0; }));
    EXPECT_EQ(10u, m_dlg.CommandPool().FreeCount());
}

TEST_F(GtkChannel, AWaitingCallRunsOnTheMainLoopBeforeTheWorkerGoesOn) {
    std::atomic<bool> bReturned{false};
    // No window exists, so the call changes nothing, but it still has to make the trip
    // to the main loop and back before it returns.
    std::thread worker([&] {
        m_ws.EnableControl(1000, false);
        bReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bReturned.load());
    EXPECT_TRUE(IterateUntil([&] { return bReturned.load(); }));
    worker.join();
}

TEST_F(GtkChannel, CommandsAfterTheWindowHasGoneAreReleasedWithoutEffect) {
    PostFromWorker(1);
    m_dlg.OnDestroyBegin();
    // And a sender that comes later takes no record at all.
    std::thread([&] { m_dlg.SendVXCommand("StatusBar_SetItemText", "x", 0); }).join();
    EXPECT_EQ(1u, m_dlg.CommandPool().InUseCount());
    ASSERT_TRUE(IterateUntil([&] { return m_dlg.CommandPool().InUseCount() == 0; }));
    EXPECT_TRUE(m_dlg.m_vecSeen.empty());
}
