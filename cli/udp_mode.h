// tachyra-cli -c HOST -u: a bounded UDP test with its figures each interval (rate, loss,
// jitter) and in total, as text, a JSON document or JSON lines.
#pragma once

#include "cli/client_mode.h"

#include <cstdint>
#include <string>

// The exit status (0, or 1 when the test failed). Call InstallStopSignal and
// InitSocketLibrary first.
int RunUdpClientMode(const CClientOptions& opt, uint64_t nRateBps, uint32_t nDatagramSize);
