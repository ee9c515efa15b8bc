// One server connection: the first token decides between the raw test stream, a
// browser request (HTTP or WebSocket) and a drained upload.
#include "server/engine.h"

#include "server/http_session.h"
#include "server/websocket.h"

#include <cctype>
#include <memory>

int RecvToken(std::string& strToken, SOCKET s) {
    char szBuf[3];
    int n = RecvOnce(s, szBuf, sizeof(szBuf));
    if (n >= 1)
        strToken.assign(szBuf, static_cast<size_t>(n));
    else
        strToken.clear();
    return n;
}

static bool TokenEquals(const std::string& strToken, const char* pszWord) {
    if (strToken.size() != 3)
        return false;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(strToken[i])) != pszWord[i])
            return false;
    }
    return true;
}

void CKestrunEngine::HandleConnection(SOCKET s) {
    const SOCKET sAccepted = s;
    std::unique_ptr<char[]> pBlock(new char[kBlockSize]);
    int nMode = 0;
    bool bWebSocket = false;
    bool bStream = false;

    std::string strToken;
    if (RecvToken(strToken, s) > 0) {
        if (TokenEquals(strToken, "EST")) {
            unsigned char chMode = 0;
            if (RecvOnce(s, &chMode, 1) > 0 && (chMode == 0 || chMode == 1)) {
                nMode = chMode;
                bStream = true;
            }
        } else if (TokenEquals(strToken, "GET")) {
            CPageTexts texts{m_strPageHtml, m_strButtonsCss, m_strEchartsJs};
            if (ServeHttpConnection(s, strToken, texts)) {
                bWebSocket = true;
                nMode = 1;
                bStream = true;
            }
        } else {
            bStream = true; // anything else is drained like an upload, token not counted
        }
    }

    while (bStream) {
        int nMoved;
        if (bWebSocket) {
            if (PollReadableNow(s) != 0)
                break;
            if (!SendWebSocketFrame(g_nFramePayloadLen, s))
                break;
            nMoved = g_nFramePayloadLen;
        } else if (nMode == 1) {
            nMoved = SendOnce(s, pBlock.get(), kBlockSize);
        } else {
            nMoved = RecvOnce(s, pBlock.get(), kBlockSize);
        }
        if (nMoved < 1)
            break;
        if (nMode == 1)
            AddSendBytes(static_cast<uint64_t>(nMoved));
        else
            AddRecvBytes(static_cast<uint64_t>(nMoved));
    }

    {
        std::lock_guard<std::mutex> lock(m_csServerSockets);
        m_mapServerSockets.erase(sAccepted);
    }
    pBlock.reset();
    CloseSocket(s);
}
