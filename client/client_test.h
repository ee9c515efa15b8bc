// The client test: N sessions (each way, for both directions) that each connect, send
// "EST" and the mode byte, and stream one way until stopped or cut, as coroutines on the
// engine's I/O core.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CClientTest {
public:
    explicit CClientTest(CKestrunEngine& engine) : m_engine(engine) {}
    // Stops a test still running and waits for it to end.
    ~CClientTest();
    CClientTest(const CClientTest&) = delete;
    CClientTest& operator=(const CClientTest&) = delete;

    // Looks the server up (on the hook thread) and starts settings.nSessions sessions (each
    // way, for both directions) with
    // a copy of settings. Returns false while a test is running.
    bool StartClientTest(const CClientSettings& settings);
    // Cuts every session of the running test, connects under way included.
    void StopClientTest();
    // Sessions of the running test that have not ended; every one counts from the start.
    int ActiveClientCount() const { return m_nActiveClients.load(); }
    // True from StartClientTest until OnClientTestEnded has returned.
    bool IsClientTestActive() const { return m_bTestActive.load(); }
    // Sessions of the last test that got connected.
    int ConnectedCount() const { return m_nConnected.load(); }
    // What the kernel tells of the running test's connections.
    struct CTcpSample {
        // Round-trip times in milliseconds: the receiver's estimate for a download
        // session, the sender's for an upload session; none where the system does not tell.
        std::vector<double> vecRttMs;
        // The upload bytes the server acknowledged since the test started, ended sessions
        // included; nothing where the system cannot tell for some session.
        std::optional<uint64_t> nAckedSendBytes;
    };
    // Once the test has ended: its final byte count and no round trips.
    CTcpSample SampleTcp() const;
    // Blocks until the test has fully ended. Never called from a core thread.
    void WaitForTestEnd();

    struct CTest; // one test's state, shared by its coroutines

private:
    // The test's last step, on the hook thread.
    void TestEnded(const std::string& strErrorText);
    CKestrunEngine& m_engine;
    mutable std::mutex m_cs;
    std::condition_variable m_cvEnded;
    std::shared_ptr<CTest> m_pTest;
    CTcpSample m_ended; // the last test's final figures
    std::atomic<int> m_nActiveClients{0};
    std::atomic<int> m_nConnected{0};
    std::atomic<bool> m_bTestActive{false};
};
