#include "headless/stop_signal.h"

#include <windows.h>

#include <atomic>

static std::atomic<bool> g_bStop{false};

static BOOL WINAPI OnConsoleCtrl(DWORD) {
    g_bStop.store(true);
    return TRUE;
}

void InstallStopSignal() {
    ::SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
}

bool WaitForStopSignal(int nTimeoutMs) {
    for (int nWaited = 0; !g_bStop.load() && nWaited < nTimeoutMs; nWaited += 20)
        ::Sleep(20);
    return g_bStop.load();
}
