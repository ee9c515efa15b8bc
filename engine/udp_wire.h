// The UDP test's wire formats, shared by the server and the client. Every number is in
// network byte order (big-endian).
//
// Control connection (TCP, the server's port): the client sends "EST", the mode byte 2
// and a request of kUdpRequestSize bytes:
//   u16 version (1), u8 direction (0 the client sends, 1 the server sends), u8 zero,
//   u32 datagram size (kUdpMinDatagram to kUdpMaxDatagram), u64 rate in bit/s
//   (kUdpMinRate to kUdpMaxRate), u64 zero.
// The server answers kUdpAnswerSize bytes: u8 status (0 accepted, 1 unknown version,
// 2 parameters out of range, 3 no UDP socket on the server; the server closes after a
// refusal), 7 zero bytes, u64 test
// id, random, which every datagram of the test carries.
// Then both sides send records of kUdpRecordSize bytes: u8 kind, 7 zero bytes, u64 sent,
// received, lost, out-of-order and duplicate datagrams, u64 jitter in nanoseconds. The
// server sends a report ('R') every 100 ms with its side's cumulative figures (the
// receiver's for an upload, its sent count for a download); the client sends one with
// its own side's figures likewise. To stop, the client sends 'S' with its final figures;
// the server stops sending datagrams, answers 'F' with its final figures and reads until
// the client closes.
//
// Datagrams (UDP, to the server's port): u64 test id, u32 sequence number (from 0, one
// more each datagram, wrapping), u32 send time (the low 32 bits of the sender's clock in
// microseconds), then the send pattern up to the datagram size. For a download the
// client first sends datagrams of the header alone ("hello", every 100 ms until data
// arrives) from the socket it receives on, so the server learns the address to send to,
// as a NAT shows it. The server drops, without an answer, every datagram whose id has no
// live control connection or whose source host is not that connection's peer.
#pragma once

#include "engine/udp_stats.h"

#include <cstddef>
#include <cstdint>

inline constexpr unsigned char kUdpMode = 2;
inline constexpr uint16_t kUdpVersion = 1;
inline constexpr size_t kUdpRequestSize = 24;
inline constexpr size_t kUdpAnswerSize = 16;
inline constexpr size_t kUdpRecordSize = 56;
inline constexpr size_t kUdpHeaderSize = 16;
inline constexpr uint32_t kUdpMinDatagram = kUdpHeaderSize;
inline constexpr uint32_t kUdpMaxDatagram = 65507;
inline constexpr uint32_t kUdpDefaultDatagram = 1200;
inline constexpr uint64_t kUdpMinRate = 1000;
inline constexpr uint64_t kUdpMaxRate = 1000ull * 1000 * 1000 * 1000;
inline constexpr uint64_t kUdpDefaultRate = 10 * 1000 * 1000;

enum class EUdpStatus : unsigned char {
    kAccepted = 0,
    kBadVersion = 1,
    kBadParameters = 2,
    kUnavailable = 3 // the server has no UDP socket
};
enum class EUdpRecord : unsigned char { kReport = 'R', kStop = 'S', kFinal = 'F' };

struct CUdpRequest {
    uint16_t nVersion = kUdpVersion;
    bool bServerSends = true;
    uint32_t nDatagramSize = kUdpDefaultDatagram;
    uint64_t nRateBps = kUdpDefaultRate;
};

void EncodeUdpRequest(const CUdpRequest& request, unsigned char* pOut);
void DecodeUdpRequest(const unsigned char* pIn, CUdpRequest& request);
// The status a server gives the request.
EUdpStatus CheckUdpRequest(const CUdpRequest& request);

void EncodeUdpAnswer(EUdpStatus status, uint64_t nTestId, unsigned char* pOut);
void DecodeUdpAnswer(const unsigned char* pIn, EUdpStatus& status, uint64_t& nTestId);

void EncodeUdpRecord(EUdpRecord kind, const CUdpFigures& figures, unsigned char* pOut);
// False for an unknown kind.
bool DecodeUdpRecord(const unsigned char* pIn, EUdpRecord& kind, CUdpFigures& figures);

void EncodeUdpHeader(uint64_t nTestId, uint32_t nSequence, uint32_t nSendMicros,
                     unsigned char* pOut);
// False for fewer than kUdpHeaderSize bytes.
bool DecodeUdpHeader(const unsigned char* pIn, size_t nLen, uint64_t& nTestId, uint32_t& nSequence,
                     uint32_t& nSendMicros);

// Microseconds of the steady clock, the time datagrams carry.
uint64_t UdpNowMicros();
