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

std::vector<int> HeaderBytes(uint32_t nLen) {
    MzByte header;
    EXPECT_TRUE(BuildWebSocketFrameHeader(nLen, header));
    return std::vector<int>(header.m_pData, header.m_pData + header.m_nSize);
}

} // namespace

TEST(WebSocketUpgrade, AcceptsTheBrowserRequestInAnyCase) {
    EXPECT_TRUE(IsWebSocketUpgrade(UpgradeRequest("websocket", "Upgrade", "abc=")));
    EXPECT_TRUE(IsWebSocketUpgrade(UpgradeRequest("WebSocket", "keep-alive, Upgrade", "abc=")));
    EXPECT_TRUE(IsWebSocketUpgrade(UpgradeRequest("WEBSOCKET", "anything", "abc=")));
}

TEST(WebSocketUpgrade, RejectsMissingOrEmptyFields) {
    EXPECT_FALSE(IsWebSocketUpgrade(UpgradeRequest("websocket", "", "abc=")));
    EXPECT_FALSE(IsWebSocketUpgrade(UpgradeRequest("websocket", "Upgrade", "")));
    EXPECT_FALSE(IsWebSocketUpgrade(UpgradeRequest("h2c", "Upgrade", "abc=")));
    EXPECT_FALSE(IsWebSocketUpgrade(UpgradeRequest("websockets", "Upgrade", "abc=")));
    EXPECT_FALSE(IsWebSocketUpgrade("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    // Field names are matched with their exact case.
    EXPECT_FALSE(IsWebSocketUpgrade("GET / HTTP/1.1\r\nupgrade: websocket\r\nConnection: Upgrade"
                                    "\r\nSec-WebSocket-Key: abc=\r\n\r\n"));
}

TEST(WebSocketHandshake, Rfc6455ExampleKey) {
    EXPECT_EQ(MakeWebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketHandshake, ExactAnswerBytes) {
    const std::string strAnswer =
        BuildWebSocketHandshake(UpgradeRequest("websocket", "Upgrade", "dGhlIHNhbXBsZSBub25jZQ=="));
    const std::string strPrefix = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                  "Connection: Upgrade\r\nSec-WebSocket-Accept: ";
    ASSERT_EQ(strPrefix.size(), 97u);
    EXPECT_EQ(strAnswer.size(), 129u);
    EXPECT_EQ(strAnswer, strPrefix + "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
}

TEST(WebSocketHandshake, KeyWithoutSpaceLosesItsFirstCharacter) {
    const std::string strRequest = "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade"
                                   "\r\nSec-WebSocket-Key:xdGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    EXPECT_NE(BuildWebSocketHandshake(strRequest).find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="),
              std::string::npos);
}

TEST(WebSocketHandshake, NothingForAPlainRequest) {
    EXPECT_EQ(BuildWebSocketHandshake("GET / HTTP/1.1\r\n\r\n"), "");
}

TEST(WebSocketFrame, HeaderForms) {
    EXPECT_EQ(HeaderBytes(0), (std::vector<int>{0x81, 0x00}));
    EXPECT_EQ(HeaderBytes(125), (std::vector<int>{0x81, 0x7D}));
    EXPECT_EQ(HeaderBytes(126), (std::vector<int>{0x81, 0x7E, 0x00, 0x7E}));
    EXPECT_EQ(HeaderBytes(65127), (std::vector<int>{0x81, 0x7E, 0xFE, 0x67}));
    EXPECT_EQ(HeaderBytes(65535), (std::vector<int>{0x81, 0x7E, 0xFF, 0xFF}));
    EXPECT_EQ(HeaderBytes(65536),
              (std::vector<int>{0x81, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(HeaderBytes(0x12345678),
              (std::vector<int>{0x81, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78}));
}

TEST(WebSocketFrame, PayloadIsDigitsAndLowerCaseLetters) {
    ASSERT_EQ(g_nFramePayloadLen, 65127);
    const std::string strPayload(g_szFramePayload);
    ASSERT_EQ(strPayload.size(), 65127u);
    EXPECT_EQ(strPayload.substr(0, 36), "0123456789abcdefghijklmnopqrstuvwxyz");
    for (char ch : strPayload)
        ASSERT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z')) << int(ch);
}

TEST(WebSocketFrame, RefusesLengthsBeyondThePayload) {
    // Nothing may be read past the payload text, and nothing is sent.
    CMemoryStream stream;
    EXPECT_FALSE(SendWebSocketFrame(g_nFramePayloadLen + 1, stream));
    EXPECT_FALSE(SendWebSocketFrame(-1, stream));
    EXPECT_EQ(stream.m_strOutput, "");
}
