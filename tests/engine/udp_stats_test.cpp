// The UDP receiver's counts and jitter, and the wire formats' round trips.
#include "engine/udp_stats.h"
#include "engine/udp_wire.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

const uint32_t kTop = 0xffffffffu;

TEST(UdpReceiverStats, CountsLossReorderingDuplicatesAndWrap) {
    // The sequence numbers in arrival order; received, lost, out of order, duplicates.
    using U = uint64_t;
    const std::tuple<const char*, std::vector<uint32_t>, U, U, U, U> cases[] = {
        {"in order", {0, 1, 2, 3, 4}, 5, 0, 0, 0},
        {"one hole", {0, 1, 3, 4}, 4, 1, 0, 0},
        {"late datagram fills its hole", {0, 2, 1, 3}, 4, 0, 1, 0},
        {"duplicate", {0, 1, 1, 2}, 3, 0, 0, 1},
        {"late one, then again", {0, 2, 1, 1}, 3, 0, 1, 1},
        {"first one repeated at the end", {0, 1, 2, 0}, 3, 0, 0, 1},
        {"wrap", {kTop - 1, kTop, 0, 1}, 4, 0, 0, 0},
        {"wrap with a hole", {kTop - 1, 0, 1}, 3, 1, 0, 0},
        {"wrap, reordered", {kTop, 1, 0}, 3, 0, 1, 0},
        {"duplicate across the wrap", {kTop, 0, kTop}, 2, 0, 0, 1},
        {"earlier than the first", {5, 6, 3}, 3, 1, 1, 0},
        {"older than the window", {0, 10000, 1}, 3, 9998, 1, 0},
        {"a skipped number is not a duplicate later", {0, 4097, 4096}, 3, 4095, 1, 0},
    };
    for (const auto& [pszName, vecSequence, nReceived, nLost, nOutOfOrder, nDuplicates] : cases) {
        CUdpReceiverStats stats;
        uint64_t nArrival = 1000;
        for (uint32_t nSeq : vecSequence) {
            nArrival += 100;
            stats.Add(nSeq, static_cast<uint32_t>(nArrival), nArrival);
        }
        const CUdpFigures f = stats.Totals();
        EXPECT_EQ(std::tuple(f.nReceivedDatagrams, f.nLostDatagrams, f.nOutOfOrder, f.nDuplicates),
                  std::tuple(nReceived, nLost, nOutOfOrder, nDuplicates))
            << pszName;
    }
}

TEST(UdpReceiverStats, JitterFollowsRfc3550) {
    // J += (|D| - J) / 16 for each datagram after the first.
    const double j1 = 100.0 / 16, j2 = j1 + (100 - j1) / 16, j3 = j2 + (100 - j2) / 16;
    // Each datagram's transit beyond the first's, in microseconds, and the jitter in ms.
    const std::tuple<const char*, std::vector<int>, double> cases[] = {
        {"steady transit", {0, 0, 0, 0}, 0.0},
        {"alternating 100 us", {0, 100, 0, 100}, j3 / 1000},
        {"a step that stays", {0, 100, 100, 100}, (j1 - j1 / 16 - (j1 - j1 / 16) / 16) / 1000},
    };
    for (const auto& [pszName, vecExtraTransitUs, dJitterMs] : cases) {
        CUdpReceiverStats stats;
        uint32_t nSeq = 0;
        for (int nExtra : vecExtraTransitUs) {
            // The sender's clock near its 32-bit wrap: differences still hold.
            const uint32_t nSend = 0xfffffc00u + nSeq * 1000;
            stats.Add(nSeq, nSend, 5000000 + uint64_t{nSeq} * 1000 + static_cast<uint64_t>(nExtra));
            ++nSeq;
        }
        EXPECT_NEAR(stats.Totals().dJitterMs, dJitterMs, 1e-9) << pszName;
    }
}

// An interval's counts are those since the last one; the table above checks the first.
TEST(UdpReceiverStats, IntervalsAddUpToTheTotals) {
    CUdpReceiverStats stats;
    for (uint32_t n : {0u, 1u, 2u, 4u, 5u, 5u, 7u}) {
        stats.Add(n, 0, 0);
        if (n == 4)
            stats.TakeInterval();
    }
    const CUdpFigures second = stats.TakeInterval();
    EXPECT_EQ(second.nReceivedDatagrams, 2u);
    EXPECT_EQ(second.nLostDatagrams, 1u);
    EXPECT_EQ(second.nDuplicates, 1u);
    EXPECT_DOUBLE_EQ(stats.Totals().LossPercent(), 100.0 * 2 / 8);
    EXPECT_EQ(stats.TakeInterval().nReceivedDatagrams, 0u);
}

TEST(UdpWire, RoundTripsAndRequestChecks) {
    const CUdpFigures f{1ull << 40, 7, 3, 2, 1, 0.125};
    unsigned char record[kUdpRecordSize];
    EncodeUdpRecord(EUdpRecord::kFinal, f, record);
    EUdpRecord kind;
    CUdpFigures back;
    ASSERT_TRUE(DecodeUdpRecord(record, kind, back));
    EXPECT_EQ(kind, EUdpRecord::kFinal);
    EXPECT_EQ(FormatUdpJson(back), FormatUdpJson(f));
    record[0] = 'X';
    EXPECT_FALSE(DecodeUdpRecord(record, kind, back));

    unsigned char header[kUdpHeaderSize];
    EncodeUdpHeader(0x0102030405060708ull, kTop, 0x80000001u, header);
    uint64_t nId = 0;
    uint32_t nSeq = 0, nTime = 0;
    ASSERT_TRUE(DecodeUdpHeader(header, sizeof(header), nId, nSeq, nTime));
    EXPECT_EQ(nId, 0x0102030405060708ull);
    EXPECT_EQ(nSeq, kTop);
    EXPECT_EQ(nTime, 0x80000001u);
    EXPECT_FALSE(DecodeUdpHeader(header, sizeof(header) - 1, nId, nSeq, nTime));

    // Version, datagram size and rate, and the status the server gives them.
    const std::tuple<uint16_t, uint32_t, uint64_t, EUdpStatus> cases[] = {
        {1, 1200, 10000000, EUdpStatus::kAccepted},
        {1, 16, 1000, EUdpStatus::kAccepted},
        {1, 65507, kUdpMaxRate, EUdpStatus::kAccepted},
        {2, 1200, 10000000, EUdpStatus::kBadVersion},
        {1, 15, 10000000, EUdpStatus::kBadParameters},
        {1, 65508, 10000000, EUdpStatus::kBadParameters},
        {1, 1200, 999, EUdpStatus::kBadParameters},
        {1, 1200, kUdpMaxRate + 1, EUdpStatus::kBadParameters},
    };
    for (const auto& [nVersion, nSize, nRate, status] : cases) {
        CUdpRequest request{nVersion, false, nSize, nRate};
        unsigned char bytes[kUdpRequestSize];
        EncodeUdpRequest(request, bytes);
        CUdpRequest decoded;
        DecodeUdpRequest(bytes, decoded);
        EXPECT_EQ(CheckUdpRequest(decoded), status) << nVersion << " " << nSize << " " << nRate;
        EXPECT_FALSE(decoded.bServerSends);
    }
}
