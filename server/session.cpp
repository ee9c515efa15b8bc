#include "server/session.h"

#include "engine/raw_stream.h"
#include "engine/udp_wire.h"
#include "server/http_session.h"
#include "server/http_transfer.h"
#include "server/udp_session.h"
#include "server/websocket.h"
#include "support/ascii.h"

#include <string>

namespace {

// The first token: three bytes, however they are split, or fewer when the peer closes.
asio::awaitable<std::string> RecvToken(CByteStream& stream) {
    char szBuf[3];
    size_t nHave = 0;
    while (nHave < sizeof(szBuf)) {
        const int n = co_await stream.Recv(szBuf + nHave, sizeof(szBuf) - nHave);
        if (n < 1)
            break;
        nHave += static_cast<size_t>(n);
    }
    co_return std::string(szBuf, nHave);
}

// Frames until the browser says something: a look for input before each frame.
asio::awaitable<uint64_t> StreamWebSocketFrames(CKestrunEngine& engine, CByteStream& stream) {
    uint64_t nTotal = 0;
    for (;;) {
        if (stream.PollReadableNow() != 0) {
            co_await EndWebSocketStream(stream);
            co_return nTotal;
        }
        if (!co_await SendWebSocketFrame(g_nFramePayloadLen, stream))
            co_return nTotal;
        engine.AddSendBytes(static_cast<uint64_t>(g_nFramePayloadLen));
        stream.CountSent(static_cast<uint64_t>(g_nFramePayloadLen));
        nTotal += static_cast<uint64_t>(g_nFramePayloadLen);
    }
}

} // namespace

asio::awaitable<CSessionOutcome> ServeConnection(CKestrunEngine& engine, CByteStream& stream,
                                                 const CPageTexts& texts,
                                                 const CUdpServerLink* pUdp,
                                                 CSessionContext* pContext) {
    CSessionOutcome outcome;
    stream.StartHeadClock();
    const std::string strToken = co_await RecvToken(stream);
    if (strToken.empty())
        co_return outcome;
    if (EqualsNoCaseAscii(strToken, "EST")) {
        unsigned char chMode = 0;
        if (co_await stream.Recv(&chMode, 1) < 1 || chMode > kUdpMode)
            co_return outcome;
        if (chMode == kUdpMode) {
            outcome.pszMode = "udp";
            outcome.bUdp = true;
            outcome.nBytes = co_await ServeUdpTest(stream, pUdp, outcome.udp, pContext);
            co_return outcome;
        }
        stream.StopHeadClock();
        outcome.pszMode = chMode == 1 ? "download" : "upload";
        if (pContext != nullptr)
            pContext->Join(kKindRaw, outcome.pszMode, stream.Tally());
        outcome.nBytes = chMode == 1 ? co_await SendPatternStream(engine, stream)
                                     : co_await ReceiveCountedStream(engine, stream);
    } else if (EqualsNoCaseAscii(strToken, "GET")) {
        outcome.pszMode = "http";
        const EHttpEnd end =
            co_await ServeHttpConnection(engine, stream, strToken, texts, pContext);
        if (end == EHttpEnd::kWebSocket) {
            outcome.pszMode = "websocket";
            if (pContext != nullptr)
                pContext->Join(kKindWebSocket, "download", stream.Tally());
            outcome.nBytes = co_await StreamWebSocketFrames(engine, stream);
        }
        outcome.bLinger = end == EHttpEnd::kAnswered;
    } else if (EqualsNoCaseAscii(strToken, "POS")) {
        // A browser's upload starts "POST "; anything else is drained, and the two bytes
        // read to tell them apart count as drained ones.
        std::string strRest;
        if (co_await RecvPostRest(stream, strRest)) {
            outcome.pszMode = "http";
            outcome.bLinger = co_await ServeHttpConnection(engine, stream, strToken + strRest,
                                                           texts, pContext) == EHttpEnd::kAnswered;
        } else {
            stream.StopHeadClock();
            engine.AddRecvBytes(strRest.size());
            stream.CountRecv(strRest.size());
            outcome.pszMode = "drained";
            outcome.nBytes = strRest.size() + co_await ReceiveCountedStream(engine, stream);
        }
    } else {
        // Anything else is drained like an upload, the token not counted.
        stream.StopHeadClock();
        outcome.pszMode = "drained";
        outcome.nBytes = co_await ReceiveCountedStream(engine, stream);
    }
    co_return outcome;
}
