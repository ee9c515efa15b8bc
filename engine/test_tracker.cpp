#include "engine/test_tracker.h"

#include <cstring>

namespace {

bool EndsWithLastMember(size_t nKind) {
    return std::strcmp(kTestKinds[nKind], "full") != 0;
}

// A test's direction takes each of its requests' in turn; "" (a ping) says nothing.
void MergeDirection(std::string& strDirection, const char* pszDirection) {
    if (pszDirection[0] == '\0')
        return;
    if (strDirection.empty())
        strDirection = pszDirection;
    else if (strDirection != pszDirection)
        strDirection = "both";
}

} // namespace

void CTestTracker::AttachLocked(CMember& member, const char* pszDirection) {
    uint64_t nTest = 0;
    for (auto& [nId, test] : m_mapTests) {
        if (test.nKind == member.nKind && test.result.strPeer == member.strPeer)
            nTest = nId;
    }
    const auto tNow = Clock::now();
    if (nTest == 0) {
        nTest = m_nNextId++;
        CTest& test = m_mapTests[nTest];
        test.nKind = member.nKind;
        test.result.dTime = UnixTimeNow();
        test.result.strPeer = member.strPeer;
        test.result.strKind = kTestKinds[member.nKind];
        test.tStart = test.tLastActive = test.tRate = tNow;
    }
    CTest& test = m_mapTests[nTest];
    MergeDirection(test.result.strDirection, pszDirection);
    test.tLastActive = tNow;
    ++test.nMembers;
    member.nTest = nTest;
    member.nBaseSent = member.pTally->nSent.load(std::memory_order_relaxed);
    member.nBaseRecv = member.pTally->nRecv.load(std::memory_order_relaxed);
}

uint64_t CTestTracker::Join(const std::string& strPeer, size_t nKind, const char* pszDirection,
                            const CByteTally& tally) {
    m_anSessionsTotal[nKind].fetch_add(1);
    std::lock_guard<std::mutex> lock(m_cs);
    const uint64_t nMember = m_nNextId++;
    CMember& member = m_mapMembers[nMember];
    member.nKind = nKind;
    member.strPeer = strPeer;
    member.pTally = &tally;
    AttachLocked(member, pszDirection);
    return nMember;
}

void CTestTracker::TakeBytesLocked(CMember& member, CTest& test) {
    const uint64_t nSent = member.pTally->nSent.load(std::memory_order_relaxed);
    const uint64_t nRecv = member.pTally->nRecv.load(std::memory_order_relaxed);
    test.nDoneSent += nSent - member.nBaseSent;
    test.nDoneRecv += nRecv - member.nBaseRecv;
    member.nBaseSent = nSent;
    member.nBaseRecv = nRecv;
}

void CTestTracker::Request(uint64_t nMember, bool bBusy, const char* pszDirection) {
    // A request never ends a test (only leaving or the sweep does), so nothing is delivered.
    std::lock_guard<std::mutex> lock(m_cs);
    auto it = m_mapMembers.find(nMember);
    if (it == m_mapMembers.end())
        return;
    CMember& member = it->second;
    if (member.nTest == 0) {
        if (!bBusy)
            return;
        AttachLocked(member, pszDirection);
    }
    CTest& test = m_mapTests[member.nTest];
    MergeDirection(test.result.strDirection, pszDirection);
    if (bBusy != member.bBusy)
        test.nBusy += bBusy ? 1 : -1;
    member.bBusy = bBusy;
    test.tLastActive = Clock::now();
}

void CTestTracker::Leave(uint64_t nMember) {
    std::vector<CTestResult> vecEnded;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        auto it = m_mapMembers.find(nMember);
        if (it == m_mapMembers.end())
            return;
        CMember& member = it->second;
        if (member.nTest != 0) {
            CTest& test = m_mapTests[member.nTest];
            TakeBytesLocked(member, test);
            --test.nMembers;
            if (member.bBusy)
                --test.nBusy;
            test.tLastActive = Clock::now();
            if (test.nMembers == 0 && EndsWithLastMember(test.nKind))
                EndLocked(member.nTest, vecEnded);
        }
        m_mapMembers.erase(it);
    }
    Deliver(vecEnded);
}

bool CTestTracker::AttachCard(const std::string& strPeer, const std::string& strLatencyJson) {
    std::vector<CTestResult> vecEnded;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        for (auto& [nId, test] : m_mapTests) {
            if (!EndsWithLastMember(test.nKind) && test.result.strPeer == strPeer) {
                test.result.strLatencyJson = strLatencyJson;
                EndLocked(nId, vecEnded);
                break;
            }
        }
    }
    const bool bJoined = !vecEnded.empty();
    Deliver(vecEnded);
    return bJoined;
}

void CTestTracker::TotalsLocked(uint64_t nTest, const CTest& test, uint64_t& nSent,
                                uint64_t& nRecv) {
    nSent = test.nDoneSent;
    nRecv = test.nDoneRecv;
    for (const auto& [nId, member] : m_mapMembers) {
        if (member.nTest == nTest) {
            nSent += member.pTally->nSent.load(std::memory_order_relaxed) - member.nBaseSent;
            nRecv += member.pTally->nRecv.load(std::memory_order_relaxed) - member.nBaseRecv;
        }
    }
}

void CTestTracker::EndLocked(uint64_t nTest, std::vector<CTestResult>& vecEnded) {
    CTest& test = m_mapTests[nTest];
    for (auto& [nId, member] : m_mapMembers) {
        if (member.nTest == nTest) {
            TakeBytesLocked(member, test);
            member.nTest = 0;
            member.bBusy = false;
        }
    }
    if (test.result.strDirection.empty())
        test.result.strDirection = "both";
    test.result.nSendBytes = test.nDoneSent;
    test.result.nRecvBytes = test.nDoneRecv;
    // A full test lasts from its first request to its last; the others to their end.
    const auto tEnd = EndsWithLastMember(test.nKind) ? Clock::now() : test.tLastActive;
    test.result.dSeconds = std::chrono::duration<double>(tEnd - test.tStart).count();
    vecEnded.push_back(std::move(test.result));
    m_mapTests.erase(nTest);
    m_nTestsTotal.fetch_add(1);
}

void CTestTracker::Deliver(std::vector<CTestResult>& vecEnded) {
    for (CTestResult& result : vecEnded)
        m_fnFinished(std::move(result));
}

void CTestTracker::Sweep() {
    std::vector<CTestResult> vecEnded;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        const auto tNow = Clock::now();
        std::vector<uint64_t> vecDue;
        for (auto& [nId, test] : m_mapTests) {
            if (!EndsWithLastMember(test.nKind) && test.nBusy == 0 &&
                tNow - test.tLastActive >= kFullGrace)
                vecDue.push_back(nId);
            const double dElapsed = std::chrono::duration<double>(tNow - test.tRate).count();
            if (dElapsed >= 0.9) {
                uint64_t nSent = 0, nRecv = 0;
                TotalsLocked(nId, test, nSent, nRecv);
                test.dSendMBps = ResultMBps(nSent - test.nRateSent, dElapsed);
                test.dRecvMBps = ResultMBps(nRecv - test.nRateRecv, dElapsed);
                test.nRateSent = nSent;
                test.nRateRecv = nRecv;
                test.tRate = tNow;
            }
        }
        for (uint64_t nId : vecDue)
            EndLocked(nId, vecEnded);
    }
    Deliver(vecEnded);
}

void CTestTracker::EndAll() {
    std::vector<CTestResult> vecEnded;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        while (!m_mapTests.empty())
            EndLocked(m_mapTests.begin()->first, vecEnded);
    }
    Deliver(vecEnded);
}

std::vector<CLiveTest> CTestTracker::Live() {
    std::vector<CLiveTest> vecLive;
    std::lock_guard<std::mutex> lock(m_cs);
    const auto tNow = Clock::now();
    for (const auto& [nId, test] : m_mapTests) {
        CLiveTest live;
        live.strPeer = test.result.strPeer;
        live.strKind = test.result.strKind;
        live.strDirection = test.result.strDirection;
        live.dSeconds = std::chrono::duration<double>(tNow - test.tStart).count();
        TotalsLocked(nId, test, live.nSendBytes, live.nRecvBytes);
        live.dRecvMBps = test.dRecvMBps;
        live.dSendMBps = test.dSendMBps;
        live.nConnections = test.nMembers;
        vecLive.push_back(std::move(live));
    }
    return vecLive;
}

void CTestTracker::SessionEnded(bool bMember) {
    if (!bMember)
        m_anSessionsTotal[kSessionKinds - 1].fetch_add(1);
}

uint64_t CTestTracker::OpenSessions(size_t nKind) {
    std::lock_guard<std::mutex> lock(m_cs);
    uint64_t nOpen = 0;
    for (const auto& [nId, member] : m_mapMembers)
        nOpen += member.nKind == nKind ? 1 : 0;
    return nOpen;
}
