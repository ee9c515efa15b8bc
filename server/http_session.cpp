// The browser side of a connection: requests answered from the routing table, upgraded to
// the WebSocket stream, or served by the measuring routes while the connection stays open.
#include "server/http_session.h"

#include "server/assets.h"
#include "server/http.h"
#include "server/http_transfer.h"
#include "server/results_routes.h"
#include "server/websocket.h"
#include "support/ascii.h"
#include "support/socket_stream.h"

namespace {

// The full page's addresses for other devices, told only to a browser on this machine:
// {"local": true, "full": ["http://10.1.2.3:10001/full", ...]}. Any other peer gets
// {"local": false, "full": []}. Loopback addresses are left out: no other device opens
// them.
std::string AddressesJson(const CPageTexts& texts, const CByteStream& stream) {
    const int nPort = stream.LocalPort();
    if (!stream.PeerIsThisHost() || nPort <= 0)
        return "{\"local\": false, \"full\": []}";
    std::string strJson = "{\"local\": true, \"full\": [";
    bool bFirst = true;
    for (const std::string& strHost : ShareableHosts(texts.strListenAddr)) {
        if (strHost.rfind("127.", 0) == 0 || strHost == "[::1]")
            continue;
        // Hosts are numeric literals: nothing in them needs escaping.
        strJson += (bFirst ? "\"http://" : ", \"http://") + strHost + ":" + std::to_string(nPort) +
                   "/full\"";
        bFirst = false;
    }
    return strJson + "]}";
}

// A page request: its answer from the table, or none for a path that is not there. True
// when an answer was sent whole.
asio::awaitable<bool> AnswerFromTable(CByteStream& stream, const std::string& strRequest,
                                      const CPageTexts& texts) {
    const HTTP_ROUTE* pRoute = FindHttpRoute(GetHeaderValue(strRequest, "path"));
    if (pRoute == nullptr)
        co_return false; // not ours: no answer, the session closes the connection

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
    case EHttpBody::kQrcodeJs:
        pBody = &SelectBody(pRoute->pszFileName, texts.strQrcodeJs, strStorage);
        break;
    case EHttpBody::kAddresses:
        strStorage = AddressesJson(texts, stream);
        pBody = &strStorage;
        break;
    case EHttpBody::kEmpty:
        break;
    }
    // An empty body (the icon) is an answer of its head alone, sent whole all the same.
    const bool bSent =
        co_await SendHttpResponse(stream, pBody->c_str(), static_cast<int>(pBody->size()),
                                  pRoute->pszCharset, pRoute->pszContentType);
    co_return bSent || pBody->empty();
}

} // namespace

asio::awaitable<EHttpEnd> ServeHttpConnection(CKestrunEngine& engine, CByteStream& stream,
                                              std::string strToken, const CPageTexts& texts,
                                              CSessionContext* pContext) {
    CHttpHeadReader reader;
    std::string strRequest;
    if (strToken.size() > 3) {
        // An upload's body follows its head: the head is read apart from it.
        if (!co_await reader.ReadHead(stream, strToken, strRequest))
            co_return EHttpEnd::kClose;
    } else {
        std::string strRest;
        if (!co_await RecvHttpRequest(strRest, stream))
            co_return EHttpEnd::kClose;
        strRequest = strToken + strRest;
    }
    stream.StopHeadClock();
    for (;;) {
        // A request read whole may hold the start of the next one, from a client that
        // does not wait for the answer: only this request's own head counts.
        reader.KeepAfterHead(strRequest);
        // The upgrade test comes before routing: any path can become a WebSocket.
        if (!StartsWithNoCaseAscii(strRequest, "POST ") && IsWebSocketUpgrade(strRequest))
            co_return co_await SendWebSocketHandshake(strRequest, stream) ? EHttpEnd::kWebSocket
                                                                          : EHttpEnd::kClose;
        if (pContext != nullptr) {
            switch (co_await ServeResultsRequest(engine, stream, strRequest, reader, *pContext,
                                                 texts)) {
            case EResultsOutcome::kNotMine:
                break;
            case EResultsOutcome::kAnswered:
                co_return EHttpEnd::kAnswered;
            case EResultsOutcome::kClose:
                co_return EHttpEnd::kClose;
            }
        }
        switch (co_await ServeTransferRequest(engine, stream, strRequest, reader, pContext)) {
        case ETransferOutcome::kNotMine:
            // Page answers say Connection: close.
            co_return co_await AnswerFromTable(stream, strRequest, texts) ? EHttpEnd::kAnswered
                                                                          : EHttpEnd::kClose;
        case ETransferOutcome::kClose:
            co_return EHttpEnd::kClose;
        case ETransferOutcome::kKeepAlive:
            break;
        }
        if (!co_await reader.ReadHead(stream, std::string(), strRequest))
            co_return EHttpEnd::kClose;
    }
}
