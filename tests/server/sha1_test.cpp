// SHA-1 against the FIPS 180 example vectors and a few edge lengths.
#include "server/sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const unsigned char* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string strOut;
    for (size_t i = 0; i < n; ++i)
        strOut += {kDigits[p[i] >> 4], kDigits[p[i] & 15]};
    return strOut;
}

std::string DigestOf(const std::string& strText) {
    unsigned char digest[kSha1DigestSize];
    Sha1Digest(strText.c_str(), digest);
    return Hex(digest, sizeof(digest));
}

std::string DigestInPieces(const std::string& strText, size_t nPiece) {
    SHA1_CONTEXT ctx;
    Sha1Init(ctx);
    for (size_t i = 0; i < strText.size(); i += nPiece)
        Sha1Update(ctx, strText.data() + i, std::min(nPiece, strText.size() - i));
    unsigned char digest[kSha1DigestSize];
    Sha1Final(ctx, digest);
    return Hex(digest, sizeof(digest));
}

} // namespace

TEST(Sha1, KnownDigests) {
    const struct {
        std::string strText;
        const char* pszDigest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        // 56 bytes: the padding no longer fits in the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
         "klmnopqrlmnopqrsmnopqrstnopqrstu",
         "a49b2446a02c645bf419f995b67091253a04a259"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // Around the padding boundary; 64 bytes make the padding take a whole block.
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(57, 'a'), "f08f24908d682555111be7ff6f004e78283d989a"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestOf(c.strText), c.pszDigest) << c.strText.size() << " bytes";
        EXPECT_EQ(DigestInPieces(c.strText, 7), c.pszDigest) << c.strText.size() << " bytes";
    }
    Sha1Digest("abc", nullptr); // computes and discards; must not write anywhere
}

TEST(Sha1, PiecewiseUpdatesMatchOneCall) {
    std::string strText;
    for (int i = 0; i < 1000; ++i)
        strText += static_cast<char>('A' + i % 26);
    const std::string strWhole = DigestOf(strText);
    for (size_t nPiece : {1u, 3u, 63u, 64u, 65u, 200u})
        EXPECT_EQ(DigestInPieces(strText, nPiece), strWhole) << "pieces of " << nPiece;
}
