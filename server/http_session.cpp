// The browser side of a connection: one request, answered from the routing table or
// upgraded to the WebSocket stream.
#include "server/http_session.h"

#include "server/assets.h"
#include "server/http.h"
#include "server/websocket.h"

bool ServeHttpConnection(CByteStream& stream, const std::string& strToken,
                         const CPageTexts& texts) {
    std::string strRest;
    if (!RecvHttpRequest(strRest, stream))
        return false;
    const std::string strRequest = strToken + strRest;

    // The upgrade test comes before routing: any path can become a WebSocket.
    if (IsWebSocketUpgrade(strRequest))
        return SendWebSocketHandshake(strRequest, stream);

    const HTTP_ROUTE* pRoute = FindHttpRoute(GetHeaderValue(strRequest, "path"));
    if (pRoute == nullptr)
        return false; // not ours: no answer, the session closes the connection

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
    case EHttpBody::kEmpty:
        break;
    }
    SendHttpResponse(stream, pBody->c_str(), static_cast<int>(pBody->size()), pRoute->pszCharset,
                     pRoute->pszContentType);
    return false;
}
