// The state every part of a test shares: the two byte counters and the front end's event
// hooks. The server, the client test and the meter each work on one CKestrunEngine; it
// knows nothing of windows and nothing of them.
#pragma once

#include "engine/engine_events.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class CIoCore;

class CKestrunEngine {
public:
    // The raw test protocol's block.
    static const int kBlockSize = 8192;
    // Connections the system may hold for the server before it accepts them. A burst of
    // thousands of connects (a crowd of phones, a storm) overflows a queue of 256 within
    // milliseconds, and each dropped handshake waits a second or more for its retry: with
    // 256, 5,000 connects at once took 2 to 4 s to be taken in, with 4,096 (the usual
    // system cap) all were in within 0.2 s.
    static const int kListenBacklog = 4096;
    static const int kClientSessions = 10;
    // Receivers take whatever has arrived, up to this much per call. The 8192-byte block
    // is the sender's; how much a receiver takes per call no peer can see, and fewer,
    // larger receives move the same bytes for much less CPU (on the I/O core 256 KiB
    // took 0.37 CPU s/GiB on loopback against 0.42 with 128 KiB; 1 MiB was no better).
    static const size_t kRecvBufferSize = 256 * 1024;

    explicit CKestrunEngine(CEngineEvents* pEvents = nullptr);
    // Waits for the core's threads; every run on it has ended by then.
    ~CKestrunEngine();
    CKestrunEngine(const CKestrunEngine&) = delete;
    CKestrunEngine& operator=(const CKestrunEngine&) = delete;

    CEngineEvents& Events() { return *m_pEvents; }
    // The one I/O core every socket of the server and the client test lives on.
    CIoCore& Core() { return *m_pCore; }

    void AddRecvBytes(uint64_t n) { m_nRecvBytes.fetch_add(n, std::memory_order_relaxed); }
    void AddSendBytes(uint64_t n) { m_nSendBytes.fetch_add(n, std::memory_order_relaxed); }
    // Takes the bytes counted since the last take (one atomic exchange per counter), so
    // that a byte added at any moment lands in exactly one interval.
    void TakeCounters(uint64_t& nRecvBytes, uint64_t& nSendBytes) {
        std::lock_guard<std::mutex> lock(m_csTotals);
        nRecvBytes = m_nRecvBytes.exchange(0);
        nSendBytes = m_nSendBytes.exchange(0);
        m_nTakenRecv += nRecvBytes;
        m_nTakenSend += nSendBytes;
    }
    // Every byte counted since the engine began; never goes back. The adds take no lock.
    void TotalCounters(uint64_t& nRecvBytes, uint64_t& nSendBytes) {
        std::lock_guard<std::mutex> lock(m_csTotals);
        nRecvBytes = m_nTakenRecv + m_nRecvBytes.load();
        nSendBytes = m_nTakenSend + m_nSendBytes.load();
    }

private:
    CEngineEvents m_noEvents;
    CEngineEvents* m_pEvents;
    // 64-bit so that a fast link cannot wrap them within one second.
    std::atomic<uint64_t> m_nRecvBytes{0};
    std::atomic<uint64_t> m_nSendBytes{0};
    std::mutex m_csTotals;
    uint64_t m_nTakenRecv = 0;
    uint64_t m_nTakenSend = 0;
    std::unique_ptr<CIoCore> m_pCore;
};
