#include "headless/test_ends.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

CSessionRecord Record(const char* pszPeer, const char* pszMode, uint64_t nBytes, double dSeconds) {
    CSessionRecord record;
    record.strPeer = pszPeer;
    record.pszMode = pszMode;
    record.nBytes = nBytes;
    record.dSeconds = dSeconds;
    return record;
}

// Sessions of one peer that overlap make one test, ended by the last of them, or kGrace
// after its last test session while the peer holds another connection; page loads and
// other peers' sessions are apart.
TEST(TestEnds, OverlappingSessionsOfOnePeerEndAsOneTest) {
    CTestEnds ends;
    const auto t0 = CTestEnds::Clock::now();
    for (const char* pszPeer : {"10.0.0.2:1", "10.0.0.2:2", "10.0.0.2:3", "[fd00::2]:7",
                                "10.0.0.3:1", "10.0.0.3:2", "10.0.0.3:3"})
        ends.Started(pszPeer);
    const struct {
        CSessionRecord session;
        std::chrono::milliseconds tEnd;
        Lines lines;
    } steps[] = {{Record("10.0.0.2:1", "download", 100 << 20, 2.0), 2000ms, {}},
                 {Record("10.0.0.3:1", "http", 0, 0.1), 2100ms, {}},
                 {Record("10.0.0.2:3", "http", 0, 0.1), 3000ms, {}},
                 {Record("[fd00::2]:7", "websocket", 6 << 20, 3.0),
                  3000ms,
                  {"Test ended: [fd00::2], websocket download, 3.00 s, 2.00 MB/s"}},
                 {Record("10.0.0.2:2", "download", 200 << 20, 4.0),
                  4000ms,
                  {"Test ended: 10.0.0.2, raw download, 4.00 s, 75.00 MB/s"}},
                 {Record("10.0.0.3:2", "upload", 10 << 20, 1.0), 10000ms, {}}};
    for (const auto& step : steps)
        EXPECT_EQ(ends.Ended(step.session, t0 + step.tEnd), step.lines) << step.session.strPeer;
    EXPECT_EQ(ends.Flush(t0 + 11s), Lines());
    EXPECT_EQ(ends.Flush(t0 + 12s), Lines{"Test ended: 10.0.0.3, raw upload, 1.00 s, 10.00 MB/s"});
    EXPECT_EQ(ends.Flush(t0 + 13s), Lines());
}
