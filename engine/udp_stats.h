// What a UDP test's receiver counts: lost, out-of-order and duplicate datagrams and the
// interarrival jitter of RFC 3550, from each datagram's 32-bit sequence number, its
// sender's send time and its arrival time. Pure logic, no sockets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CUdpFigures {
    uint64_t nSentDatagrams = 0;
    uint64_t nReceivedDatagrams = 0; // distinct datagrams, duplicates not counted
    uint64_t nLostDatagrams = 0;     // holes in the sequence; a late arrival fills its hole
    uint64_t nOutOfOrder = 0;        // arrived after a later sequence number
    uint64_t nDuplicates = 0;
    double dJitterMs = 0;
    // Lost against expected (received + lost), in percent; 0 when nothing was expected.
    double LossPercent() const;
    // The counts since earlier (a cumulative snapshot taken before), jitter as it is now.
    CUdpFigures Since(const CUdpFigures& earlier) const;
};

class CUdpReceiverStats {
public:
    // Duplicates are recognised among this many of the latest sequence numbers; an older
    // one counts as out of order.
    static const uint32_t kWindow = 4096;

    CUdpReceiverStats() : m_vecSeen(kWindow / 64, 0) {}
    // One datagram: its sequence number, the sender's send time (microseconds, the low 32
    // bits of the sender's clock) and its arrival (microseconds of the receiver's clock).
    void Add(uint32_t nSequence, uint32_t nSendMicros, uint64_t nArrivalMicros);
    // Everything since the start (nSentDatagrams left 0: the sender knows it).
    CUdpFigures Totals() const;
    // The figures since the last call (or the start).
    CUdpFigures TakeInterval();

private:
    bool TestAndSet(int64_t nSequence);

    bool m_bAny = false;
    int64_t m_nFirst = 0;   // lowest extended sequence number seen
    int64_t m_nHighest = 0; // highest extended sequence number seen
    uint64_t m_nReceived = 0;
    uint64_t m_nOutOfOrder = 0;
    uint64_t m_nDuplicates = 0;
    // The window of seen sequence numbers, a bit each, indexed by sequence modulo kWindow.
    std::vector<uint64_t> m_vecSeen;
    // RFC 3550 jitter, in microseconds, and the previous datagram's times.
    double m_dJitterUs = 0;
    uint32_t m_nPrevSend = 0;
    uint64_t m_nPrevArrival = 0;
    CUdpFigures m_lastTaken;
};

// The figures as the JSON object both reports use: {"sent_datagrams": …, "received_datagrams",
// "lost_datagrams", "loss_percent", "out_of_order", "duplicates", "jitter_ms"}.
std::string FormatUdpJson(const CUdpFigures& figures);
