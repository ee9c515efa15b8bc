// The pure arithmetic behind tachyra-cli: the client's rates as typed, interval ends with a
// warm-up, pacing and thresholds, and where the server sees a test end.
#include "cli/bit_rate.h"
#include "cli/interval_plan.h"
#include "cli/verdict.h"
#include "engine/rate_pacer.h"
#include "headless/test_ends.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(ClientFigures, RatesParseWithDecimalSuffixesAndBadTextIsRefused) {
    const std::pair<const char*, uint64_t> good[] = {
        {"400M", 400000000}, {"2.5k", 2500}, {"1G", 1000000000}, {"64000", 64000}, {".5M", 500000}};
    for (const auto& [psz, n] : good)
        EXPECT_EQ(ParseBitRate(psz), n) << psz;
    for (const char* psz : {"", "0", "-5M", "10X", "M", "10MB", "nan", "1e20", "5 M"})
        EXPECT_FALSE(ParseBitRate(psz)) << psz;
    EXPECT_EQ(FormatBitRate(999), "999.00 bit/s");
    EXPECT_EQ(FormatBitRate(400e6), "400.00 Mbit/s");
}

TEST(ClientFigures, IntervalsEndEveryStepAndOnceMoreWhereTheWarmUpEnds) {
    const CIntervalPlan plan{0.4, 1.0};
    double d = 0;
    for (double dExpected : {0.0, 0.4, 0.8, 1.0, 1.4, 1.8}) {
        EXPECT_NEAR(d, dExpected, 1e-9);
        EXPECT_EQ(plan.IsOmitted(d), dExpected < 1.0) << dExpected;
        d = plan.NextEnd(d);
    }
    EXPECT_GE(d, 2.0) << "no end between 1.8 and 2.0";
    EXPECT_NEAR(plan.NextEnd(1.003), 1.4, 1e-9) << "an end that came late keeps the grid";
}

TEST(ClientFigures, PacingWaitsForTheBytesDueAndNeverCatchesUpInABurst) {
    using namespace std::chrono;
    const auto t0 = CPaceSchedule::Clock::time_point{} + hours(1);
    CPaceSchedule pace(1e6, t0); // 1 MB/s: 1,000 bytes a millisecond
    EXPECT_EQ(pace.StepBytes(1 << 20), 2000u);
    EXPECT_EQ(CPaceSchedule(100, t0).StepBytes(1 << 20), 1u);
    EXPECT_EQ(duration_cast<microseconds>(pace.AfterMoved(5000, t0)).count(), 5000);
    EXPECT_EQ(pace.AfterMoved(5000, t0 + milliseconds(10)), CPaceSchedule::Clock::duration::zero());
    // One second behind: it may catch up 20 ms' worth at once, not a second's.
    EXPECT_EQ(pace.AfterMoved(1000, t0 + seconds(1)), CPaceSchedule::Clock::duration::zero());
    EXPECT_EQ(pace.AfterMoved(20000, t0 + seconds(1)), CPaceSchedule::Clock::duration::zero());
    EXPECT_EQ(duration_cast<microseconds>(pace.AfterMoved(1000, t0 + seconds(1))).count(), 1000);
}

TEST(ClientFigures, EachMissedThresholdIsNamedOnceWithItsShortfall) {
    CThresholds t;
    t.dMinBitsPerSecond = 100e6;
    t.dMaxLatencyMs = 20;
    CMeasuredFigures m;
    m.vecRates = {{"received", 60e6}, {"sent", 80e6}};
    m.dLoadedLatencyMs = 25;
    CVerdict v = JudgeTest(t, m);
    EXPECT_FALSE(v.bPassed);
    EXPECT_EQ(v.vecFailed, (std::vector<std::string>{"rate", "latency"}));
    ASSERT_EQ(v.vecMessages.size(), 3u);
    EXPECT_NE(v.vecMessages[0].find("received 60.00 Mbit/s, short by 40.00 Mbit/s"),
              std::string::npos);
    EXPECT_NE(v.vecMessages[2].find("over by 5.00 ms"), std::string::npos);
    m.vecRates = {{"received", 100e6}};
    m.dLoadedLatencyMs = 20;
    EXPECT_TRUE(JudgeTest(t, m).bPassed) << "a figure at its threshold passes";
    t.dMaxLossPercent = 1; // asked, but no datagram figure: a miss, never a pass
    EXPECT_EQ(JudgeTest(t, m).vecFailed, std::vector<std::string>{"loss"});
}

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// Sessions of one peer that overlap make one test, ended by the last of them, or kGrace
// after its last test session while the peer holds another connection; page loads and
// other peers' sessions are apart.
TEST(TestEnds, OverlappingSessionsOfOnePeerEndAsOneTest) {
    CTestEnds ends;
    const auto t0 = CTestEnds::Clock::now();
    for (const char* pszPeer : {"10.0.0.2:1", "10.0.0.2:2", "10.0.0.2:3", "[fd00::2]:7",
                                "10.0.0.3:1", "10.0.0.3:2", "10.0.0.3:3"})
        ends.Started(pszPeer);
    // A session's peer, mode, bytes and seconds, when it ends and the line that gives, if any.
    const std::tuple<const char*, const char*, uint64_t, double, std::chrono::milliseconds,
                     const char*>
        steps[] = {{"10.0.0.2:1", "download", 100 << 20, 2.0, 2000ms, ""},
                   {"10.0.0.3:1", "http", 0, 0.1, 2100ms, ""},
                   {"10.0.0.2:3", "http", 0, 0.1, 3000ms, ""},
                   {"[fd00::2]:7", "websocket", 6 << 20, 3.0, 3000ms,
                    "Test ended: [fd00::2], websocket download, 3.00 s, 2.00 MB/s"},
                   {"10.0.0.2:2", "download", 200 << 20, 4.0, 4000ms,
                    "Test ended: 10.0.0.2, raw download, 4.00 s, 75.00 MB/s"},
                   {"10.0.0.3:2", "upload", 10 << 20, 1.0, 10000ms, ""}};
    for (const auto& [pszPeer, pszMode, nBytes, dSeconds, tEnd, pszLine] : steps) {
        CSessionRecord session;
        session.strPeer = pszPeer;
        session.pszMode = pszMode;
        session.nBytes = nBytes;
        session.dSeconds = dSeconds;
        EXPECT_EQ(ends.Ended(session, t0 + tEnd), *pszLine ? Lines{pszLine} : Lines()) << pszPeer;
    }
    EXPECT_EQ(ends.Flush(t0 + 11s), Lines());
    EXPECT_EQ(ends.Flush(t0 + 12s), Lines{"Test ended: 10.0.0.3, raw upload, 1.00 s, 10.00 MB/s"});
    EXPECT_EQ(ends.Flush(t0 + 13s), Lines());
}
