// Base64 against the RFC 4648 test vectors and the 20-byte digest form.
#include "server/base64.h"
#include "server/sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Encode(const std::string& strText) {
    return Base64Encode(reinterpret_cast<const unsigned char*>(strText.data()), strText.size());
}
} // namespace

TEST(Base64, Rfc4648Vectors) {
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foo"), "Zm9v");
    EXPECT_EQ(Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, UsesTheStandardAlphabetForHighBits) {
    const unsigned char bytes[] = {0xFB, 0xFF, 0xBF};
    EXPECT_EQ(Base64Encode(bytes, 3), "+/+/");
}

TEST(Base64, TwentyBytesGiveTwentyEightCharactersAndOnePad) {
    unsigned char bytes[20];
    for (int nSeed = 0; nSeed < 64; ++nSeed) {
        for (int i = 0; i < 20; ++i)
            bytes[i] = static_cast<unsigned char>(nSeed * 37 + i * 101);
        const std::string strText = Base64Encode20(bytes);
        ASSERT_EQ(strText.size(), 28u);
        EXPECT_EQ(strText[27], '=');
        EXPECT_NE(strText[26], '=');
        EXPECT_EQ(strText.find('\n'), std::string::npos);
        EXPECT_EQ(strText, Base64Encode(bytes, 20));
    }
}

TEST(Base64, DigestOfAbc) {
    unsigned char digest[kSha1DigestSize];
    Sha1Digest("abc", digest);
    EXPECT_EQ(Base64Encode20(digest), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
}
