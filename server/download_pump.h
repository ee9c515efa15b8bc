// Raw downloads without a thread each. A session that has read "EST" and the download
// byte hands its socket over; a few pump threads then keep every such socket fed with
// protocol blocks from the shared send pattern, waiting for room to send instead of
// blocking in send. Tens of thousands of downloads then cost a socket and a small record
// each, not a thread and its stack, and a stop ends them without waking a thread each.
// Where the system has no readiness wait for this (epoll), Start fails and each session
// keeps sending on its own thread.
#pragma once

#include "engine/engine.h"
#include "support/socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One handed-over download as it ends.
struct CPumpedDownload {
    SOCKET s = INVALID_SOCKET;
    std::string strPeer;
    std::chrono::steady_clock::time_point tStart;
    uint64_t nBytes = 0; // sent since the session began
};

class CDownloadPump {
public:
    // Runs on a pump thread when a download ends: the peer left, a send failed, a stop cut
    // the socket, or it took no byte for the idle limit. The callee owns the socket from
    // then on and closes it.
    using EndedFn = std::function<void(const CPumpedDownload&)>;

    explicit CDownloadPump(CKestrunEngine& engine);
    // Stops the pump if it runs.
    ~CDownloadPump();
    CDownloadPump(const CDownloadPump&) = delete;
    CDownloadPump& operator=(const CDownloadPump&) = delete;

    // Starts taking downloads (threads come with them); nIdleTimeoutSeconds 0 means no
    // idle limit. False where the system cannot do it, or when it runs already.
    bool Start(int nIdleTimeoutSeconds, EndedFn fnEnded);
    // Takes over sending on download.s. False when the pump does not run or cannot watch
    // the socket: the caller keeps the socket and sends itself.
    bool Add(const CPumpedDownload& download);
    // Ends every download still held (through the ended hook) and waits for the threads.
    void Stop();
    // Downloads held now.
    size_t Count() const { return m_nHeld.load(); }
    // Lanes (threads) open now; a lane closes a few seconds after its last download ends.
    size_t LaneCount();

private:
    struct CLane;

    // A new lane and its thread, or null (traced) when the system refuses one.
    CLane* OpenLane();
    void RunLane(CLane& lane);
    // Called by an empty lane's own thread: takes the lane out of the pump, so that it
    // can close, or null when it is still needed or the lanes are busy (it asks again).
    std::unique_ptr<CLane> TakeIdleLane(CLane& lane);

    CKestrunEngine& m_engine;
    EndedFn m_fnEnded;
    int m_nIdleTimeoutSeconds = 0;
    // Adds, the start and the stop take turns; lanes are only opened under it.
    std::mutex m_csLanes;
    bool m_bRunning = false;
    std::vector<std::unique_ptr<CLane>> m_vecLanes;
    std::atomic<size_t> m_nHeld{0};
    std::atomic<bool> m_bStopping{false};
};
