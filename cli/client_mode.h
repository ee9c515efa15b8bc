// tachyra-cli -c: a bounded client test with per-second figures, latency idle and under
// load, and a text, JSON or JSON-lines report.
#pragma once

#include "engine/engine.h"

#include <string>

struct CClientOptions {
    std::string strHost;
    int nPort = 10001;
    int nSeconds = 10;
    int nConnections = CKestrunEngine::kClientSessions;
    int nConnectTimeout = 10;
    bool bUpload = false;
    bool bJson = false;
    bool bJsonStream = false;
};

// Runs the test; the exit status (0, 1, or 130 after a second stop signal). Call
// InstallStopSignal and InitSocketLibrary first.
int RunClientMode(const CClientOptions& opt);
