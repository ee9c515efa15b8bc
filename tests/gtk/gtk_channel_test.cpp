// The GTK backend's cross-thread channel, without a window: commands from a worker
// reach the dialog on the main loop in the order they were sent, calls that must wait
// run on the main loop before the worker goes on, and a burst of commands grows the
// record pool as on Windows.
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
            vecSeen.push_back(static_cast<int>(nValue));
            vecThreads.push_back(CurrentThreadId());
        }
    }
    std::vector<int> vecSeen;
    std::vector<uint32_t> vecThreads;
};

// Runs the default main context until fnDone holds or about ten seconds have passed.
bool IterateUntil(const std::function<bool()>& fnDone) {
    auto fnStep = [&] {
        g_main_context_iteration(nullptr, FALSE);
        return fnDone();
    };
    return fnDone() || WaitUntil(fnStep, std::chrono::seconds(10), 1);
}

// Posts ORDER commands 0 .. nCount-1 from a worker thread, as the engine's threads do.
void PostFromWorker(COrderDialog& dlg, CGtkWindowSystem& ws, int nCount) {
    std::thread worker([&] {
        for (int i = 0; i < nCount; ++i) {
            _VX_COMMAND_MSG* pRecord = dlg.CommandPool().AllocObject();
            ASSERT_NE(nullptr, pRecord);
            pRecord->strName = "ORDER";
            pRecord->nValue = i;
            ws.PostVXMessage(WM_VX_COMMAND, pRecord);
        }
    });
    worker.join();
}

} // namespace

TEST(GtkChannel, CommandsFromAWorkerArriveInOrderOnTheMainLoop) {
    COrderDialog dlg;
    CGtkWindowSystem ws(&dlg, CGtkDialogTemplate());
    const int kCount = 300;
    PostFromWorker(dlg, ws, kCount);
    // Nothing has run yet: posting never carries a command out on the sender.
    EXPECT_TRUE(dlg.vecSeen.empty());
    ASSERT_TRUE(IterateUntil([&] { return dlg.vecSeen.size() == kCount; }));
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(i, dlg.vecSeen[static_cast<size_t>(i)]);
    for (uint32_t nThread : dlg.vecThreads)
        ASSERT_EQ(CurrentThreadId(), nThread);
    EXPECT_EQ(0u, dlg.CommandPool().InUseCount());
}

TEST(GtkChannel, NineCommandsBeforeTheLoopRunsGrowThePoolToTen) {
    COrderDialog dlg;
    CGtkWindowSystem ws(&dlg, CGtkDialogTemplate());
    std::thread worker([&] {
        for (int i = 0; i < 9; ++i)
            dlg.SendVXCommand("StatusBar_SetItemText", "1.00MB/s", 0);
    });
    worker.join();
    EXPECT_EQ(9u, dlg.CommandPool().InUseCount());
    EXPECT_EQ(10u, dlg.CommandPool().TotalCount());
    ASSERT_TRUE(IterateUntil([&] { return dlg.CommandPool().InUseCount() == 0; }));
    EXPECT_EQ(10u, dlg.CommandPool().FreeCount());
}

TEST(GtkChannel, AWaitingCallRunsOnTheMainLoopBeforeTheWorkerGoesOn) {
    COrderDialog dlg;
    CGtkWindowSystem ws(&dlg, CGtkDialogTemplate());
    std::atomic<bool> bReturned{false};
    // No window exists, so the call changes nothing, but it still has to make the trip
    // to the main loop and back before it returns.
    std::thread worker([&] {
        ws.EnableControl(1000, false);
        bReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bReturned.load());
    EXPECT_TRUE(IterateUntil([&] { return bReturned.load(); }));
    worker.join();
}

TEST(GtkChannel, CommandsAfterTheWindowHasGoneAreReleasedWithoutEffect) {
    COrderDialog dlg;
    CGtkWindowSystem ws(&dlg, CGtkDialogTemplate());
    PostFromWorker(dlg, ws, 1);
    dlg.OnDestroyBegin();
    // And a sender that comes later takes no record at all.
    std::thread late([&] { dlg.SendVXCommand("StatusBar_SetItemText", "x", 0); });
    late.join();
    EXPECT_EQ(1u, dlg.CommandPool().InUseCount());
    ASSERT_TRUE(IterateUntil([&] { return dlg.CommandPool().InUseCount() == 0; }));
    EXPECT_TRUE(dlg.vecSeen.empty());
}
