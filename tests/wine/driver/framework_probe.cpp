// A framework dialog on the real window system, for what only the real message queue shows:
// pane updates a worker queues before the window's thread handles any arrive in order and
// come back to the pool, also those still queued at the close (unhandled); Ctrl+A in an edit
// box selects all through the dialog's loop, Ctrl+Shift+A is passed on; the probe's own TEXT
// resources load. Prints a line per check; exit code 0 when all of them ran and held.
#include "server/assets.h"
#include "framework/vx_dialog.h"
#include "framework/win32/win32_window_system.h"

#include <cstdio>
#include <string>
#include <initializer_list>
#include <thread>

namespace {

const int kChecks = 11;
int g_nHeld = 0;

void Check(bool bOk, const char* pszWhat) {
    std::printf("%s %s\n", bOk ? "ok" : "FAILED", pszWhat);
    std::fflush(stdout);
    g_nHeld += bOk ? 1 : 0;
}

// Polls every 10 ms, nTries times at most.
template <class Pred> bool Poll(Pred pred, int nTries = 200) {
    for (int i = 0; i < nTries; ++i, ::Sleep(10))
        if (pred())
            return true;
    return false;
}

// Pane updates from a worker thread, which post them to the window's queue.
void UpdateFromWorker(CVXDialog& dlg, int nCount, bool bLate) {
    std::thread([&dlg, nCount, bLate] {
        for (int i = 1; i <= nCount; ++i)
            dlg.SetStatusPaneText(0, bLate ? "late" : std::to_string(i));
    }).join();
}

class CProbeDialog : public CVXDialog {
public:
    CProbeDialog() : CVXDialog(102) {}
    bool OnInitDialog() override {
        CVXDialog::OnInitDialog();
        CreateStatusBar();
        AddStatusPane("pane", 100);
        // The window's thread is busy here, so nothing posted can be handled yet.
        UpdateFromWorker(*this, 9, false);
        Check(CommandPool().InUseCount() == 9, "nine records in flight");
        return true;
    }
    // Closes while three updates wait behind the close in the queue.
    void OnVXCommand(const std::string& strName, const std::string&, const std::string&,
                     intptr_t) override {
        if (strName != "CLOSE_WITH_QUEUE")
            return;
        ::PostMessageW(static_cast<CWin32WindowSystem*>(WindowSystem())->Handle(), WM_COMMAND,
                       IDCANCEL, 0);
        UpdateFromWorker(*this, 3, true);
    }
};

// Types keys as the keyboard would, through the queue to the focused control.
void Type(std::initializer_list<BYTE> keys) {
    for (BYTE vk : keys)
        ::keybd_event(vk, 0, 0, 0);
    for (auto it = keys.end(); it != keys.begin();)
        ::keybd_event(*--it, 0, KEYEVENTF_KEYUP, 0);
}

void CheckCtrlA(HWND hDlg) {
    HWND hEdit = ::GetDlgItem(hDlg, 1001);
    // Low word start, high word end.
    auto selection = [hEdit] { return static_cast<DWORD>(::SendMessageW(hEdit, EM_GETSEL, 0, 0)); };
    ::SetForegroundWindow(hDlg);
    ::SendMessageW(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hEdit), TRUE);
    ::SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"select all of this"));
    ::SendMessageW(hEdit, EM_SETSEL, 2, 4);
    Check(Poll([&] { return selection() == MAKELONG(2, 4); }),
          "the edit box has the focus and 2..4");
    // Ctrl+Shift+A first: nothing selects, and the edit box ignores the key itself.
    Type({VK_CONTROL, VK_SHIFT, 'A'});
    ::Sleep(300);
    Check(selection() == MAKELONG(2, 4), "Ctrl+Shift+A leaves the selection alone");
    Type({VK_CONTROL, 'A'});
    Check(Poll([&] { return selection() == MAKELONG(0, 18); }),
          "Ctrl+A selects the whole edit text");
}

} // namespace

int main() {
    Check(LoadTextResource(129) == "probe text", "a TEXT resource is cut at its first zero");
    Check(LoadTextResource(130).empty(), "a missing TEXT resource is empty");
    CProbeDialog dlg;
    CWin32WindowSystem window(::GetModuleHandleW(nullptr), &dlg, nullptr);
    std::thread([&window, &dlg] {
        // Once the window exists and its queue is empty, look and close it.
        Poll([&] { return window.Handle() != nullptr; }, 1000);
        ::SendMessageW(window.Handle(), WM_NULL, 0, 0);
        Check(Poll([&] { return dlg.CommandPool().InUseCount() == 0; }, 500),
              "every record came back");
        Check(dlg.StatusPanes().GetText(0) == "9", "the last update won");
        CheckCtrlA(window.Handle());
        _VX_COMMAND_MSG* pRecord = dlg.CommandPool().AllocObject();
        pRecord->strName = "CLOSE_WITH_QUEUE";
        window.PostVXMessage(WM_VX_COMMAND, pRecord);
    }).detach();
    window.RunModal(nullptr);
    Check(dlg.IsClosing(), "closing began with the window's destruction");
    Check(dlg.CommandPool().InUseCount() == 0, "queued updates went back to the pool");
    Check(dlg.StatusPanes().GetText(0) == "9", "queued updates had no effect");
    std::printf("%d of %d checks held\n", g_nHeld, kChecks);
    return g_nHeld == kChecks ? 0 : 1;
}
