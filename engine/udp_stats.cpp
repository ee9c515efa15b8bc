#include "engine/udp_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double CUdpFigures::LossPercent() const {
    const uint64_t nExpected = nReceivedDatagrams + nLostDatagrams;
    return nExpected == 0
               ? 0.0
               : 100.0 * static_cast<double>(nLostDatagrams) / static_cast<double>(nExpected);
}

CUdpFigures CUdpFigures::Since(const CUdpFigures& earlier) const {
    // A late datagram can fill a hole counted in an earlier interval: never below zero.
    auto diff = [](uint64_t a, uint64_t b) { return a > b ? a - b : 0; };
    CUdpFigures delta;
    delta.nSentDatagrams = diff(nSentDatagrams, earlier.nSentDatagrams);
    delta.nReceivedDatagrams = diff(nReceivedDatagrams, earlier.nReceivedDatagrams);
    delta.nLostDatagrams = diff(nLostDatagrams, earlier.nLostDatagrams);
    delta.nOutOfOrder = diff(nOutOfOrder, earlier.nOutOfOrder);
    delta.nDuplicates = diff(nDuplicates, earlier.nDuplicates);
    delta.dJitterMs = dJitterMs;
    return delta;
}

bool CUdpReceiverStats::TestAndSet(int64_t nSequence) {
    const auto nBit = static_cast<uint64_t>(nSequence) % kWindow;
    uint64_t& nWord = m_vecSeen[nBit / 64];
    const uint64_t nMask = uint64_t{1} << (nBit % 64);
    const bool bSeen = (nWord & nMask) != 0;
    nWord |= nMask;
    return bSeen;
}

void CUdpReceiverStats::Add(uint32_t nSequence, uint32_t nSendMicros, uint64_t nArrivalMicros) {
    if (!m_bAny) {
        m_bAny = true;
        m_nFirst = m_nHighest = nSequence;
        TestAndSet(nSequence);
        ++m_nReceived;
        m_nPrevSend = nSendMicros;
        m_nPrevArrival = nArrivalMicros;
        return;
    }
    // The 32-bit number read as the nearest 64-bit one to the highest seen, so the
    // sequence runs on through a wrap.
    const auto nDelta =
        static_cast<int32_t>(nSequence - static_cast<uint32_t>(static_cast<uint64_t>(m_nHighest)));
    const int64_t nExtended = m_nHighest + nDelta;
    if (nExtended > m_nHighest) {
        // Clear the window's bits of the numbers skipped over and of this one, so they read
        // as unseen.
        const int64_t nClearFrom = std::max(m_nHighest + 1, nExtended - int64_t{kWindow} + 1);
        for (int64_t n = nClearFrom; n <= nExtended; ++n)
            m_vecSeen[static_cast<uint64_t>(n) % kWindow / 64] &=
                ~(uint64_t{1} << (static_cast<uint64_t>(n) % kWindow % 64));
        m_nHighest = nExtended;
        TestAndSet(nExtended);
    } else if (nExtended > m_nHighest - int64_t{kWindow}) {
        if (TestAndSet(nExtended)) {
            ++m_nDuplicates;
            return;
        }
        if (nExtended < m_nFirst)
            m_nFirst = nExtended;
        ++m_nOutOfOrder;
    } else {
        ++m_nOutOfOrder; // too old to tell a duplicate from a late one
        if (nExtended < m_nFirst)
            m_nFirst = nExtended;
    }
    ++m_nReceived;
    // D(i-1, i) = (R_i - R_{i-1}) - (S_i - S_{i-1}); J += (|D| - J) / 16.
    const double dArrival =
        static_cast<double>(static_cast<int64_t>(nArrivalMicros - m_nPrevArrival));
    const double dSend = static_cast<double>(static_cast<int32_t>(nSendMicros - m_nPrevSend));
    m_dJitterUs += (std::fabs(dArrival - dSend) - m_dJitterUs) / 16.0;
    m_nPrevSend = nSendMicros;
    m_nPrevArrival = nArrivalMicros;
}

CUdpFigures CUdpReceiverStats::Totals() const {
    CUdpFigures figures;
    if (!m_bAny)
        return figures;
    figures.nReceivedDatagrams = m_nReceived;
    const auto nExpected = static_cast<uint64_t>(m_nHighest - m_nFirst + 1);
    figures.nLostDatagrams = nExpected > m_nReceived ? nExpected - m_nReceived : 0;
    figures.nOutOfOrder = m_nOutOfOrder;
    figures.nDuplicates = m_nDuplicates;
    figures.dJitterMs = m_dJitterUs / 1000.0;
    return figures;
}

CUdpFigures CUdpReceiverStats::TakeInterval() {
    const CUdpFigures now = Totals();
    const CUdpFigures delta = now.Since(m_lastTaken);
    m_lastTaken = now;
    return delta;
}

std::string FormatUdpJson(const CUdpFigures& figures) {
    char szBuf[320];
    std::snprintf(szBuf, sizeof(szBuf),
                  "{\"sent_datagrams\": %llu, \"received_datagrams\": %llu, "
                  "\"lost_datagrams\": %llu, \"loss_percent\": %.3f, \"out_of_order\": %llu, "
                  "\"duplicates\": %llu, \"jitter_ms\": %.3f}",
                  static_cast<unsigned long long>(figures.nSentDatagrams),
                  static_cast<unsigned long long>(figures.nReceivedDatagrams),
                  static_cast<unsigned long long>(figures.nLostDatagrams), figures.LossPercent(),
                  static_cast<unsigned long long>(figures.nOutOfOrder),
                  static_cast<unsigned long long>(figures.nDuplicates), figures.dJitterMs);
    return szBuf;
}
