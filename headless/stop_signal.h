// Ctrl-C (SIGINT, SIGTERM; the console's break events on Windows) as a flag the main
// thread polls.
#pragma once

// Call once, before any other thread starts.
void InstallStopSignal();
// Waits up to nTimeoutMs for a stop signal; true when one has arrived.
bool WaitForStopSignal(int nTimeoutMs);
