// SHA-1 exactly as FIPS 180-4 publishes it: 64-byte blocks, 80 rounds, padding with the
// 64-bit big-endian message length in bits.
#include "server/sha1.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void Sha1Transform(uint32_t state[5], const unsigned char block[64]) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = (static_cast<uint32_t>(block[4 * t]) << 24) |
               (static_cast<uint32_t>(block[4 * t + 1]) << 16) |
               (static_cast<uint32_t>(block[4 * t + 2]) << 8) |
               static_cast<uint32_t>(block[4 * t + 3]);
    }
    for (int t = 16; t < 80; ++t)
        w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        uint32_t temp = Rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    // The message schedule holds words derived from the input.
    std::memset(w, 0, sizeof(w));
}

} // namespace

void Sha1Init(SHA1_CONTEXT& ctx) {
    ctx.state[0] = 0x67452301u;
    ctx.state[1] = 0xEFCDAB89u;
    ctx.state[2] = 0x98BADCFEu;
    ctx.state[3] = 0x10325476u;
    ctx.state[4] = 0xC3D2E1F0u;
    ctx.nBitCount = 0;
    std::memset(ctx.buffer, 0, sizeof(ctx.buffer));
}

void Sha1Update(SHA1_CONTEXT& ctx, const void* pData, size_t nLen) {
    const unsigned char* p = static_cast<const unsigned char*>(pData);
    size_t nUsed = static_cast<size_t>((ctx.nBitCount / 8) % 64);
    ctx.nBitCount += static_cast<uint64_t>(nLen) * 8;
    while (nLen > 0) {
        size_t nTake = 64 - nUsed;
        if (nTake > nLen)
            nTake = nLen;
        std::memcpy(ctx.buffer + nUsed, p, nTake);
        nUsed += nTake;
        p += nTake;
        nLen -= nTake;
        if (nUsed == 64) {
            Sha1Transform(ctx.state, ctx.buffer);
            nUsed = 0;
        }
    }
}

void Sha1Final(SHA1_CONTEXT& ctx, unsigned char* pDigest) {
    const uint64_t nBits = ctx.nBitCount;
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = static_cast<unsigned char>(nBits >> (56 - 8 * i));

    // 0x80, then zeros until 56 bytes of the last block are used, then the length.
    static const unsigned char kPad[64] = {0x80};
    size_t nUsed = static_cast<size_t>((nBits / 8) % 64);
    size_t nPad = nUsed < 56 ? 56 - nUsed : 120 - nUsed;
    Sha1Update(ctx, kPad, nPad);
    Sha1Update(ctx, lengthBytes, sizeof(lengthBytes));

    for (int i = 0; i < 5; ++i) {
        pDigest[4 * i] = static_cast<unsigned char>(ctx.state[i] >> 24);
        pDigest[4 * i + 1] = static_cast<unsigned char>(ctx.state[i] >> 16);
        pDigest[4 * i + 2] = static_cast<unsigned char>(ctx.state[i] >> 8);
        pDigest[4 * i + 3] = static_cast<unsigned char>(ctx.state[i]);
    }
}

void Sha1Digest(const char* pszText, unsigned char* pDigest) {
    SHA1_CONTEXT ctx;
    unsigned char digest[kSha1DigestSize];
    Sha1Init(ctx);
    Sha1Update(ctx, pszText, std::strlen(pszText));
    Sha1Final(ctx, digest);
    if (pDigest != nullptr)
        std::memcpy(pDigest, digest, sizeof(digest));
    // A volatile walk so that the compiler cannot drop the wipe of a dying object.
    volatile unsigned char* pWipe = reinterpret_cast<volatile unsigned char*>(&ctx);
    for (size_t i = 0; i < sizeof(ctx); ++i)
        pWipe[i] = 0;
    pWipe = digest;
    for (size_t i = 0; i < sizeof(digest); ++i)
        pWipe[i] = 0;
}
