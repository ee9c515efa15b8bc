// Which connections make up which test, while they run: a raw or WebSocket test is the
// connections of its kind from one peer address that overlap in time; a full test is the
// measuring requests (/download, /upload, /ping) of one peer that overlap or follow one
// another within kFullGrace. A test ends when its last connection has gone (raw,
// WebSocket), or kFullGrace after its last request or at once when the page sends its
// result card (full); it then goes to the finished callback. Also the server's counters
// for /metrics. Session threads call it briefly under one lock; nothing here waits.
#pragma once

#include "engine/test_result.h"
#include "support/byte_stream.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// One test running now, as the live table shows it.
struct CLiveTest {
    std::string strPeer;
    std::string strKind;
    std::string strDirection;
    double dSeconds = 0;
    uint64_t nRecvBytes = 0;
    uint64_t nSendBytes = 0;
    double dRecvMBps = 0; // over the last second or so
    double dSendMBps = 0;
    int nConnections = 0;
};

class CTestTracker {
public:
    using FnFinished = std::function<void(CTestResult)>;
    static constexpr std::chrono::seconds kFullGrace{5};
    // Kinds of session for /metrics: the test kinds, then every other session.
    static constexpr size_t kSessionKinds = std::size(kTestKinds) + 1;

    explicit CTestTracker(FnFinished fnFinished) : m_fnFinished(std::move(fnFinished)) {}

    // A connection takes part in a test of pszKind from strPeer (a test of that kind from
    // it that is running, or a new one). Bytes count from now. Gives the member's id.
    uint64_t Join(const std::string& strPeer, size_t nKind, const char* pszDirection,
                  const CByteTally& tally);
    // A full test's connection begins (bBusy) or ends a request; a member whose test has
    // ended meanwhile joins the next one.
    void Request(uint64_t nMember, bool bBusy, const char* pszDirection);
    // The member's connection has ended: its bytes stay with its test.
    void Leave(uint64_t nMember);
    // The page's result card: joined to the peer's running full test, which ends now.
    // False when the peer has none running.
    bool AttachCard(const std::string& strPeer, const std::string& strLatencyJson);
    // Ends full tests past their grace and takes the live rates; a few times a second.
    void Sweep();
    // Ends every test (the run ends).
    void EndAll();
    std::vector<CLiveTest> Live();

    // Counters for /metrics.
    void SessionEnded(bool bMember);
    uint64_t SessionsTotal(size_t nKind) const { return m_anSessionsTotal[nKind].load(); }
    uint64_t OpenSessions(size_t nKind);
    uint64_t TestsTotal() const { return m_nTestsTotal.load(); }
    void AcceptPaused() { m_nAcceptPauses.fetch_add(1); }
    uint64_t AcceptPauses() const { return m_nAcceptPauses.load(); }

private:
    using Clock = std::chrono::steady_clock;
    struct CMember {
        uint64_t nTest = 0; // 0: its test has ended
        size_t nKind = 0;
        std::string strPeer;
        const CByteTally* pTally = nullptr;
        uint64_t nBaseSent = 0;
        uint64_t nBaseRecv = 0;
        bool bBusy = false;
    };
    struct CTest {
        CTestResult result;
        size_t nKind = 0;
        Clock::time_point tStart;
        Clock::time_point tLastActive;
        int nMembers = 0;
        int nBusy = 0;
        uint64_t nDoneSent = 0; // of members that have left
        uint64_t nDoneRecv = 0;
        // the live rate's last look
        Clock::time_point tRate;
        uint64_t nRateSent = 0;
        uint64_t nRateRecv = 0;
        double dRecvMBps = 0;
        double dSendMBps = 0;
    };

    void AttachLocked(CMember& member, const char* pszDirection);
    void TakeBytesLocked(CMember& member, CTest& test);
    void TotalsLocked(uint64_t nTest, const CTest& test, uint64_t& nSent, uint64_t& nRecv);
    void EndLocked(uint64_t nTest, std::vector<CTestResult>& vecEnded);
    void Deliver(std::vector<CTestResult>& vecEnded);

    FnFinished m_fnFinished;
    std::mutex m_cs;
    uint64_t m_nNextId = 1;
    std::map<uint64_t, CMember> m_mapMembers;
    std::map<uint64_t, CTest> m_mapTests;
    std::atomic<uint64_t> m_anSessionsTotal[kSessionKinds] = {};
    std::atomic<uint64_t> m_nTestsTotal{0};
    std::atomic<uint64_t> m_nAcceptPauses{0};
};
