#include "headless/stop_signal.h"

#include <cerrno>
#include <csignal>
#include <ctime>

static sigset_t g_stopSignals;
static bool g_bStopSeen = false; // main thread only

void InstallStopSignal() {
    // Blocked in every thread (threads inherit the mask), taken synchronously by the
    // main thread with sigtimedwait: no handler runs in a random thread.
    sigemptyset(&g_stopSignals);
    sigaddset(&g_stopSignals, SIGINT);
    sigaddset(&g_stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &g_stopSignals, nullptr);
}

bool WaitForStopSignal(int nTimeoutMs) {
    if (g_bStopSeen)
        return true;
    timespec ts{nTimeoutMs / 1000, static_cast<long>(nTimeoutMs % 1000) * 1000000L};
    int nSig = sigtimedwait(&g_stopSignals, nullptr, &ts);
    if (nSig == SIGINT || nSig == SIGTERM)
        g_bStopSeen = true;
    return g_bStopSeen;
}
