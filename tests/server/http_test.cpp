// Request reading, header lookup, the answer head and the routing table, from memory.
#include "server/http.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Feeds strText in chunks of nChunk bytes, as the socket loop would; the state after the
// last chunk fed (stops early when the reader decides).
CHttpRequestReader::EState Feed(CHttpRequestReader& reader, const std::string& strText,
                                size_t nChunk = CHttpRequestReader::kChunkSize) {
    CHttpRequestReader::EState state = CHttpRequestReader::kNeedMore;
    for (size_t i = 0; i < strText.size(); i += nChunk) {
        size_t n = std::min(nChunk, strText.size() - i);
        state = reader.AddChunk(strText.data() + i, static_cast<int>(n));
        if (state != CHttpRequestReader::kNeedMore)
            break;
    }
    return state;
}

const char kBrowserRequest[] = "GET / HTTP/1.1\r\n"
                               "Host: 127.0.0.1:10001\r\n"
                               "Connection: keep-alive\r\n"
                               "User-Agent: Mozilla/5.0\r\n"
                               "Accept-Language: zh-CN,zh;q=0.9\r\n\r\n";

} // namespace

TEST(HttpRequestReader, CompleteAtTheBlankLine) {
    CHttpRequestReader reader;
    std::string strRest = std::string(kBrowserRequest).substr(3);
    EXPECT_EQ(Feed(reader, strRest.substr(0, strRest.size() - 2)), CHttpRequestReader::kNeedMore);
    EXPECT_EQ(reader.AddChunk("\r\n", 2), CHttpRequestReader::kComplete);
    EXPECT_EQ(reader.Text(), strRest);
}

TEST(HttpRequestReader, BlankLineSplitAcrossChunks) {
    CHttpRequestReader reader;
    EXPECT_EQ(Feed(reader, std::string(kBrowserRequest).substr(3), 1),
              CHttpRequestReader::kComplete);
}

TEST(HttpRequestReader, ContentLengthBodyInTheSamePacketCompletesAtOnce) {
    CHttpRequestReader reader;
    const std::string strText = " / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello";
    EXPECT_EQ(reader.AddChunk(strText.data(), static_cast<int>(strText.size())),
              CHttpRequestReader::kComplete);
}

TEST(HttpRequestReader, ContentLengthWaitsForTheBody) {
    CHttpRequestReader reader;
    const std::string strHead = " / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel";
    EXPECT_EQ(reader.AddChunk(strHead.data(), static_cast<int>(strHead.size())),
              CHttpRequestReader::kNeedMore);
    EXPECT_EQ(reader.AddChunk("lo", 2), CHttpRequestReader::kComplete);
}

TEST(HttpRequestReader, LowerCaseContentLengthIsNotAField) {
    CHttpRequestReader reader;
    const std::string strText = " / HTTP/1.1\r\ncontent-length: 5\r\n\r\n";
    EXPECT_EQ(reader.AddChunk(strText.data(), static_cast<int>(strText.size())),
              CHttpRequestReader::kComplete);
}

TEST(HttpRequestReader, ContentLengthWithoutDigitsMeansZero) {
    CHttpRequestReader reader;
    const std::string strText = " / HTTP/1.1\r\nContent-Length: abc\r\n\r\n";
    EXPECT_EQ(reader.AddChunk(strText.data(), static_cast<int>(strText.size())),
              CHttpRequestReader::kComplete);
}

TEST(HttpRequestReader, HugeContentLengthIsRefusedAtTheLimit) {
    CHttpRequestReader reader;
    const std::string strText = " / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n";
    EXPECT_EQ(Feed(reader, strText), CHttpRequestReader::kNeedMore);
    EXPECT_EQ(Feed(reader, std::string(70000, 'x')), CHttpRequestReader::kRefused);
}

TEST(HttpRequestReader, A64KiBHeadIsRefused) {
    CHttpRequestReader reader;
    std::string strHead = " / HTTP/1.1\r\nX-Filler: ";
    strHead.append(CHttpRequestReader::kMaxRequestBytes, 'a');
    EXPECT_EQ(Feed(reader, strHead), CHttpRequestReader::kRefused);
}

TEST(HttpRequestReader, JustBelowTheLimitStillCompletes) {
    CHttpRequestReader reader;
    std::string strHead = " / HTTP/1.1\r\nX-Filler: ";
    strHead.append(CHttpRequestReader::kMaxRequestBytes - strHead.size() - 4 - 1, 'a');
    strHead += "\r\n\r\n";
    EXPECT_EQ(Feed(reader, strHead), CHttpRequestReader::kComplete);
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

TEST(GetHeaderValue, PathOfTheRequestLine) {
    EXPECT_EQ(GetHeaderValue("GET / HTTP/1.1\r\n\r\n", "path"), "");
    EXPECT_EQ(GetHeaderValue("GET /buttons.css HTTP/1.1\r\n\r\n", "path"), "buttons.css");
    EXPECT_EQ(GetHeaderValue("GET /buttons.css?v=2 HTTP/1.1\r\n\r\n", "PATH"), "buttons.css?v=2");
    EXPECT_EQ(GetHeaderValue("GET /a%20b HTTP/1.1\r\n\r\n", "Path"), "a%20b");
    EXPECT_EQ(GetHeaderValue("GET nothing\r\n\r\n", "path"), "");
    EXPECT_EQ(GetHeaderValue("GET /nospace", "path"), "");
}

TEST(GetHeaderValue, ExactCaseFirstOccurrenceTrimmed) {
    const std::string strRequest = "GET / HTTP/1.1\r\nX-Upgrade: no\r\nUpgrade:  WebSocket \t\r\n"
                                   "Upgrade: second\r\n\r\n";
    // The first occurrence wins, even inside a longer field name.
    EXPECT_EQ(GetHeaderValue(strRequest, "Upgrade"), "no");
    EXPECT_EQ(GetHeaderValue(strRequest, "upgrade"), "");
    EXPECT_EQ(GetHeaderValue("GET / HTTP/1.1\r\nUpgrade:  WebSocket \t\r\n\r\n", "Upgrade"),
              "WebSocket");
}

TEST(GetHeaderValue, OneCharacterAfterTheColonIsAlwaysSkipped) {
    EXPECT_EQ(
        GetHeaderValue("GET / HTTP/1.1\r\nSec-WebSocket-Key:abcd\r\n\r\n", "Sec-WebSocket-Key"),
        "bcd");
}

TEST(GetHeaderValue, MissingEmptyOrUnterminated) {
    EXPECT_EQ(GetHeaderValue("GET / HTTP/1.1\r\nHost: x\r\n\r\n", "Connection"), "");
    EXPECT_EQ(GetHeaderValue("GET / HTTP/1.1\r\nConnection: \r\n\r\n", "Connection"), "");
    EXPECT_EQ(GetHeaderValue("GET / HTTP/1.1\r\nConnection: close", "Connection"), "");
    EXPECT_EQ(GetHeaderValue("Connection:", "Connection"), "");
    EXPECT_EQ(GetHeaderValue("Connection: x", "Connection"), "");
}

TEST(HttpResponseHead, PageHeadBytes) {
    EXPECT_EQ(BuildHttpResponseHead("text/html", "utf-8", 5073),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
              "Content-Length: 5073\r\nConnection: close\r\n\r\n");
}

TEST(HttpResponseHead, FaviconHead) {
    EXPECT_EQ(BuildHttpResponseHead("text/html", "gb2312", 0),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=gb2312\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST(HttpRoutes, FourPathsIgnoringCase) {
    ASSERT_NE(FindHttpRoute(""), nullptr);
    EXPECT_EQ(FindHttpRoute("")->body, EHttpBody::kPageHtml);
    EXPECT_STREQ(FindHttpRoute("")->pszContentType, "text/html");
    ASSERT_NE(FindHttpRoute("BUTTONS.CSS"), nullptr);
    EXPECT_EQ(FindHttpRoute("BUTTONS.CSS")->body, EHttpBody::kButtonsCss);
    EXPECT_STREQ(FindHttpRoute("buttons.css")->pszContentType, "text/css");
    ASSERT_NE(FindHttpRoute("echarts.min.js"), nullptr);
    EXPECT_STREQ(FindHttpRoute("Echarts.Min.Js")->pszContentType, "text/javascript");
    ASSERT_NE(FindHttpRoute("favicon.ico"), nullptr);
    EXPECT_STREQ(FindHttpRoute("favicon.ico")->pszCharset, "gb2312");
    EXPECT_EQ(FindHttpRoute("favicon.ico")->body, EHttpBody::kEmpty);
}

TEST(HttpRoutes, EverythingElseHasNoRoute) {
    EXPECT_EQ(FindHttpRoute("index.html"), nullptr);
    EXPECT_EQ(FindHttpRoute("echarts.min.js?v=1"), nullptr);
    EXPECT_EQ(FindHttpRoute("/"), nullptr);
    EXPECT_EQ(FindHttpRoute("buttons.cs"), nullptr);
}
