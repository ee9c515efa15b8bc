// Latency as the client sees it: the time of a TCP handshake to the server's port (the
// server sees a connection that sends nothing), measured on the I/O core, and summaries
// of several figures.
#pragma once

#include "engine/engine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A figure in milliseconds, or nothing when it could not be measured.
using COptionalMs = std::optional<double>;

// Connects to the server's port (each of its addresses in turn) and closes at once; the
// milliseconds the connect took, or nothing when it failed, took longer than nTimeoutMs
// or fnCancelled said to stop (asked every 50 ms). Waits on the calling thread, which must
// not be a core thread.
COptionalMs MeasureHandshakeMs(CKestrunEngine& engine, const std::string& strHost, int nPort,
                               int nTimeoutMs, const std::function<bool()>& fnCancelled = nullptr);

// A handshake to the server's port four times a second while a test runs, on the core:
// the queueing the test adds shows in how long the handshake waits. Handshakes are tiny
// (three packets), so a ten-second test rests on 30 or more of them.
class CHandshakeProber {
public:
    CHandshakeProber(CKestrunEngine& engine, const std::string& strHost, int nPort);
    // Stops and waits for the prober's coroutine.
    ~CHandshakeProber() { Stop(); }
    CHandshakeProber(const CHandshakeProber&) = delete;
    CHandshakeProber& operator=(const CHandshakeProber&) = delete;
    void Stop();
    static constexpr std::chrono::milliseconds kPeriod{250};
    // The handshakes measured so far, from the nFrom-th on.
    std::vector<double> Since(size_t nFrom) const;

    struct CState; // shared with the coroutine

private:
    CKestrunEngine& m_engine;
    std::shared_ptr<CState> m_pState;
};

struct CLatencySummary {
    COptionalMs min, median, max, mean;
};
// Nothing in each field when vecMs is empty.
CLatencySummary SummarizeLatency(std::vector<double> vecMs);
