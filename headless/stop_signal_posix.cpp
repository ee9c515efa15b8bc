#include "headless/stop_signal.h"

#include <cerrno>
#include <csignal>
#include <ctime>

static sigset_t g_stopSignals;
static int g_nStopsSeen = 0; // main thread only

void InstallStopSignal() {
    // Blocked in every thread (threads inherit the mask), taken synchronously by the
    // main thread with sigtimedwait: no handler runs in a random thread.
    sigemptyset(&g_stopSignals);
    sigaddset(&g_stopSignals, SIGINT);
    sigaddset(&g_stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &g_stopSignals, nullptr);
}

int WaitForAnotherStopSignal(int nTimeoutMs) {
    timespec ts{nTimeoutMs / 1000, static_cast<long>(nTimeoutMs % 1000) * 1000000L};
    int nSig = sigtimedwait(&g_stopSignals, nullptr, &ts);
    if (nSig == SIGINT || nSig == SIGTERM)
        ++g_nStopsSeen;
    return g_nStopsSeen;
}

bool WaitForStopSignal(int nTimeoutMs) {
    return g_nStopsSeen > 0 || WaitForAnotherStopSignal(nTimeoutMs) > 0;
}
