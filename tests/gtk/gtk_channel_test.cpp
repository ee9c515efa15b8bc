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

} // namespace

TEST(GtkChannel, WorkerCallsRunInOrderOnTheMainLoopAndAWaitingCallWaitsForIt) {
    COrderDialog dlg;
    CGtkWindowSystem ws(&dlg, CGtkDialogTemplate());
    const int kCount = 300;
    std::atomic<bool> bReturned{false};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            _VX_COMMAND_MSG* pRecord = dlg.CommandPool().AllocObject();
            ASSERT_NE(nullptr, pRecord);
            pRecord->strName = "ORDER";
            pRecord->nValue = i;
            ws.PostVXMessage(WM_VX_COMMAND, pRecord);
        }
        // No window exists, so the call changes nothing, but it still has to make the
        // trip to the main loop and back before it returns.
        ws.EnableControl(1000, false);
        bReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Posting never carries a command out on the sender, and the waiting call is held.
    EXPECT_TRUE(dlg.m_vecSeen.empty());
    EXPECT_FALSE(bReturned.load());
    EXPECT_TRUE(WaitUntil(
        [&] {
            g_main_context_iteration(nullptr, FALSE);
            return bReturned.load();
        },
        std::chrono::seconds(10), 1));
    worker.join();
    // The waiting call was queued last, so every command had run before it came back.
    ASSERT_EQ(static_cast<size_t>(kCount), dlg.m_vecSeen.size());
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(i, dlg.m_vecSeen[static_cast<size_t>(i)]);
    for (uint32_t nThread : dlg.m_vecThreads)
        ASSERT_EQ(CurrentThreadId(), nThread);
    EXPECT_EQ(0u, dlg.CommandPool().InUseCount());
}
