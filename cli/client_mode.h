// tachyra-cli -c: a bounded client test with per-second figures, latency idle and under
// load, and a text, JSON or JSON-lines report.
#pragma once

#include "cli/verdict.h"
#include "engine/engine.h"
#include "engine/settings.h"

#include <cstdint>
#include <string>

struct CClientOptions {
    std::string strHost;
    int nPort = 10001;
    int nSeconds = 10;
    int nConnections = CKestrunEngine::kClientSessions; // each way
    int nConnectTimeout = 10;
    EClientDirection direction = EClientDirection::kDownload;
    uint64_t nRateBitsPerSecond = 0; // each direction's total; 0: no cap
    double dInterval = 1.0;
    double dOmit = 0.0; // a warm-up run before the -t seconds, left out of the totals
    CThresholds thresholds;
    bool bJson = false;
    bool bJsonStream = false;
};

// Runs the test; the exit status (0, 1 for a failed test, 3 for a missed threshold, or
// 130 after a second stop signal). Call InstallStopSignal and InitSocketLibrary first.
int RunClientMode(const CClientOptions& opt);
