#include "headless/test_ends.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// Sessions of one peer that overlap make one test, ended by the last of them; page loads
// and other peers' sessions are apart.
TEST(TestEnds, OverlappingSessionsOfOnePeerEndAsOneTest) {
    CTestEnds ends;
    const auto t0 = CTestEnds::Clock::now();
    auto record = [](const char* pszPeer, const char* pszMode, uint64_t nBytes, double dSeconds) {
        CSessionRecord r;
        r.strPeer = pszPeer;
        r.pszMode = pszMode;
        r.nBytes = nBytes;
        r.dSeconds = dSeconds;
        return r;
    };
    for (const char* pszPeer : {"10.0.0.2:5001", "10.0.0.2:5002", "10.0.0.2:5003", "[fd00::2]:7000",
                                "10.0.0.3:9", "10.0.0.3:10", "10.0.0.3:11"})
        ends.Started(pszPeer);
    // (session, seconds after t0 that it ends, lines printed then)
    const struct {
        CSessionRecord session;
        std::chrono::milliseconds tEnd;
        std::vector<std::string> lines;
    } steps[] = {
        {record("10.0.0.2:5001", "download", 1048576 * 100, 2.0), 2000ms, {}},
        {record("10.0.0.3:9", "http", 0, 0.1), 2100ms, {}},
        {record("10.0.0.2:5003", "http", 0, 0.1), 3000ms, {}},
        {record("[fd00::2]:7000", "websocket", 1048576 * 6, 3.0),
         3000ms,
         {"Test ended: [fd00::2], websocket download, 3.00 s, 2.00 MB/s"}},
        {record("10.0.0.2:5002", "download", 1048576 * 200, 4.0),
         4000ms,
         {"Test ended: 10.0.0.2, raw download, 4.00 s, 75.00 MB/s"}},
        {record("10.0.0.2:5004", "upload", 1048576, 1.0), 5000ms, {}}, // no start seen
    };
    for (const auto& step : steps)
        EXPECT_EQ(ends.Ended(step.session, t0 + step.tEnd), step.lines) << step.session.strPeer;

    // A connection of the peer that stays open does not hold its test's end for ever.
    EXPECT_EQ(ends.Ended(record("10.0.0.3:10", "upload", 1048576 * 10, 1.0), t0 + 10s),
              std::vector<std::string>());
    EXPECT_EQ(ends.Flush(t0 + 11s), std::vector<std::string>());
    EXPECT_EQ(ends.Flush(t0 + 12s),
              std::vector<std::string>{"Test ended: 10.0.0.3, raw upload, 1.00 s, 10.00 MB/s"});
    EXPECT_EQ(ends.Flush(t0 + 13s), std::vector<std::string>());
}
