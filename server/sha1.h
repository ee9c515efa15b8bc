// SHA-1 (FIPS 180-4), used only to compute the WebSocket accept value.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t kSha1DigestSize = 20;

// Hashing state; callers keep it on their own stack and wipe it when done.
struct SHA1_CONTEXT {
    uint32_t state[5];
    uint64_t nBitCount;
    unsigned char buffer[64];
};

void Sha1Init(SHA1_CONTEXT& ctx);
void Sha1Update(SHA1_CONTEXT& ctx, const void* pData, size_t nLen);
// Writes the 20-byte digest. The context must be initialised again before reuse.
void Sha1Final(SHA1_CONTEXT& ctx, unsigned char* pDigest);

// Hashes the bytes of pszText up to its NUL terminator into pDigest (20 bytes). A null
// pDigest computes the digest and discards it. The context is wiped before return.
void Sha1Digest(const char* pszText, unsigned char* pDigest);
