// The sending side of a UDP test, for the server and the client alike: datagrams paced
// at the requested rate, sent a tick's worth at a time from a timer of about a
// millisecond, each one a header and a slice of the shared send pattern.
#pragma once

#include "engine/engine.h"

#include <asio/ip/udp.hpp>

#include <chrono>
#include <cstdint>

class CUdpSender {
public:
    // How often the owner's timer should call SendDue.
    static constexpr std::chrono::microseconds kTick{500};

    CUdpSender(uint64_t nTestId, uint64_t nRateBps, uint32_t nDatagramSize);
    // Sends the datagrams due by now (the first call starts the clock), until the socket
    // would block; the rest wait for the next call, at most kMaxBacklogUs of them. Each
    // datagram's bytes are counted as sent. An error other than a full socket ends the
    // sending: it is returned.
    asio::error_code SendDue(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
                             CKestrunEngine& engine);
    uint64_t Sent() const { return m_nSent; }

private:
    // Datagrams due but not sent are forgotten beyond this much time's worth, so a sender
    // that fell behind never bursts.
    static constexpr double kMaxBacklogUs = 5000;

    const uint64_t m_nTestId;
    const uint32_t m_nDatagramSize;
    const double m_dIntervalUs; // between two datagrams
    bool m_bStarted = false;
    double m_dNextUs = 0; // when the next datagram is due
    uint64_t m_nSent = 0;
    size_t m_nPatternOffset = 0;
};
