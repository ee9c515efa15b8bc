// Off Windows there is no release gate: the start tick is the monotonic clock.
#include "support/system_info.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

std::string GetKernel32Version() {
    return std::string();
}

const OSInfo& InitOSInfo() {
    static OSInfo info;
    return info;
}

uint32_t GetStartTick() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void FatalStop(const char* pszText, unsigned int) {
    static std::mutex s_csFatal;
    s_csFatal.lock(); // never released: a second caller waits for the end
    std::fprintf(stderr, "%s: %s\n", kFatalStopCaption, pszText != nullptr ? pszText : "");
    std::fflush(stderr);
    _exit(0);
}

void SetFatalStopMainWindow(void*) {}
