// One server connection: the first token decides between the raw test stream, a
// browser request (HTTP, WebSocket or a measuring route) and a drained upload.
#include "server/test_server.h"

#include "server/http_session.h"
#include "server/http_transfer.h"
#include "server/websocket.h"
#include "engine/send_pattern.h"
#include "support/ascii.h"

#include <memory>

int RecvToken(std::string& strToken, CByteStream& stream) {
    char szBuf[3];
    int n = stream.Recv(szBuf, sizeof(szBuf));
    if (n >= 1)
        strToken.assign(szBuf, static_cast<size_t>(n));
    else
        strToken.clear();
    return n;
}

// The raw download: the shared read-only pattern, one protocol block per send. Returns the
// bytes counted.
static uint64_t SendBlocks(CKestrunEngine& engine, CByteStream& stream) {
    const char* pBlock = SendPattern();
    uint64_t nTotal = 0;
    for (;;) {
        const int n = stream.Send(pBlock, CKestrunEngine::kBlockSize);
        if (n < 1)
            return nTotal;
        engine.AddSendBytes(static_cast<uint64_t>(n));
        nTotal += static_cast<uint64_t>(n);
    }
}

// An upload or a drain: every byte counted, the data dropped. Returns the bytes counted.
static uint64_t ReceiveBlocks(CKestrunEngine& engine, CByteStream& stream) {
    // The first receive waits on the stack: a connection that never sends costs no buffer.
    char szFirst[CKestrunEngine::kBlockSize];
    int n = stream.Recv(szFirst, sizeof(szFirst));
    if (n < 1)
        return 0;
    engine.AddRecvBytes(static_cast<uint64_t>(n));
    uint64_t nTotal = static_cast<uint64_t>(n);
    std::unique_ptr<char[]> pBuffer(new char[CKestrunEngine::kRecvBufferSize]);
    for (;;) {
        n = stream.Recv(pBuffer.get(), CKestrunEngine::kRecvBufferSize);
        if (n < 1)
            return nTotal;
        engine.AddRecvBytes(static_cast<uint64_t>(n));
        nTotal += static_cast<uint64_t>(n);
    }
}

static uint64_t StreamWebSocketFrames(CKestrunEngine& engine, CByteStream& stream) {
    uint64_t nTotal = 0;
    for (;;) {
        if (stream.PollReadableNow() != 0) {
            EndWebSocketStream(stream);
            return nTotal;
        }
        if (!SendWebSocketFrame(g_nFramePayloadLen, stream))
            return nTotal;
        engine.AddSendBytes(static_cast<uint64_t>(g_nFramePayloadLen));
        nTotal += static_cast<uint64_t>(g_nFramePayloadLen);
    }
}

CSessionOutcome ServeConnection(CKestrunEngine& engine, CByteStream& stream,
                                const CPageTexts& texts,
                                const std::function<bool()>& fnHandOverDownload) {
    CSessionOutcome outcome;
    std::string strToken;
    if (RecvToken(strToken, stream) < 1)
        return outcome;
    if (EqualsNoCaseAscii(strToken, "EST")) {
        unsigned char chMode = 0;
        if (stream.Recv(&chMode, 1) < 1 || chMode > 1)
            return outcome;
        outcome.pszMode = chMode == 1 ? "download" : "upload";
        if (chMode == 1 && fnHandOverDownload && fnHandOverDownload())
            outcome.bHandedOver = true;
        else
            outcome.nBytes =
                chMode == 1 ? SendBlocks(engine, stream) : ReceiveBlocks(engine, stream);
    } else if (EqualsNoCaseAscii(strToken, "GET")) {
        outcome.pszMode = "http";
        if (ServeHttpConnection(engine, stream, strToken, texts)) {
            outcome.pszMode = "websocket";
            outcome.nBytes = StreamWebSocketFrames(engine, stream);
        }
    } else if (EqualsNoCaseAscii(strToken, "POS")) {
        // A browser's upload starts "POST "; anything else is drained, and the two bytes
        // read to tell them apart count as drained ones.
        std::string strRest;
        if (RecvPostRest(stream, strRest)) {
            outcome.pszMode = "http";
            ServeHttpConnection(engine, stream, strToken + strRest, texts);
        } else {
            engine.AddRecvBytes(strRest.size());
            outcome.pszMode = "drained";
            outcome.nBytes = strRest.size() + ReceiveBlocks(engine, stream);
        }
    } else {
        // Anything else is drained like an upload, the token not counted.
        outcome.pszMode = "drained";
        outcome.nBytes = ReceiveBlocks(engine, stream);
    }
    return outcome;
}
