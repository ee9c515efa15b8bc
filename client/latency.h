// Latency as the client sees it: the time of a TCP handshake to the server's port (the
// server sees a connection that sends nothing), and summaries of several figures.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A figure in milliseconds, or nothing when it could not be measured.
using COptionalMs = std::optional<double>;

// Connects to the server's port and closes at once; the milliseconds the connect took,
// or nothing when it failed, took longer than nTimeoutMs or fnCancelled said to stop.
COptionalMs MeasureHandshakeMs(const std::string& strHost, int nPort, int nTimeoutMs,
                               const std::function<bool()>& fnCancelled = nullptr);

struct CLatencySummary {
    COptionalMs min, median, max, mean;
};
// Nothing in each field when vecMs is empty.
CLatencySummary SummarizeLatency(std::vector<double> vecMs);
