// Upgrade test, handshake and frames of the WebSocket stream.
#include "server/websocket.h"

#include "server/base64.h"
#include "server/http.h"
#include "server/sha1.h"
#include "support/ascii.h"

namespace {

const int kPayloadLen = 65127;

// The payload lives in read-only storage, filled at compile time with the 36-character
// run "0-9a-z" repeated; the last run is cut short.
struct CFramePayload {
    char sz[kPayloadLen + 1];
    constexpr CFramePayload() : sz() {
        const char kRun[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        for (int i = 0; i < kPayloadLen; ++i)
            sz[i] = kRun[i % 36];
        sz[kPayloadLen] = 0;
    }
};

constexpr CFramePayload kFramePayload;

} // namespace

const char* const g_szFramePayload = kFramePayload.sz;
const int g_nFramePayloadLen = kPayloadLen;
const char* const kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

bool IsWebSocketUpgrade(const std::string& strRequest) {
    return EqualsNoCaseAscii(GetHeaderValue(strRequest, "Upgrade"), "websocket") &&
           !GetHeaderValue(strRequest, "Sec-WebSocket-Key").empty() &&
           !GetHeaderValue(strRequest, "Connection").empty();
}

std::string MakeWebSocketAccept(const std::string& strKey) {
    const std::string strKeyText = strKey + kWebSocketGuid;
    unsigned char digest[kSha1DigestSize];
    Sha1Digest(strKeyText.c_str(), digest);
    return Base64Encode20(digest);
}

std::string BuildWebSocketHandshake(const std::string& strRequest) {
    if (!IsWebSocketUpgrade(strRequest))
        return std::string();
    return "HTTP/1.1 101 Switching Protocols\r\n"
           "Upgrade: websocket\r\n"
           "Connection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           MakeWebSocketAccept(GetHeaderValue(strRequest, "Sec-WebSocket-Key")) + "\r\n\r\n";
}

asio::awaitable<bool> SendWebSocketHandshake(const std::string& strRequest, CByteStream& stream) {
    const std::string strAnswer = BuildWebSocketHandshake(strRequest);
    if (strAnswer.empty())
        co_return false;
    co_return co_await SendAll(stream, strAnswer.data(), strAnswer.size());
}

bool BuildWebSocketFrameHeader(uint32_t nPayloadLen, MzByte& header) {
    unsigned char* p = header.SetSize(2, false);
    if (p == nullptr)
        return false;
    p[0] = 0x81;
    if (nPayloadLen <= 125) {
        p[1] = static_cast<unsigned char>(nPayloadLen);
    } else if (nPayloadLen <= 65535) {
        p[1] = 126;
        p = header.SetSize(4, false);
        if (p == nullptr)
            return false;
        p[2] = static_cast<unsigned char>(nPayloadLen >> 8);
        p[3] = static_cast<unsigned char>(nPayloadLen);
    } else {
        p[1] = 127;
        p = header.SetSize(6, false);
        if (p == nullptr)
            return false;
        p[2] = p[3] = p[4] = p[5] = 0;
        p = header.SetSize(10, false);
        if (p == nullptr)
            return false;
        p[6] = static_cast<unsigned char>(nPayloadLen >> 24);
        p[7] = static_cast<unsigned char>(nPayloadLen >> 16);
        p[8] = static_cast<unsigned char>(nPayloadLen >> 8);
        p[9] = static_cast<unsigned char>(nPayloadLen);
    }
    return true;
}

asio::awaitable<bool> SendWebSocketFrame(int nPayloadLen, CByteStream& stream) {
    // Only the payload text exists to be sent; a longer frame would read past it.
    if (nPayloadLen < 0 || nPayloadLen > g_nFramePayloadLen)
        co_return false;
    MzByte header;
    if (!BuildWebSocketFrameHeader(static_cast<uint32_t>(nPayloadLen), header))
        co_return false;
    // Each part is continued until it is all on the wire: a short send must never leave
    // a torn frame behind.
    if (!co_await SendAll(stream, header.m_pData, static_cast<size_t>(header.m_nSize)))
        co_return false;
    if (nPayloadLen == 0)
        co_return true;
    co_return co_await SendAll(stream, g_szFramePayload, static_cast<size_t>(nPayloadLen));
}

asio::awaitable<int> RecvClientFrame(CByteStream& stream, std::string& strPayload) {
    strPayload.clear();
    unsigned char head[2];
    if (!co_await RecvAll(stream, head, 2))
        co_return -1;
    const int nOpcode = head[0] & 0x0F;
    const bool bMasked = (head[1] & 0x80) != 0;
    uint64_t nLen = head[1] & 0x7F;
    unsigned char ext[8];
    if (nLen == 126 || nLen == 127) {
        const size_t nExt = nLen == 126 ? 2 : 8;
        if (!co_await RecvAll(stream, ext, nExt))
            co_return -1;
        nLen = 0;
        for (size_t i = 0; i < nExt; ++i)
            nLen = (nLen << 8) | ext[i];
    }
    unsigned char mask[4] = {0, 0, 0, 0};
    if (bMasked && !co_await RecvAll(stream, mask, 4))
        co_return -1;
    if ((nOpcode & 0x08) == 0)
        co_return nOpcode; // a data frame: its payload is not needed
    if (nLen > 125)
        co_return -1; // no control frame is that long
    unsigned char payload[125];
    if (!co_await RecvAll(stream, payload, static_cast<size_t>(nLen)))
        co_return -1;
    for (size_t i = 0; i < nLen; ++i)
        strPayload += static_cast<char>(payload[i] ^ mask[i % 4]);
    co_return nOpcode;
}

std::string BuildWebSocketCloseReply(const std::string& strClosePayload) {
    std::string strFrame = "\x88";
    if (strClosePayload.size() < 2)
        return strFrame + '\0';
    return strFrame + '\x02' + strClosePayload.substr(0, 2);
}

asio::awaitable<void> EndWebSocketStream(CByteStream& stream) {
    std::string strPayload;
    if (co_await RecvClientFrame(stream, strPayload) == kWebSocketOpClose) {
        // The browser sends nothing after its close: with the frame read, closing now
        // leaves nothing unread, so the browser sees an orderly end after the reply.
        const std::string strReply = BuildWebSocketCloseReply(strPayload);
        co_await SendAll(stream, strReply.data(), strReply.size());
        co_return;
    }
    // Anything else ends the stream too; what has arrived is read first so that the
    // close is not turned into a reset.
    while (stream.PollReadableNow() == 1 &&
           co_await stream.Recv(ScratchBuffer(), kScratchSize) > 0) {
    }
}
