// The browser side of a connection: requests answered from the routing table, upgraded to
// the WebSocket stream, or served by the measuring routes while the connection stays open.
#include "server/http_session.h"

#include "server/assets.h"
#include "server/http.h"
#include "server/http_transfer.h"
#include "server/websocket.h"
#include "support/ascii.h"

namespace {

// A page request: its answer from the table, or none for a path that is not there.
void AnswerFromTable(CByteStream& stream, const std::string& strRequest, const CPageTexts& texts) {
    const HTTP_ROUTE* pRoute = FindHttpRoute(GetHeaderValue(strRequest, "path"));
    if (pRoute == nullptr)
        return; // not ours: no answer, the session closes the connection

    static const std::string kEmpty;
    std::string strStorage;
    const std::string* pBody = &kEmpty;
    switch (pRoute->body) {
    case EHttpBody::kPageHtml:
        pBody = &SelectBody(pRoute->pszFileName, texts.strPageHtml, strStorage);
        break;
    case EHttpBody::kButtonsCss:
        pBody = &SelectBody(pRoute->pszFileName, texts.strButtonsCss, strStorage);
        break;
    case EHttpBody::kEchartsJs:
        pBody = &SelectBody(pRoute->pszFileName, texts.strEchartsJs, strStorage);
        break;
    case EHttpBody::kFullHtml:
        pBody = &SelectBody(pRoute->pszFileName, texts.strFullHtml, strStorage);
        break;
    case EHttpBody::kFullJs:
        pBody = &SelectBody(pRoute->pszFileName, texts.strFullJs, strStorage);
        break;
    case EHttpBody::kEmpty:
        break;
    }
    SendHttpResponse(stream, pBody->c_str(), static_cast<int>(pBody->size()), pRoute->pszCharset,
                     pRoute->pszContentType);
}

} // namespace

bool ServeHttpConnection(CKestrunEngine& engine, CByteStream& stream, const std::string& strToken,
                         const CPageTexts& texts) {
    CHttpHeadReader reader;
    std::string strRequest;
    if (strToken.size() > 3) {
        // An upload's body follows its head: the head is read apart from it.
        if (!reader.ReadHead(stream, strToken, strRequest))
            return false;
    } else {
        std::string strRest;
        if (!RecvHttpRequest(strRest, stream))
            return false;
        strRequest = strToken + strRest;
    }
    for (;;) {
        // The upgrade test comes before routing: any path can become a WebSocket.
        if (!StartsWithNoCaseAscii(strRequest, "POST ") && IsWebSocketUpgrade(strRequest))
            return SendWebSocketHandshake(strRequest, stream);
        // A request read whole may hold the start of the next one, from a client that
        // does not wait for the answer.
        reader.KeepAfterHead(strRequest);
        switch (ServeTransferRequest(engine, stream, strRequest, reader)) {
        case ETransferOutcome::kNotMine:
            AnswerFromTable(stream, strRequest, texts);
            return false; // page answers say Connection: close
        case ETransferOutcome::kClose:
            return false;
        case ETransferOutcome::kKeepAlive:
            break;
        }
        if (!reader.ReadHead(stream, std::string(), strRequest))
            return false;
    }
}
