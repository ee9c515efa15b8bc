// What a session knows of its run and its peer beyond the bytes: the tests it takes part
// in, the history the results routes read, and who may read them.
#pragma once

#include "engine/results_history.h"
#include "engine/test_tracker.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// One run's: shared by its sessions, alive as long as the run.
struct CResultsContext {
    CTestTracker* pTracker = nullptr;
    CResultsHistory* pHistory = nullptr; // null: nothing is kept
    std::string strToken;                // empty: no token opens the results to other hosts
    const std::atomic<size_t>* pSessions = nullptr; // the run's open sessions
};

// One session's.
struct CSessionContext {
    const CResultsContext* pRun = nullptr;
    std::string strPeer;     // the peer's address, without a port
    bool bLocalPeer = false; // a loopback address: this machine
    uint64_t nMember = 0;    // its place in a test (CTestTracker), 0: none yet
    // Joins a test of kTestKinds[nKind] (the first time) or starts or ends a request of it.
    void Join(size_t nKind, const char* pszDirection, const CByteTally& tally) {
        if (pRun == nullptr)
            return;
        if (nMember == 0)
            nMember = pRun->pTracker->Join(strPeer, nKind, pszDirection, tally);
        else
            pRun->pTracker->Request(nMember, true, pszDirection);
    }
    void RequestDone() {
        if (pRun != nullptr && nMember != 0)
            pRun->pTracker->Request(nMember, false, "");
    }
};

// Indices into kTestKinds.
const size_t kKindRaw = 0;
const size_t kKindWebSocket = 1;
const size_t kKindFull = 2;
const size_t kKindUdp = 3;
