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

TEST(Base64, KnownEncodings) {
    const char* cases[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"},
                              {"\xFB\xFF\xBF", "+/+/"}};
    for (const auto& c : cases)
        EXPECT_EQ(Encode(c[0]), c[1]) << c[0];
    unsigned char digest[kSha1DigestSize];
    Sha1Digest("abc", digest);
    EXPECT_EQ(Base64Encode20(digest), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
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
        EXPECT_EQ(strText, Base64Encode(bytes, 20));
    }
}
