// Ctrl-C (SIGINT, SIGTERM; the console's break events on Windows) as a count the main
// thread polls.
#pragma once

// Call once, before any other thread starts.
void InstallStopSignal();
// Waits up to nTimeoutMs for a stop signal unless one has arrived already; true when one
// has.
bool WaitForStopSignal(int nTimeoutMs);
// Waits up to nTimeoutMs for one more stop signal; returns how many have arrived in all.
int WaitForAnotherStopSignal(int nTimeoutMs);
