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

CSessionOutcome ServeConnection(CKestrunEngine& engine, CByteStream& stream,
                                const CPageTexts& texts) {
    CSessionOutcome outcome;
    const int kBlockSize = CKestrunEngine::kBlockSize;
    std::unique_ptr<char[]> pBlock(new char[kBlockSize]);
    int nMode = 0;
    bool bWebSocket = false;
    bool bStream = false;

    std::string strToken;
    if (RecvToken(strToken, stream) > 0) {
        if (EqualsNoCaseAscii(strToken, "EST")) {
            unsigned char chMode = 0;
            if (stream.Recv(&chMode, 1) > 0 && (chMode == 0 || chMode == 1)) {
                nMode = chMode;
                bStream = true;
                outcome.pszMode = chMode == 1 ? "download" : "upload";
            }
        } else if (EqualsNoCaseAscii(strToken, "GET")) {
            outcome.pszMode = "http";
            if (ServeHttpConnection(engine, stream, strToken, texts)) {
                bWebSocket = true;
                nMode = 1;
                bStream = true;
                outcome.pszMode = "websocket";
            }
        } else if (EqualsNoCaseAscii(strToken, "POS")) {
            // A browser's upload starts "POST "; anything else is drained, and the two
            // bytes read to tell them apart count as drained ones.
            std::string strRest;
            if (RecvPostRest(stream, strRest)) {
                outcome.pszMode = "http";
                ServeHttpConnection(engine, stream, strToken + strRest, texts);
            } else {
                engine.AddRecvBytes(strRest.size());
                outcome.nBytes += strRest.size();
                outcome.pszMode = "drained";
                bStream = true;
            }
        } else {
            bStream = true; // anything else is drained like an upload, token not counted
            outcome.pszMode = "drained";
        }
    }

    while (bStream) {
        int nMoved;
        if (bWebSocket) {
            if (stream.PollReadableNow() != 0) {
                EndWebSocketStream(stream);
                break;
            }
            if (!SendWebSocketFrame(g_nFramePayloadLen, stream))
                break;
            nMoved = g_nFramePayloadLen;
        } else if (nMode == 1) {
            nMoved = stream.Send(SendPattern(), kBlockSize);
        } else {
            nMoved = stream.Recv(pBlock.get(), kBlockSize);
        }
        if (nMoved < 1)
            break;
        if (nMode == 1)
            engine.AddSendBytes(static_cast<uint64_t>(nMoved));
        else
            engine.AddRecvBytes(static_cast<uint64_t>(nMoved));
        outcome.nBytes += static_cast<uint64_t>(nMoved);
    }
    return outcome;
}
