// The release gate with the start tick, and the fatal stop. Windows probes the real
// system; elsewhere the gate always passes.
#pragma once

#include "support/os_info.h"

#include <cstdint>
#include <string>

// FileVersion text(s) of kernel32.dll; empty off Windows or when it has none.
std::string GetKernel32Version();

// Identifies the system once (later calls only read) and returns the result. A failed
// identification ends the process through FatalStop.
const OSInfo& InitOSInfo();

// Checks the release against the supported list (FatalStop when it fails), then the
// system's millisecond tick count.
uint32_t GetStartTick();

// Shows the text in a modal error box captioned kFatalStopCaption and ends the process
// with exit code 0. A second caller waits until the process has gone. The time-out is
// ignored.
[[noreturn]] void FatalStop(const char* pszText, unsigned int nTimeout = 0);

// Windows: the window FatalStop owns its box with when no window of the calling thread
// is active. Ignored elsewhere.
void SetFatalStopMainWindow(void* hWnd);
