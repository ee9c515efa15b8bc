#include "engine/udp_sender.h"

#include "engine/send_pattern.h"
#include "engine/udp_wire.h"

#include <array>

CUdpSender::CUdpSender(uint64_t nTestId, uint64_t nRateBps, uint32_t nDatagramSize)
    : m_nTestId(nTestId), m_nDatagramSize(nDatagramSize),
      m_dIntervalUs(static_cast<double>(nDatagramSize) * 8e6 / static_cast<double>(nRateBps)) {}

asio::error_code CUdpSender::SendDue(asio::ip::udp::socket& socket,
                                     const asio::ip::udp::endpoint& to, CKestrunEngine& engine) {
    const auto dNow = static_cast<double>(UdpNowMicros());
    if (!m_bStarted) {
        m_bStarted = true;
        m_dNextUs = dNow;
    }
    if (dNow - m_dNextUs > kMaxBacklogUs)
        m_dNextUs = dNow - kMaxBacklogUs;
    const size_t nPayload = m_nDatagramSize - kUdpHeaderSize;
    unsigned char header[kUdpHeaderSize];
    asio::error_code ec;
    while (m_dNextUs <= dNow) {
        EncodeUdpHeader(m_nTestId, static_cast<uint32_t>(m_nSent),
                        static_cast<uint32_t>(UdpNowMicros()), header);
        if (m_nPatternOffset + nPayload > kSendPatternSize)
            m_nPatternOffset = 0;
        const std::array<asio::const_buffer, 2> buffers = {
            asio::buffer(header), asio::buffer(SendPattern() + m_nPatternOffset, nPayload)};
        socket.send_to(buffers, to, 0, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again ||
            ec == asio::error::no_buffer_space)
            return {}; // the socket is full: the rest at the next tick
        // An earlier datagram's port-unreachable report (Windows tells it on the next
        // call): this one went out all the same.
        if (ec && ec != asio::error::connection_refused && ec != asio::error::connection_reset)
            return ec;
        m_nPatternOffset += nPayload;
        ++m_nSent;
        m_dNextUs += m_dIntervalUs;
        engine.AddSendBytes(m_nDatagramSize);
    }
    return {};
}
