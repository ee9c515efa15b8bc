#include "meter/meter.h"
#include "testkit/recording_events.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

TEST(MeterArithmetic, TwoDecimalsOfMebibytes) {
    // Above 4 GiB in one second a 32-bit counter would have wrapped to 1 MiB.
    const std::pair<uint64_t, const char*> rows[] = {
        {1048576, "1.00MB/s"}, {5242, "0.00MB/s"},      {5243, "0.01MB/s"},
        {0, "0.00MB/s"},       {10485760, "10.00MB/s"}, {4294967296ull + 1048576, "4097.00MB/s"}};
    for (const auto& row : rows)
        EXPECT_EQ(FormatRate(row.first), row.second) << row.first;
}

// Producers add while this thread keeps taking: the takes must sum to the adds, beyond 32
// bits (a take that did not reset would count bytes twice).
TEST(MeterCounters, NoByteIsLostWhileProducersRunAndATakeResets) {
    CKestrunEngine engine;
    engine.AddRecvBytes(4294967296ull);
    const int kThreads = 4, kAdds = 100000;
    std::atomic<int> nRunning{kThreads};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < kAdds; ++i) {
                engine.AddRecvBytes(8192);
                engine.AddSendBytes(3);
            }
            --nRunning;
        });
    }
    uint64_t nTakenRecv = 0, nTakenSend = 0;
    for (bool bLast = false; !bLast;) {
        bLast = nRunning.load() == 0; // one more take after the producers are done
        uint64_t r = 0, s = 0;
        engine.TakeCounters(r, s);
        nTakenRecv += r;
        nTakenSend += s;
    }
    for (auto& p : producers)
        p.join();
    EXPECT_EQ(nTakenRecv, 4294967296ull + uint64_t{8192} * kThreads * kAdds);
    EXPECT_EQ(nTakenSend, uint64_t{3} * kThreads * kAdds);
}

TEST(MeterThread, ReportsEachSecondAndStops) {
    CRecordingEvents events;
    CKestrunEngine engine(&events);
    engine.AddRecvBytes(1048576);
    CMeter meter(engine);
    meter.StartMeter();
    ASSERT_TRUE(events.WaitFor([&] { return events.m_samples.size() >= 2; }));
    meter.StopMeter();
    auto samples = events.Get(events.m_samples);
    EXPECT_EQ(samples[0].nRecv, 1048576u);
    EXPECT_EQ(samples[0].nSend + samples[1].nRecv, 0u);
    const auto texts = events.Get(events.m_lastTexts);
    EXPECT_EQ(texts.first + " " + texts.second, "0.00MB/s 0.00MB/s");
    EXPECT_FALSE(events.WaitFor([&] { return events.m_samples.size() > samples.size(); },
                                std::chrono::milliseconds(1500)));
}
