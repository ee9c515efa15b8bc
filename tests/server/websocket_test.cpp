// The upgrade and its parts: SHA-1 (FIPS 180 vectors and edge lengths), Base64 (RFC 4648
// vectors), the growable byte block, the upgrade test, handshake bytes and frame headers.
#include "server/base64.h"
#include "server/mzbyte.h"
#include "server/sha1.h"
#include "server/websocket.h"
#include "testkit/memory_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The digest in hex, from one call (nPiece 0) or from updates of nPiece bytes.
std::string Sha1Hex(const std::string& strText, size_t nPiece) {
    unsigned char digest[kSha1DigestSize];
    if (nPiece == 0) {
        Sha1Digest(strText.c_str(), digest);
    } else {
        SHA1_CONTEXT ctx;
        Sha1Init(ctx);
        for (size_t i = 0; i < strText.size(); i += nPiece)
            Sha1Update(ctx, strText.data() + i, std::min(nPiece, strText.size() - i));
        Sha1Final(ctx, digest);
    }
    std::string strOut;
    for (unsigned char b : digest)
        strOut += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return strOut;
}

std::string UpgradeRequest(const std::string& strUpgrade, const std::string& strConnection,
                           const std::string& strKey) {
    return "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: " + strUpgrade +
           "\r\nConnection: " + strConnection + "\r\nSec-WebSocket-Key: " + strKey +
           "\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

} // namespace

TEST(Sha1, KnownDigestsInOneCallAndInPieces) {
    const struct {
        std::string strText;
        const char* pszDigest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // Around the padding boundary: from 56 bytes on the padding no longer fits in the
        // first block; 64 bytes make it take a whole block.
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(57, 'a'), "f08f24908d682555111be7ff6f004e78283d989a"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    };
    for (const auto& c : cases) {
        for (size_t nPiece : {0u, 1u, 3u, 7u, 63u, 64u, 65u, 200u})
            EXPECT_EQ(Sha1Hex(c.strText, nPiece), c.pszDigest)
                << c.strText.size() << " bytes in pieces of " << nPiece;
    }
    Sha1Digest("abc", nullptr); // computes and discards; must not write anywhere
}

TEST(Base64, KnownEncodingsAndTheDigestForm) {
    auto Encode = [](const char* p, size_t n) {
        return Base64Encode(reinterpret_cast<const unsigned char*>(p), n);
    };
    // The vectors are the prefixes of "foobar".
    const char* encodings[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (size_t n = 0; n < 7; ++n)
        EXPECT_EQ(Encode("foobar", n), encodings[n]) << n;
    EXPECT_EQ(Encode("\xFB\xFF\xBF", 3), "+/+/");
    unsigned char bytes[20];
    Sha1Digest("abc", bytes);
    EXPECT_EQ(Base64Encode20(bytes), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
    // Any 20 bytes: 28 characters with one pad at the end, as the general form has them.
    for (int nSeed = 0; nSeed < 64; ++nSeed) {
        for (int i = 0; i < 20; ++i)
            bytes[i] = static_cast<unsigned char>(nSeed * 37 + i * 101);
        const std::string strText = Base64Encode20(bytes);
        EXPECT_EQ(strText.size(), 28u) << nSeed;
        EXPECT_EQ(strText.find('='), 27u) << strText;
        EXPECT_EQ(strText, Base64Encode(bytes, 20));
    }
}

TEST(MzByte, GrowsKeepingItsBytesAndEndsInTwoZeros) {
    MzByte buf;
    EXPECT_TRUE(buf.m_nSize == 0 && buf.m_pData == nullptr);
    unsigned char* p = buf.SetSize(3, false);
    ASSERT_NE(p, nullptr);
    p[0] = p[1] = p[2] = 0xAA;
    p = buf.SetSize(3, true); // zero-filled on request, even at the same size
    EXPECT_EQ(std::vector<int>(p, p + 3), std::vector<int>(3, 0));
    p[0] = 0x81;
    p[1] = 0x7E;
    p = buf.SetSize(4, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(buf.m_nSize, 4);
    EXPECT_EQ(std::vector<int>({p[0], p[1], p[4], p[5]}), (std::vector<int>{0x81, 0x7E, 0, 0}));
    EXPECT_EQ(buf.SetSize(0, false), nullptr); // size zero frees the block
    EXPECT_TRUE(buf.m_nSize == 0 && buf.m_pData == nullptr);
}

TEST(WebSocketUpgrade, NeedsAllThreeFieldsAndTheWordInAnyCase) {
    const struct {
        std::string strRequest;
        bool bUpgrade;
    } cases[] = {
        {UpgradeRequest("websocket", "Upgrade", "abc="), true},
        {UpgradeRequest("WebSocket", "keep-alive, Upgrade", "abc="), true},
        {UpgradeRequest("WEBSOCKET", "anything", "abc="), true},
        {UpgradeRequest("websocket", "", "abc="), false},
        {UpgradeRequest("websocket", "Upgrade", ""), false},
        {UpgradeRequest("h2c", "Upgrade", "abc="), false},
        {UpgradeRequest("websockets", "Upgrade", "abc="), false},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", false},
        // Field names start a line and ignore case.
        {"GET / HTTP/1.1\r\nupgrade: websocket\r\nCONNECTION: Upgrade\r\nsec-websocket-key: "
         "abc=\r\n\r\n",
         true},
        {"GET / HTTP/1.1\r\nX-Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
         "abc=\r\n\r\n",
         false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsWebSocketUpgrade(c.strRequest), c.bUpgrade) << c.strRequest;
}

TEST(WebSocketHandshake, ExactAnswerBytes) {
    const std::string strAnswer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                  "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                                  "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    EXPECT_EQ(
        BuildWebSocketHandshake(UpgradeRequest("websocket", "Upgrade", "dGhlIHNhbXBsZSBub25jZQ==")),
        strAnswer);
    // Names in any case; without a space after the colon the key loses its first character.
    EXPECT_EQ(BuildWebSocketHandshake("GET / HTTP/1.1\r\nupgrade: websocket\r\nconnection: "
                                      "Upgrade\r\nsec-websocket-key:xdGhlIHNhbXBsZSBub25jZQ=="
                                      "\r\n\r\n"),
              strAnswer);
    EXPECT_EQ(BuildWebSocketHandshake("GET / HTTP/1.1\r\n\r\n"), "");
}

TEST(WebSocketFrame, HeaderFormsPayloadAndLimits) {
    const struct {
        uint32_t nLen;
        std::vector<int> bytes;
    } cases[] = {
        {0, {0x81, 0x00}},
        {125, {0x81, 0x7D}},
        {126, {0x81, 0x7E, 0x00, 0x7E}},
        {65127, {0x81, 0x7E, 0xFE, 0x67}},
        {65535, {0x81, 0x7E, 0xFF, 0xFF}},
        {65536, {0x81, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {0x12345678, {0x81, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78}},
    };
    for (const auto& c : cases) {
        MzByte header;
        ASSERT_TRUE(BuildWebSocketFrameHeader(c.nLen, header));
        EXPECT_EQ(std::vector<int>(header.m_pData, header.m_pData + header.m_nSize), c.bytes)
            << c.nLen;
    }
    // The payload: digits and lower-case letters in turn.
    const std::string strPayload(g_szFramePayload),
        strAlphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(strPayload.substr(0, 36), strAlphabet);
    EXPECT_EQ(strPayload.find_first_not_of(strAlphabet), std::string::npos);
    // Nothing may be read past the payload text, and nothing is sent.
    CMemoryStream stream;
    EXPECT_FALSE(RunSync(SendWebSocketFrame(g_nFramePayloadLen + 1, stream)));
    EXPECT_FALSE(RunSync(SendWebSocketFrame(-1, stream)));
    EXPECT_EQ(stream.m_strOutput, "");
}
