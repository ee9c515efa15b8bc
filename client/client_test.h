// The client test: N sessions that each connect, send "EST" and the mode byte, and stream
// 8192-byte blocks one way until stopped or cut.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"
#include "engine/socket_registry.h"
#include "engine/worker_group.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CClientTest {
public:
    explicit CClientTest(CKestrunEngine& engine) : m_engine(engine) {}
    // Stops a test still running and waits for its threads.
    ~CClientTest();
    CClientTest(const CClientTest&) = delete;
    CClientTest& operator=(const CClientTest&) = delete;

    // Starts settings.nSessions sessions with a copy of settings. Returns false while a
    // test is running.
    bool StartClientTest(const CClientSettings& settings);
    // Cuts every session of the running test; sessions that connect later stop too.
    void StopClientTest();
    int ActiveClientCount() const { return m_nActiveClients.load(); }
    // The kernel's round-trip times of the connected sessions, in milliseconds; empty
    // where the system does not tell.
    std::vector<double> SampleRttMs() const;
    // Blocks until every session thread has left.
    void WaitForWorkers() { m_workers.Wait(); }
    int WorkerCount() const { return m_workers.Count(); }
    // Caps the test's threads; for tests.
    void SetWorkerLimit(int nLimit) { m_workers.SetLimit(nLimit); }

    // One session on the calling thread; strErrorText is set when it fails before it is
    // connected.
    void RunClientSession(const CClientSettings& settings, std::string& strErrorText);

private:
    friend void ClientThreadProc(CClientTest* pTest,
                                 std::shared_ptr<const CClientSettings> pSettings);
    // The connected session's stream, until the peer or a stop ends it.
    void StreamBlocks(SOCKET s, bool bDownload);
    // Ends one session's share of a test; the last one reports the outcome.
    void ClientSessionDone(const std::string& strErrorText);

    CKestrunEngine& m_engine;
    CSocketRegistry m_sessions;
    std::atomic<int> m_nActiveClients{0};
    CWorkerGroup m_workers;
};
