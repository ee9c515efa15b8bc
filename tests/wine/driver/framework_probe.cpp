// Runs a framework dialog on the real window system and checks what only the real
// message queue can show: nine pane updates queued by a worker before the window's
// thread handles any take the pool from eight records to ten, and all arrive in order;
// Ctrl+A typed into an edit box selects its whole text through the dialog's own message
// loop, while Ctrl+Shift+A is passed on. Prints one line per check; exit code 0 when all
// hold. Closing with updates still queued: the window's destruction drains them back to
// the pool without acting on them. The loader of the served files' "TEXT" resources
// reads the probe's own.
#include "server/assets.h"
#include "framework/vx_dialog.h"
#include "framework/win32/win32_window_system.h"

#include <cstdio>
#include <string>
#include <initializer_list>
#include <thread>
#include <vector>

namespace {

int g_nFailures = 0;

void Check(bool bOk, const std::string& strWhat) {
    std::printf("%s %s\n", bOk ? "ok" : "FAILED", strWhat.c_str());
    std::fflush(stdout);
    if (!bOk)
        ++g_nFailures;
}

class CProbeDialog : public CVXDialog {
public:
    CProbeDialog() : CVXDialog(102) {}
    bool OnInitDialog() override {
        CVXDialog::OnInitDialog();
        CreateStatusBar();
        AddStatusPane("pane", 100);
        Check(CommandPool().TotalCount() == 8, "pool starts with 8 records");
        // The window's thread is busy here, so nothing posted can be handled yet.
        std::thread worker([this] {
            for (int i = 1; i <= 9; ++i)
                SetStatusPaneText(0, std::to_string(i));
        });
        worker.join();
        Check(CommandPool().TotalCount() == 10, "nine queued commands grow the pool to 10");
        Check(CommandPool().InUseCount() == 9, "nine records in flight");
        return true;
    }
    // Closes while three updates wait behind the close in the queue.
    void OnVXCommand(const std::string& strName, const std::string&, const std::string&,
                     intptr_t) override {
        if (strName != "CLOSE_WITH_QUEUE")
            return;
        HWND hDlg = static_cast<CWin32WindowSystem*>(WindowSystem())->Handle();
        ::PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
        std::thread worker([this] {
            for (int i = 0; i < 3; ++i)
                SetStatusPaneText(0, "late");
        });
        worker.join();
    }
    void CheckAfterClose() {
        Check(IsClosing(), "closing began with the window's destruction");
        Check(CommandPool().InUseCount() == 0, "queued updates went back to the pool");
        Check(StatusPanes().GetText(0) == "9", "queued updates had no effect");
    }
    void CheckAfterDrain() {
        Check(CommandPool().InUseCount() == 0, "every record came back");
        Check(CommandPool().TotalCount() == 10, "pool keeps its 10 records");
        Check(StatusPanes().GetText(0) == "9", "the last update won");
    }
};

// Types keys as the keyboard would: they reach the focused control through the queue.
void Type(std::initializer_list<WORD> down) {
    std::vector<INPUT> inputs;
    for (WORD vk : down) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        inputs.push_back(in);
    }
    for (auto it = down.end(); it != down.begin();) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *--it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

DWORD SelectionOf(HWND hEdit) {
    DWORD_PTR r = 0;
    ::SendMessageTimeoutW(hEdit, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    return static_cast<DWORD>(r); // low word start, high word end
}

bool WaitForSelection(HWND hEdit, DWORD dwWanted) {
    for (int i = 0; i < 200; ++i) {
        if (SelectionOf(hEdit) == dwWanted)
            return true;
        ::Sleep(10);
    }
    return false;
}

void CheckCtrlA(HWND hDlg) {
    HWND hEdit = ::GetDlgItem(hDlg, 1001);
    ::SetForegroundWindow(hDlg);
    ::SendMessageW(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hEdit), TRUE);
    ::SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"select all of this"));
    ::SendMessageW(hEdit, EM_SETSEL, 2, 4);
    Check(WaitForSelection(hEdit, MAKELONG(2, 4)), "the edit box has the focus and 2..4");
    // Ctrl+Shift+A first: nothing selects, and the edit box ignores the key itself.
    Type({VK_CONTROL, VK_SHIFT, 'A'});
    ::Sleep(300);
    Check(SelectionOf(hEdit) == MAKELONG(2, 4), "Ctrl+Shift+A leaves the selection alone");
    Type({VK_CONTROL, 'A'});
    Check(WaitForSelection(hEdit, MAKELONG(0, 18)), "Ctrl+A selects the whole edit text");
}

} // namespace

int main() {
    Check(LoadTextResource(129) == "probe text", "a TEXT resource is cut at its first zero");
    Check(LoadTextResource(130).empty(), "a missing TEXT resource is empty");
    CProbeDialog dlg;
    CWin32WindowSystem window(::GetModuleHandleW(nullptr), &dlg, nullptr);
    std::thread([&window, &dlg] {
        // Once the window exists and its queue is empty, look and close it.
        for (int i = 0; i < 1000 && window.Handle() == nullptr; ++i)
            ::Sleep(10);
        DWORD_PTR r = 0;
        ::SendMessageTimeoutW(window.Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &r);
        for (int i = 0; i < 500 && dlg.CommandPool().InUseCount() != 0; ++i)
            ::Sleep(10);
        dlg.CheckAfterDrain();
        CheckCtrlA(window.Handle());
        _VX_COMMAND_MSG* pRecord = dlg.CommandPool().AllocObject();
        pRecord->strName = "CLOSE_WITH_QUEUE";
        window.PostVXMessage(WM_VX_COMMAND, pRecord);
    }).detach();
    window.RunModal(nullptr);
    dlg.CheckAfterClose();
    return g_nFailures == 0 ? 0 : 1;
}
