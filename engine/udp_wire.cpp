#include "engine/udp_wire.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace {

void Put(unsigned char* p, uint64_t nValue, int nBytes) {
    for (int i = nBytes - 1; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(nValue & 0xff);
        nValue >>= 8;
    }
}

uint64_t Get(const unsigned char* p, int nBytes) {
    uint64_t nValue = 0;
    for (int i = 0; i < nBytes; ++i)
        nValue = (nValue << 8) | p[i];
    return nValue;
}

} // namespace

void EncodeUdpRequest(const CUdpRequest& request, unsigned char* pOut) {
    std::memset(pOut, 0, kUdpRequestSize);
    Put(pOut, request.nVersion, 2);
    pOut[2] = request.bServerSends ? 1 : 0;
    Put(pOut + 4, request.nDatagramSize, 4);
    Put(pOut + 8, request.nRateBps, 8);
}

void DecodeUdpRequest(const unsigned char* pIn, CUdpRequest& request) {
    request.nVersion = static_cast<uint16_t>(Get(pIn, 2));
    request.bServerSends = pIn[2] == 1;
    request.nDatagramSize = static_cast<uint32_t>(Get(pIn + 4, 4));
    request.nRateBps = Get(pIn + 8, 8);
}

EUdpStatus CheckUdpRequest(const CUdpRequest& request) {
    if (request.nVersion != kUdpVersion)
        return EUdpStatus::kBadVersion;
    if (request.nDatagramSize < kUdpMinDatagram || request.nDatagramSize > kUdpMaxDatagram ||
        request.nRateBps < kUdpMinRate || request.nRateBps > kUdpMaxRate)
        return EUdpStatus::kBadParameters;
    return EUdpStatus::kAccepted;
}

void EncodeUdpAnswer(EUdpStatus status, uint64_t nTestId, unsigned char* pOut) {
    std::memset(pOut, 0, kUdpAnswerSize);
    pOut[0] = static_cast<unsigned char>(status);
    Put(pOut + 8, nTestId, 8);
}

void DecodeUdpAnswer(const unsigned char* pIn, EUdpStatus& status, uint64_t& nTestId) {
    status = static_cast<EUdpStatus>(pIn[0]);
    nTestId = Get(pIn + 8, 8);
}

void EncodeUdpRecord(EUdpRecord kind, const CUdpFigures& figures, unsigned char* pOut) {
    std::memset(pOut, 0, kUdpRecordSize);
    pOut[0] = static_cast<unsigned char>(kind);
    Put(pOut + 8, figures.nSentDatagrams, 8);
    Put(pOut + 16, figures.nReceivedDatagrams, 8);
    Put(pOut + 24, figures.nLostDatagrams, 8);
    Put(pOut + 32, figures.nOutOfOrder, 8);
    Put(pOut + 40, figures.nDuplicates, 8);
    Put(pOut + 48, static_cast<uint64_t>(std::llround(figures.dJitterMs * 1e6)), 8);
}

bool DecodeUdpRecord(const unsigned char* pIn, EUdpRecord& kind, CUdpFigures& figures) {
    kind = static_cast<EUdpRecord>(pIn[0]);
    if (kind != EUdpRecord::kReport && kind != EUdpRecord::kStop && kind != EUdpRecord::kFinal)
        return false;
    figures.nSentDatagrams = Get(pIn + 8, 8);
    figures.nReceivedDatagrams = Get(pIn + 16, 8);
    figures.nLostDatagrams = Get(pIn + 24, 8);
    figures.nOutOfOrder = Get(pIn + 32, 8);
    figures.nDuplicates = Get(pIn + 40, 8);
    figures.dJitterMs = static_cast<double>(Get(pIn + 48, 8)) / 1e6;
    return true;
}

void EncodeUdpHeader(uint64_t nTestId, uint32_t nSequence, uint32_t nSendMicros,
                     unsigned char* pOut) {
    Put(pOut, nTestId, 8);
    Put(pOut + 8, nSequence, 4);
    Put(pOut + 12, nSendMicros, 4);
}

bool DecodeUdpHeader(const unsigned char* pIn, size_t nLen, uint64_t& nTestId, uint32_t& nSequence,
                     uint32_t& nSendMicros) {
    if (nLen < kUdpHeaderSize)
        return false;
    nTestId = Get(pIn, 8);
    nSequence = static_cast<uint32_t>(Get(pIn + 8, 4));
    nSendMicros = static_cast<uint32_t>(Get(pIn + 12, 4));
    return true;
}

uint64_t UdpNowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
