// The test server: listening sockets and every session as coroutines on the engine's I/O
// core, a watch per core thread for idle and slow sessions, and a stop that cuts every
// session and ends the run once they have gone.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class CTestServer {
public:
    explicit CTestServer(CKestrunEngine& engine) : m_engine(engine) {}
    // Stops a run still going and waits for it to end.
    ~CTestServer();
    CTestServer(const CTestServer&) = delete;
    CTestServer& operator=(const CTestServer&) = delete;

    // Starts a run on the core with a copy of settings. Returns false (and starts nothing)
    // while a run exists, including one that does not listen yet.
    bool StartServer(const CServerSettings& settings);
    // Stops the run: closes the listening sockets and cuts every session; the run ends
    // once they have gone. A stop before the run listens ends it as soon as it has them.
    void StopServer();
    // True while the listening sockets are open.
    bool IsServerListening() const;
    // True from StartServer until the run has fully ended (OnServerStopped has returned).
    bool IsServerRunActive() const { return m_bRunActive.load(); }
    // True until the run's last hook (OnServerStopped) has returned.
    bool HasServerRun() const;
    size_t ServerSessionCount() const;
    // Blocks until the run has fully ended. Never called from a core thread.
    void WaitForRunEnd();

    struct CRun; // one run's state, shared by its coroutines
    // The run's last step, on the hook thread: the end hooks, then the core let go.
    void RunEnded();

private:
    CKestrunEngine& m_engine;
    mutable std::mutex m_cs;
    std::condition_variable m_cvEnded;
    std::shared_ptr<CRun> m_pRun; // the current run, until it ends
    std::atomic<bool> m_bRunActive{false};
};
