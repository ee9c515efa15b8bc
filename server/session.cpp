// One server connection: the first token decides between the raw test stream, a
// browser request (HTTP or WebSocket) and a drained upload.
#include "server/test_server.h"

#include "server/http_session.h"
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

// Receives take whatever has arrived, up to this much per call. The 8192-byte block is
// the sender's; how much a receiver takes per call no peer can see, and fewer, larger
// receives move the same bytes for much less CPU (128 KiB measured best of 64 KiB..1 MiB).
const size_t kRecvBufferSize = 128 * 1024;

// The raw download: the shared read-only pattern, one protocol block per send.
static void SendBlocks(CKestrunEngine& engine, CByteStream& stream) {
    const char* pBlock = SendPattern();
    for (;;) {
        const int n = stream.Send(pBlock, CKestrunEngine::kBlockSize);
        if (n < 1)
            break;
        engine.AddSendBytes(static_cast<uint64_t>(n));
    }
}

// An upload or a drain: every byte counted, the data dropped.
static void ReceiveBlocks(CKestrunEngine& engine, CByteStream& stream) {
    // The first receive waits on the stack: a connection that never sends costs no buffer.
    char szFirst[CKestrunEngine::kBlockSize];
    int n = stream.Recv(szFirst, sizeof(szFirst));
    if (n < 1)
        return;
    engine.AddRecvBytes(static_cast<uint64_t>(n));
    std::unique_ptr<char[]> pBuffer(new char[kRecvBufferSize]);
    for (;;) {
        n = stream.Recv(pBuffer.get(), kRecvBufferSize);
        if (n < 1)
            break;
        engine.AddRecvBytes(static_cast<uint64_t>(n));
    }
}

static void StreamWebSocketFrames(CKestrunEngine& engine, CByteStream& stream) {
    for (;;) {
        if (stream.PollReadableNow() != 0) {
            EndWebSocketStream(stream);
            break;
        }
        if (!SendWebSocketFrame(g_nFramePayloadLen, stream))
            break;
        engine.AddSendBytes(static_cast<uint64_t>(g_nFramePayloadLen));
    }
}

void ServeConnection(CKestrunEngine& engine, CByteStream& stream, const CPageTexts& texts) {
    std::string strToken;
    if (RecvToken(strToken, stream) < 1)
        return;
    if (EqualsNoCaseAscii(strToken, "EST")) {
        unsigned char chMode = 0;
        if (stream.Recv(&chMode, 1) < 1 || chMode > 1)
            return;
        if (chMode == 1)
            SendBlocks(engine, stream);
        else
            ReceiveBlocks(engine, stream);
    } else if (EqualsNoCaseAscii(strToken, "GET")) {
        if (ServeHttpConnection(stream, strToken, texts))
            StreamWebSocketFrames(engine, stream);
    } else {
        ReceiveBlocks(engine, stream); // anything else is drained like an upload, token not counted
    }
}
