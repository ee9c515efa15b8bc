// Request reading, header lookup, the answer head and the routing table, from memory.
#include "server/http.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using EState = CHttpRequestReader::EState;

// Feeds each piece in chunks of at most nChunk bytes, as the socket loop would; the state
// after the last chunk fed (stops early when the reader decides).
EState Feed(CHttpRequestReader& reader, const std::vector<std::string>& pieces, size_t nChunk) {
    EState state = CHttpRequestReader::kNeedMore;
    for (const std::string& strPiece : pieces) {
        for (size_t i = 0; i < strPiece.size() && state == CHttpRequestReader::kNeedMore;
             i += nChunk) {
            const size_t n = std::min(nChunk, strPiece.size() - i);
            state = reader.AddChunk(strPiece.data() + i, static_cast<int>(n));
        }
    }
    return state;
}

} // namespace

TEST(HttpRequestReader, DecidesAtTheRightByte) {
    // What follows the first token, as the session hands it over.
    const std::string strBrowser = " / HTTP/1.1\r\nHost: 127.0.0.1:10001\r\nConnection: keep-alive"
                                   "\r\nAccept-Language: zh-CN,zh;q=0.9\r\n\r\n";
    const size_t nMax = CHttpRequestReader::kMaxRequestBytes, k = CHttpRequestReader::kChunkSize;
    const std::string strFiller = " / HTTP/1.1\r\nX-Filler: ";
    const struct {
        std::vector<std::string> pieces;
        size_t nChunk;
        EState state;
    } cases[] = {
        {{strBrowser.substr(0, strBrowser.size() - 2)}, k, CHttpRequestReader::kNeedMore},
        {{strBrowser.substr(0, strBrowser.size() - 2), "\r\n"}, k, CHttpRequestReader::kComplete},
        {{strBrowser}, 1, CHttpRequestReader::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"}, k, CHttpRequestReader::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel"}, k, CHttpRequestReader::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel", "lo"}, k, CHttpRequestReader::kComplete},
        // Only the exact field name counts; a value without digits means no body.
        {{" / HTTP/1.1\r\ncontent-length: 5\r\n\r\n"}, k, CHttpRequestReader::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: abc\r\n\r\n"}, k, CHttpRequestReader::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"},
         k,
         CHttpRequestReader::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", std::string(70000, 'x')},
         k,
         CHttpRequestReader::kRefused},
        {{strFiller + std::string(nMax, 'a')}, k, CHttpRequestReader::kRefused},
        {{strFiller + std::string(nMax - strFiller.size() - 5, 'a') + "\r\n\r\n"},
         k,
         CHttpRequestReader::kComplete},
    };
    for (const auto& c : cases) {
        CHttpRequestReader reader;
        EXPECT_EQ(Feed(reader, c.pieces, c.nChunk), c.state) << c.pieces[0].substr(0, 50);
    }
    CHttpRequestReader reader;
    Feed(reader, {strBrowser}, 1);
    EXPECT_EQ(reader.Text(), strBrowser);
}

TEST(HttpRequestReader, ANulBeforeTheHeadIsCompleteRefusesTheRequest) {
    // Bytes after a NUL are dropped, so such a request could never be read as sent.
    CHttpRequestReader reader;
    const char chunk1[] = " /a HTTP/1.1\r\nX: 1\0junk\r\n\r\n";
    EXPECT_EQ(reader.AddChunk(chunk1, sizeof(chunk1) - 1), CHttpRequestReader::kRefused);
    EXPECT_EQ(reader.Text(), " /a HTTP/1.1\r\nX: 1");
    // A head that is whole before the NUL is still a complete request.
    CHttpRequestReader complete;
    const char chunk2[] = " /a HTTP/1.1\r\n\r\n\0tail";
    EXPECT_EQ(complete.AddChunk(chunk2, sizeof(chunk2) - 1), CHttpRequestReader::kComplete);
}

TEST(GetHeaderValue, PathAndFields) {
    const std::string strTwice = "GET / HTTP/1.1\r\nX-Upgrade: no\r\nUpgrade:  WebSocket \t\r\n"
                                 "Upgrade: second\r\n\r\n";
    const struct {
        std::string strRequest;
        const char* pszName;
        const char* pszValue;
    } cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", "path", ""},
        {"GET /buttons.css HTTP/1.1\r\n\r\n", "path", "buttons.css"},
        {"GET /buttons.css?v=2 HTTP/1.1\r\n\r\n", "PATH", "buttons.css?v=2"},
        {"GET /a%20b HTTP/1.1\r\n\r\n", "Path", "a%20b"},
        {"GET nothing\r\n\r\n", "path", ""},
        {"GET /nospace", "path", ""},
        // The first occurrence wins, even inside a longer field name; the case is exact.
        {strTwice, "Upgrade", "no"},
        {strTwice, "upgrade", ""},
        {"GET / HTTP/1.1\r\nUpgrade:  WebSocket \t\r\n\r\n", "Upgrade", "WebSocket"},
        // One character after the colon is always skipped.
        {"GET / HTTP/1.1\r\nSec-WebSocket-Key:abcd\r\n\r\n", "Sec-WebSocket-Key", "bcd"},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "Connection", ""},
        {"GET / HTTP/1.1\r\nConnection: \r\n\r\n", "Connection", ""},
        {"GET / HTTP/1.1\r\nConnection: close", "Connection", ""},
        {"Connection:", "Connection", ""},
        {"Connection: x", "Connection", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetHeaderValue(c.strRequest, c.pszName), c.pszValue) << c.strRequest;
}

TEST(HttpResponseHead, ExactBytes) {
    EXPECT_EQ(BuildHttpResponseHead("text/html", "utf-8", 5073),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
              "Content-Length: 5073\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(BuildHttpResponseHead("text/css", "gb2312", 0),
              "HTTP/1.1 200 OK\r\nContent-Type: text/css; charset=gb2312\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST(HttpRoutes, FourPathsIgnoringCaseAndNothingElse) {
    const struct {
        const char* pszPath;
        EHttpBody body;
        const char* pszType;
        const char* pszCharset;
    } routes[] = {
        {"", EHttpBody::kPageHtml, "text/html", "utf-8"},
        {"BUTTONS.CSS", EHttpBody::kButtonsCss, "text/css", "utf-8"},
        {"buttons.css", EHttpBody::kButtonsCss, "text/css", "utf-8"},
        {"Echarts.Min.Js", EHttpBody::kEchartsJs, "text/javascript", "utf-8"},
        {"favicon.ico", EHttpBody::kEmpty, "text/html", "gb2312"},
    };
    for (const auto& r : routes) {
        const HTTP_ROUTE* pRoute = FindHttpRoute(r.pszPath);
        ASSERT_NE(pRoute, nullptr) << r.pszPath;
        EXPECT_EQ(pRoute->body, r.body) << r.pszPath;
        EXPECT_STREQ(pRoute->pszContentType, r.pszType) << r.pszPath;
        EXPECT_STREQ(pRoute->pszCharset, r.pszCharset) << r.pszPath;
    }
    for (const char* pszPath : {"index.html", "echarts.min.js?v=1", "/", "buttons.cs"})
        EXPECT_EQ(FindHttpRoute(pszPath), nullptr) << pszPath;
}
