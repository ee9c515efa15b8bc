// One finished test as the history keeps it: who, what, how long and the bytes the server
// counted each way.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The kinds of test the server records. A new kind is one more entry here and one more
// place that joins its sessions to the tracker.
inline constexpr const char* kTestKinds[] = {"raw", "websocket", "full", "udp"};

struct CTestResult {
    double dTime = 0;    // the test's start, Unix time in seconds
    std::string strPeer; // the peer's address, without a port
    std::string strKind; // one of kTestKinds
    // The client's view: "download" (the server sent), "upload" (it received) or "both"
    std::string strDirection;
    double dSeconds = 0;
    uint64_t nRecvBytes = 0; // what the server received
    uint64_t nSendBytes = 0; // what the server sent
    // A JSON object of latency figures in milliseconds, or empty when none was reported.
    std::string strLatencyJson;
};

// The time now as dTime holds it: Unix time in seconds.
inline double UnixTimeNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Bytes over seconds in MB/s (1 MB = 1,048,576 bytes); 0 for no time.
inline double ResultMBps(uint64_t nBytes, double dSeconds) {
    return dSeconds > 0 ? static_cast<double>(nBytes) / 1048576.0 / dSeconds : 0;
}
