// The end of each test a peer ran against the server, out of its sessions: the lines the
// text output prints when a test ends.
#pragma once

#include "engine/engine_events.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CTestEnds {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kGrace{2};

    // Call from the session hooks, any thread. A test is the sessions of one peer address
    // that overlap in time (a raw client's connections, a speed page's stream); it ends
    // when the last of them ends. Ended returns the lines of the tests that ended with
    // this session, one per kind and direction that moved (page loads and other requests
    // are no test), e.g. "Test ended: 10.1.2.3, raw download, 10.02 s, 112.50 MB/s".
    void Started(const std::string& strPeer);
    std::vector<std::string> Ended(const CSessionRecord& session, Clock::time_point tNow);
    // A browser may keep a connection that carries no test (one opened ahead, a page
    // load) open long after its test: a test whose last session ended kGrace before tNow
    // ends then, whatever else of the peer is still open. Call about once a second.
    std::vector<std::string> Flush(Clock::time_point tNow);

private:
    struct CPart {
        uint64_t nBytes = 0;
        Clock::time_point tFirst = Clock::time_point::max();
        Clock::time_point tLast = Clock::time_point::min();
    };
    struct CPeerTest {
        int nOpen = 0;
        std::map<std::string, CPart> parts; // by "kind direction"
        Clock::time_point tLastEnd = Clock::time_point::min();
    };
    // Appends the lines of a peer's test and forgets its parts.
    static void EndTest(const std::string& strHost, CPeerTest& test,
                        std::vector<std::string>& vecLines);

    std::mutex m_cs;
    std::map<std::string, CPeerTest> m_mapPeers; // by peer address, without the port
};
