// What a client test measured, and its text and JSON forms.
#pragma once

#include "client/latency.h"

#include <cstdint>
#include <string>
#include <vector>

struct CIntervalSample {
    double dStart = 0; // seconds since the test started
    double dEnd = 0;
    uint64_t nRecvBytes = 0;
    uint64_t nSendBytes = 0;
    // The kernel's round-trip times of the test connections at the interval's end.
    CLatencySummary rtt;
    // The latest handshake to the server's port while the data flowed.
    COptionalMs handshake;
};

struct CClientReport {
    std::string strHost;
    int nPort = 0;
    bool bUpload = false;
    int nConnections = 0;
    int nSeconds = 0;
    std::vector<CIntervalSample> intervals;
    double dElapsed = 0;  // seconds from start to the end of the last session
    std::string strError; // empty when the test ran
    // Handshakes before the transfer, and during it.
    CLatencySummary idle;
    CLatencySummary loaded;
    uint64_t TotalRecv() const;
    uint64_t TotalSend() const;
};

// Mean rate in MB/s (1 MB = 1048576 bytes); 0 for an empty duration.
double MeanMegabytesPerSecond(uint64_t nBytes, double dSeconds);

// One line per interval, as printed while a test runs.
std::string FormatIntervalLine(const CIntervalSample& sample);
std::string FormatSummary(const CClientReport& report);
// "latency idle 0.2 ms, under load 14.8 ms (+14.6 ms)", with "n/a" for what is unknown.
std::string FormatLatencyLine(const CClientReport& report);
// A complete JSON document (UTF-8).
std::string FormatJsonReport(const CClientReport& report);
// The JSON objects of one interval and of the totals, as the document holds them.
std::string FormatJsonInterval(const CIntervalSample& sample);
std::string FormatJsonTotals(const CClientReport& report);
// A JSON string literal, quotes included.
std::string JsonQuote(const std::string& strText);
