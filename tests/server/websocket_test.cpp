// Upgrade test, handshake bytes and frame headers.
#include "server/websocket.h"
#include "testkit/memory_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string UpgradeRequest(const std::string& strUpgrade, const std::string& strConnection,
                           const std::string& strKey) {
    return "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: " + strUpgrade +
           "\r\nConnection: " + strConnection + "\r\nSec-WebSocket-Key: " + strKey +
           "\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

} // namespace

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
        // Field names are matched with their exact case.
        {"GET / HTTP/1.1\r\nupgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
         "abc=\r\n\r\n",
         false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsWebSocketUpgrade(c.strRequest), c.bUpgrade) << c.strRequest;
}

TEST(WebSocketHandshake, ExactAnswerBytes) {
    EXPECT_EQ(MakeWebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    const std::string strAnswer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                  "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                                  "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    ASSERT_EQ(strAnswer.size(), 129u);
    EXPECT_EQ(
        BuildWebSocketHandshake(UpgradeRequest("websocket", "Upgrade", "dGhlIHNhbXBsZSBub25jZQ==")),
        strAnswer);
    // Without a space after the colon the key loses its first character.
    EXPECT_EQ(BuildWebSocketHandshake("GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: "
                                      "Upgrade\r\nSec-WebSocket-Key:xdGhlIHNhbXBsZSBub25jZQ=="
                                      "\r\n\r\n"),
              strAnswer);
    EXPECT_EQ(BuildWebSocketHandshake("GET / HTTP/1.1\r\n\r\n"), "");
}

TEST(WebSocketFrame, HeaderForms) {
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
}

TEST(WebSocketFrame, PayloadIsDigitsAndLowerCaseLetters) {
    const std::string strPayload(g_szFramePayload);
    ASSERT_EQ(g_nFramePayloadLen, 65127);
    ASSERT_EQ(strPayload.size(), 65127u);
    EXPECT_EQ(strPayload.substr(0, 36), "0123456789abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(strPayload.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"),
              std::string::npos);
}

TEST(WebSocketFrame, RefusesLengthsBeyondThePayload) {
    // Nothing may be read past the payload text, and nothing is sent.
    CMemoryStream stream;
    EXPECT_FALSE(SendWebSocketFrame(g_nFramePayloadLen + 1, stream));
    EXPECT_FALSE(SendWebSocketFrame(-1, stream));
    EXPECT_EQ(stream.m_strOutput, "");
}
