// The test server: a listening socket, one session thread per accepted connection, and a
// stop that cuts every session and waits for them.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"
#include "engine/socket_registry.h"
#include "engine/worker_group.h"
#include "server/download_pump.h"
#include "support/byte_stream.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class CTestServer {
public:
    explicit CTestServer(CKestrunEngine& engine) : m_engine(engine) {}
    // Stops a run still going and waits for its threads.
    ~CTestServer();
    CTestServer(const CTestServer&) = delete;
    CTestServer& operator=(const CTestServer&) = delete;

    // Starts a run on its own thread with a copy of settings. Returns false (and starts
    // nothing) while a run exists, including one that does not listen yet.
    bool StartServer(const CServerSettings& settings);
    // Stops the run: wakes the accept loop, which cuts every session and waits for them.
    // A stop before the run listens makes the run end as soon as it has its socket.
    void StopServer();
    // True while the listening socket exists.
    bool IsServerListening() const;
    // True from StartServer until the run has fully ended.
    bool IsServerRunActive() const { return m_bRunActive.load(); }
    size_t ServerSessionCount() const { return m_sessions.Count(); }
    // Blocks until the run's threads (server and sessions) have all left.
    void WaitForWorkers() { m_workers.Wait(); }
    int WorkerCount() const { return m_workers.Count(); }
    // Caps the run's threads (the server thread and its sessions); for tests.
    void SetWorkerLimit(int nLimit) { m_workers.SetLimit(nLimit); }

    // One whole run on the calling thread; returns after the stop once every session has
    // gone, or at once when the port cannot be opened (false).
    bool RunServer(const CServerSettings& settings);
    // One connection's session, from the first token to the close of s.
    void HandleConnection(SOCKET s);

private:
    friend void ServerThreadProc(CTestServer* pServer);
    // Accepts until a stop or a failure of the listening socket itself.
    void AcceptLoop(SOCKET sListen, const CServerSettings& settings);
    // A session's end, on whichever thread saw it: the event, the registry and the close.
    void EndSession(SOCKET s, const CSessionRecord& record);

    CKestrunEngine& m_engine;
    // The running run's own copy, written before its thread starts.
    CServerSettings m_settings;

    // The listening socket as the stopper sees it; guarded by m_csListen so that a stop
    // never touches a handle the server thread has already closed. A stop that comes
    // before the socket exists is remembered in m_bStopPending.
    mutable std::mutex m_csListen;
    SOCKET m_sockListen = INVALID_SOCKET;
    bool m_bStopPending = false;
    std::atomic<bool> m_bRunActive{false};

    CSocketRegistry m_sessions;
    // Signalled, while accepting has paused for want of descriptors, when a session ends
    // or a stop comes: accepting tries again.
    std::atomic<bool> m_bAcceptPaused{false};
    // Sessions begun since the allocator last gave its free pages back: when the last
    // session ends after many, it does (threads leave freed memory spread over arenas).
    std::atomic<size_t> m_nSessionsSinceRelease{0};
    std::mutex m_csRoom;
    std::condition_variable m_cvRoom;
    // Raw downloads once they have said so; where it cannot run, their threads send.
    CDownloadPump m_pump{m_engine};
    CWorkerGroup m_workers;
};

// What a session turned out to be and how many bytes it counted.
struct CSessionOutcome {
    const char* pszMode = "none"; // as in CSessionRecord
    uint64_t nBytes = 0;
    // A download the hand-over took: the session goes on without the calling thread.
    bool bHandedOver = false;
};

// The session on its stream once the connection is registered: the first token decides
// between the raw test stream, a browser request and a drained upload. A raw download
// is first offered to fnHandOverDownload, when given; if it takes the connection, the
// call returns at once.
CSessionOutcome ServeConnection(CKestrunEngine& engine, CByteStream& stream,
                                const CPageTexts& texts,
                                const std::function<bool()>& fnHandOverDownload = {});
