#include "headless/stop_signal.h"

#include <windows.h>

#include <atomic>

static std::atomic<int> g_nStops{0};
static int g_nStopsSeen = 0; // main thread only

static BOOL WINAPI OnConsoleCtrl(DWORD) {
    g_nStops.fetch_add(1);
    return TRUE;
}

void InstallStopSignal() {
    ::SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
}

int WaitForAnotherStopSignal(int nTimeoutMs) {
    for (int nWaited = 0; g_nStops.load() == g_nStopsSeen && nWaited < nTimeoutMs; nWaited += 20)
        ::Sleep(20);
    if (g_nStops.load() > g_nStopsSeen)
        ++g_nStopsSeen;
    return g_nStopsSeen;
}

bool WaitForStopSignal(int nTimeoutMs) {
    return g_nStopsSeen > 0 || WaitForAnotherStopSignal(nTimeoutMs) > 0;
}
