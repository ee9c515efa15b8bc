// Request reading, header lookup and the 200 answer. Nothing here knows the session; the
// socket is only touched through the shim's receive and send-all calls.
#include "server/http.h"

#include "support/ascii.h"
#include "support/format.h"

#include <climits>
#include <cstring>

namespace {

bool IsHttpSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

void ReplaceAll(std::string& strText, const std::string& strFrom, const std::string& strTo) {
    size_t nPos = 0;
    while ((nPos = strText.find(strFrom, nPos)) != std::string::npos) {
        strText.replace(nPos, strFrom.size(), strTo);
        nPos += strTo.size();
    }
}

const char kResponseTemplate[] = "HTTP/1.1 200 OK\r\n"
                                 "Content-Type: [Content-Type]; charset=[charset]\r\n"
                                 "Content-Length: [Content-Length]\r\n"
                                 "Connection: keep-alive\r\n\r\n";

const HTTP_ROUTE kRoutes[] = {
    {"", EHttpBody::kPageHtml, "websocket.html", "text/html", "utf-8"},
    {"favicon.ico", EHttpBody::kEmpty, nullptr, "text/html", "gb2312"},
    {"buttons.css", EHttpBody::kButtonsCss, "buttons.css", "text/css", "utf-8"},
    {"echarts.min.js", EHttpBody::kEchartsJs, "echarts.min.js", "text/javascript", "utf-8"},
    // The full test page takes its settings from the query (?seconds=N).
    {"full", EHttpBody::kFullHtml, "full.html", "text/html", "utf-8"},
    {"full.js", EHttpBody::kFullJs, "full.js", "text/javascript", "utf-8"},
    {"qrcode.js", EHttpBody::kQrcodeJs, "qrcode.js", "text/javascript", "utf-8"},
    {"addresses", EHttpBody::kAddresses, nullptr, "application/json", "utf-8"},
};

} // namespace

CHttpRequestReader::EState CHttpRequestReader::AddChunk(const char* pData, int nLen) {
    if (nLen > 0) {
        m_nReceived += nLen;
        const void* pNul = std::memchr(pData, 0, static_cast<size_t>(nLen));
        size_t nKeep = pNul != nullptr ? static_cast<size_t>(static_cast<const char*>(pNul) - pData)
                                       : static_cast<size_t>(nLen);
        m_strText.append(pData, nKeep);
        m_bCut = m_bCut || pNul != nullptr;
    }
    if (!m_bHaveExpected) {
        size_t nBlank = m_strText.find("\r\n\r\n");
        if (nBlank != std::string::npos) {
            // Only this request's own head: a request pipelined behind it lends it no body.
            std::string strLength =
                GetHeaderValue(m_strText.substr(0, nBlank + 2), "Content-Length");
            if (strLength.empty())
                return kComplete;
            long long nExpected = static_cast<long long>(nBlank) + 4 +
                                  ParseLeadingDecimal(strLength, INT_MIN, INT_MAX);
            m_nExpected = nExpected < 0 ? 0 : static_cast<size_t>(nExpected);
            m_bHaveExpected = true;
        }
    }
    if (m_bHaveExpected && m_strText.size() >= m_nExpected)
        return kComplete;
    // A NUL cut the rest of its chunk away: what follows can never complete the request,
    // so it is refused now rather than left to the idle timeout.
    if (m_bCut)
        return kRefused;
    return m_nReceived >= kMaxRequestBytes ? kRefused : kNeedMore;
}

asio::awaitable<bool> RecvHttpRequest(std::string& strText, CByteStream& stream) {
    strText.clear();
    CHttpRequestReader reader;
    char szBuf[CHttpRequestReader::kChunkSize + 1];
    for (;;) {
        std::memset(szBuf, 0, sizeof(szBuf));
        int n = co_await stream.Recv(szBuf, CHttpRequestReader::kChunkSize);
        if (n <= 0)
            co_return false;
        CHttpRequestReader::EState state = reader.AddChunk(szBuf, n);
        if (state == CHttpRequestReader::kComplete) {
            strText = reader.Text();
            co_return true;
        }
        if (state == CHttpRequestReader::kRefused)
            co_return false;
    }
}

std::string GetHeaderValue(const std::string& strRequest, const char* pszName) {
    const std::string strName = pszName != nullptr ? pszName : "";
    if (EqualsNoCaseAscii(strName, "path")) {
        size_t nSlash = strRequest.find('/');
        if (nSlash == std::string::npos)
            return std::string();
        size_t nSpace = strRequest.find(' ', nSlash);
        if (nSpace == std::string::npos)
            return std::string();
        return strRequest.substr(nSlash + 1, nSpace - nSlash - 1);
    }
    if (strName.empty())
        return std::string();
    // Field names ignore case and start a line; the request line is never a field.
    size_t nField = std::string::npos;
    for (size_t nLine = strRequest.find("\r\n"); nLine != std::string::npos;
         nLine = strRequest.find("\r\n", nLine + 2)) {
        const size_t nStart = nLine + 2;
        if (strRequest.size() > nStart + strName.size() &&
            strRequest[nStart + strName.size()] == ':' &&
            EqualsNoCaseAscii(strRequest.substr(nStart, strName.size()), strName)) {
            nField = nStart;
            break;
        }
    }
    if (nField == std::string::npos)
        return std::string();
    // Whatever follows the colon is skipped, normally the single space.
    size_t nStart = nField + strName.size() + 2;
    if (nStart >= strRequest.size())
        return std::string();
    size_t nEnd = strRequest.find("\r\n", nStart);
    if (nEnd == std::string::npos || nEnd == nStart)
        return std::string();
    size_t nFirst = nStart, nLast = nEnd;
    while (nFirst < nLast && IsHttpSpace(strRequest[nFirst]))
        ++nFirst;
    while (nLast > nFirst && IsHttpSpace(strRequest[nLast - 1]))
        --nLast;
    return strRequest.substr(nFirst, nLast - nFirst);
}

std::string BuildHttpResponseHead(const char* pszContentType, const char* pszCharset,
                                  int nBodyLen) {
    std::string strHead = kResponseTemplate;
    ReplaceAll(strHead, "[Content-Type]", pszContentType);
    ReplaceAll(strHead, "[charset]", pszCharset);
    ReplaceAll(strHead, "keep-alive", "close");
    ReplaceAll(strHead, "[Content-Length]", FormatString("%d", nBodyLen));
    return strHead;
}

asio::awaitable<bool> SendHttpResponse(CByteStream& stream, const char* pBody, int nBodyLen,
                                       const char* pszCharset, const char* pszContentType) {
    const std::string strHead = BuildHttpResponseHead(pszContentType, pszCharset, nBodyLen);
    // Short sends are continued: a partly sent head or body would leave a torn answer.
    if (!co_await SendAll(stream, strHead.data(), strHead.size()))
        co_return false;
    size_t nSend =
        nBodyLen > 0 ? static_cast<size_t>(nBodyLen) : (pBody != nullptr ? std::strlen(pBody) : 0);
    if (nSend == 0)
        co_return false;
    co_return co_await SendAll(stream, pBody, nSend);
}

const HTTP_ROUTE* FindHttpRoute(const std::string& strPath) {
    const std::string strBare = strPath.substr(0, strPath.find('?'));
    for (const HTTP_ROUTE& route : kRoutes) {
        // Messaging apps and cache-busters add queries to any address.
        if (EqualsNoCaseAscii(strBare, route.pszPath))
            return &route;
    }
    return nullptr;
}
