// The client's UDP test: a control connection to the server's port ("EST", mode 2, the
// request), datagrams paced at the chosen rate to the same port or received from it, and
// the receiver's figures from whichever side receives. Runs as coroutines on one lane of
// the engine's I/O core; the wire formats are in engine/udp_wire.h.
#pragma once

#include "engine/engine.h"
#include "engine/udp_stats.h"
#include "engine/udp_wire.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

struct CUdpTestSettings {
    std::string strHost;
    int nPort = 10001;
    bool bUpload = false; // the client sends; by default the server does
    uint64_t nRateBps = kUdpDefaultRate;
    uint32_t nDatagramSize = kUdpDefaultDatagram;
    // The control connection and the server's answer must come within this; so must the
    // first datagram of a download.
    int nConnectTimeoutSeconds = 10;
};

class CUdpClientTest {
public:
    explicit CUdpClientTest(CKestrunEngine& engine) : m_engine(engine) {}
    // Stops a test still running and waits for it to end.
    ~CUdpClientTest();
    CUdpClientTest(const CUdpClientTest&) = delete;
    CUdpClientTest& operator=(const CUdpClientTest&) = delete;

    // Starts the test with a copy of settings (the lookup on the hook thread). False while
    // a test is running.
    bool Start(const CUdpTestSettings& settings);
    // The figures so far: the receiver's (this side's for a download, the server's latest
    // report for an upload), with the sender's count of datagrams sent.
    CUdpFigures Figures() const;
    // Waits up to nTimeoutMs for the test to end by itself (an error, or the server
    // ended it); true when it has ended.
    bool WaitEnded(int nTimeoutMs);
    // Stops sending, takes the final figures over the control connection (waiting at most
    // kFinalWait for them), closes and waits for the end. Never called from a core thread.
    void Stop();
    // Empty when the test ran without a fault.
    std::string ErrorText() const;
    // True once the server accepted the test.
    bool Accepted() const;

    static constexpr std::chrono::seconds kFinalWait{2};

    struct CRun; // one test's state, shared by its coroutines
    // The test's last step, on the hook thread.
    void Ended(const std::string& strError);

private:
    std::shared_ptr<CRun> CurrentRun() const;

    CKestrunEngine& m_engine;
    mutable std::mutex m_cs;
    std::condition_variable m_cv;
    std::shared_ptr<CRun> m_pRun;
    bool m_bEnded = true;
    std::string m_strError;
    friend struct CRun;
};
