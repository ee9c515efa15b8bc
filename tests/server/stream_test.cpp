// Request reading and header lookup, the writers and the session loop, all in memory:
// every send cut short at chosen points still puts whole frames, heads and bodies on the
// wire, a failing send ends the writer, each first token leads to its own session and each
// route to its exact answer, with the bytes the engine counted.
#include "engine/send_pattern.h"
#include "engine/udp_wire.h"
#include "server/http.h"
#include "server/session.h"
#include "server/websocket.h"
#include "testkit/memory_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::string UdpRequest() {
    unsigned char bytes[kUdpRequestSize];
    EncodeUdpRequest(CUdpRequest{}, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

std::string UdpRefusal(EUdpStatus status) {
    unsigned char bytes[kUdpAnswerSize];
    EncodeUdpAnswer(status, 0, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

const std::string kFrame = std::string("\x81\x7E\xFE\x67") + g_szFramePayload;
const std::string kUpgrade = "GET /x HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

using R = CHttpRequestReader;

// Feeds each piece in chunks of at most nChunk bytes, as the socket loop would; the state
// after the last chunk fed (stops early when the reader decides).
R::EState Feed(R& reader, const std::vector<std::string>& pieces, size_t nChunk) {
    R::EState state = R::kNeedMore;
    for (const std::string& strPiece : pieces) {
        for (size_t i = 0; i < strPiece.size() && state == R::kNeedMore; i += nChunk) {
            const size_t n = std::min(nChunk, strPiece.size() - i);
            state = reader.AddChunk(strPiece.data() + i, static_cast<int>(n));
        }
    }
    return state;
}

struct CWriter {
    const char* pszName;
    std::function<asio::awaitable<bool>(CByteStream&)> fnWrite;
    std::string strExpected;
};

std::vector<CWriter> Writers() {
    static const std::string strBody(200000, 'b');
    return {
        {"frames",
         [](CByteStream& s) -> asio::awaitable<bool> {
             co_return co_await SendWebSocketFrame(g_nFramePayloadLen, s) &&
                 co_await SendWebSocketFrame(g_nFramePayloadLen, s);
         },
         kFrame + kFrame},
        {"answer",
         [](CByteStream& s) {
             return SendHttpResponse(s, strBody.data(), static_cast<int>(strBody.size()), "utf-8",
                                     "text/html");
         },
         BuildHttpResponseHead("text/html", "utf-8", static_cast<int>(strBody.size())) + strBody},
        {"handshake", [](CByteStream& s) { return SendWebSocketHandshake(kUpgrade, s); },
         BuildWebSocketHandshake(kUpgrade)},
    };
}

// Cut short at chosen points, a writer goes on until all is sent; a failing send ends it.
TEST(ShortSends, AreContinuedUntilEverythingIsOnTheWireAndAFailureEndsTheWriter) {
    const std::vector<std::vector<long>> cutPatterns = {{},     {1},          {1, 1, 1, 2, 3},
                                                        {3, 5}, {7, 4096, 1}, {65535, 2, 65530, 9}};
    for (const CWriter& writer : Writers()) {
        for (const auto& cuts : cutPatterns) {
            CMemoryStream stream;
            stream.m_vecSendCuts = cuts;
            EXPECT_TRUE(RunSync(writer.fnWrite(stream))) << writer.pszName;
            EXPECT_TRUE(stream.m_strOutput == writer.strExpected)
                << writer.pszName << ": " << stream.m_strOutput.size() << " of "
                << writer.strExpected.size() << " bytes, cuts " << cuts.size();
        }
        for (size_t nCapacity : {size_t{0}, size_t{1}, writer.strExpected.size() - 1}) {
            CMemoryStream stream;
            stream.m_nSendCapacity = nCapacity;
            stream.m_vecSendCuts = {3};
            EXPECT_FALSE(RunSync(writer.fnWrite(stream)))
                << writer.pszName << " capacity " << nCapacity;
            EXPECT_EQ(stream.m_strOutput.size(), nCapacity) << writer.pszName;
        }
    }
}

// One session over memory; the peer closes once its input is read.
struct CSessionResult {
    std::string strOutput;
    uint64_t nRecv = 0, nSend = 0;
    bool bHeadClockStopped = false;
};

CSessionResult Serve(const std::string& strInput, size_t nRecvChunk, size_t nSendCapacity) {
    CKestrunEngine engine;
    CPageTexts texts{"<html>page</html>", "css", "js", "<html>full</html>", "full js", "", "", ""};
    CMemoryStream stream(strInput, nRecvChunk);
    stream.m_nSendCapacity = nSendCapacity;
    RunSync(ServeConnection(engine, stream, texts));
    CSessionResult result{stream.m_strOutput};
    engine.TakeCounters(result.nRecv, result.nSend);
    result.bHeadClockStopped =
        stream.Progress().tHeadDeadline == CStreamProgress::Clock::time_point::max();
    return result;
}

std::string Head(const char* pszStatus, const char* pszType, size_t nLength,
                 const char* pszConnection = "close") {
    return std::string("HTTP/1.1 ") + pszStatus + "\r\nContent-Type: " + pszType +
           "\r\nContent-Length: " + std::to_string(nLength) +
           "\r\nCache-Control: no-store\r\nConnection: " + pszConnection + "\r\n\r\n";
}

std::string Text(const char* pszStatus, const std::string& strBody,
                 const char* pszConnection = "close") {
    return Head(pszStatus, "text/plain; charset=utf-8", strBody.size(), pszConnection) + strBody;
}

std::string Download(size_t nSize, const char* pszConnection = "close") {
    std::string strBody;
    while (strBody.size() < nSize)
        strBody.append(SendPattern(), std::min(nSize - strBody.size(), kSendPatternSize));
    return Head("200 OK", "application/octet-stream", nSize, pszConnection) + strBody;
}

// A page of the browser test, answered as the pages always were.
std::string Page(const char* pszType, const std::string& strBody,
                 const char* pszCharset = "utf-8") {
    return std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + pszType + "; charset=" + pszCharset +
           "\r\nContent-Length: " + std::to_string(strBody.size()) +
           "\r\nConnection: close\r\n\r\n" + strBody;
}

std::string Get(const std::string& strPath, const char* pszConnection = "close") {
    return "GET " + strPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: " + pszConnection +
           "\r\n\r\n";
}

std::string Post(const std::string& strPath, const std::string& strFields,
                 const std::string& strBody = "") {
    return "POST " + strPath + " HTTP/1.1\r\nConnection: close\r\n" + strFields + "\r\n" + strBody;
}

TEST(SessionLoop, EachTokenAndRouteGetsItsAnswerAndItsBytesCountedOnce) {
    const std::string strUpload(100003, 'u'), strHandshake = BuildWebSocketHandshake(kUpgrade);
    const std::string strPage = Page("text/html", "<html>page</html>");
    // Receives larger than the sender's blocks, however the bytes arrive, count every byte
    // once: several MiB in pieces from one byte past a block to more than any receive takes.
    const std::string strBig(3 * 1048576 + 17, 'b');
    const std::vector<size_t> big = {8193, 65536, 200000, 4 << 20};
    const std::string strHead = Head("200 OK", "application/octet-stream", 1u << 30);
    const std::string strFavicon = Page("text/html", "", "gb2312");
    const std::string strBadSize =
        Text("400 Bad Request", "size must be a whole number of bytes\n");
    const std::string strTooLarge =
        Text("413 Content Too Large", "size may be at most 1073741824 bytes\n");
    // Requests kept on one connection: a body, then several requests in one receive with
    // its tail; a page request ends the connection, so the last goes unread.
    const std::string strPing = Text("200 OK", "", "keep-alive");
    const std::string strKept = "POST /upload HTTP/1.1\r\nContent-Length: 300000\r\n\r\n" +
                                std::string(300000, 'u') + Get("/ping", "keep-alive") +
                                Get("/download?size=70000", "keep-alive") +
                                Get("/ping", "keep-alive") + Get("/", "keep-alive") + Get("/ping");
    const std::string strKeptAnswer = Text("200 OK", "300000\n", "keep-alive") + strPing +
                                      Download(70000, "keep-alive") + strPing + strPage;
    const struct {
        std::string strRequest, strAnswer; // what the session sends, or its start for a stream
        uint64_t nRecv, nSend;
        size_t nSendCapacity = SIZE_MAX;
        // Two-byte receives split every first token.
        std::vector<size_t> chunks = {2, 7, 65536};
    } cases[] = {
        // Raw uploads count what follows the mode byte; a drain counts all but the token.
        {"EST" + std::string(1, '\0') + strUpload, "", strUpload.size(), 0},
        {"XYZ" + strUpload, "", strUpload.size(), 0},
        {"EST" + std::string(1, '\0') + strBig, "", strBig.size(), 0, SIZE_MAX, big},
        {"XYZ" + strBig, "", strBig.size(), 0, SIZE_MAX, big},
        // The bytes read to tell a token from "POST" are counted too.
        {"POSX" + strUpload, "", strUpload.size() + 1, 0},
        {"POST", "", 1, 0},
        {"EST\x03" + strUpload, "", 0, 0}, // an unknown mode byte
        // A UDP test's request is answered with a refusal: a version of its own, and a good
        // request where the server has no UDP socket.
        {"EST\x02" + std::string(kUdpRequestSize, '\0'), UdpRefusal(EUdpStatus::kBadVersion), 0, 0},
        {"EST\x02" + UdpRequest(), UdpRefusal(EUdpStatus::kUnavailable), 0, 0},
        {"EST", "", 0, 0},
        // Streams go on until the send fails, what went out counted but for a head.
        {"est\x01", "", 0, 3 * 8192 + 100, 3 * 8192 + 100, {1, 2, 65536}},
        {kUpgrade, strHandshake + kFrame + kFrame, 0, 2 * static_cast<uint64_t>(g_nFramePayloadLen),
         strHandshake.size() + 2 * kFrame.size() + 5},
        {Get("/download?size=1073741824"), strHead, 0, (5u << 20) - strHead.size(), 5u << 20},
        {strKept, strKeptAnswer, 300000, 70000},
        {Get("/ping"), Text("200 OK", ""), 0, 0},
        {Get("/ping?r=0.5"), Text("200 OK", ""), 0, 0},
        {Get("/download?size=1000"), Download(1000), 0, 1000},
        {Get("/DOWNLOAD?r=1&size=3000000"), Download(3000000), 0, 3000000},
        {Get("/download?size=0"), Download(0), 0, 0},
        {Get("/download?size=00012"), Download(12), 0, 12},
        {Get("/download?size=abc"), strBadSize, 0, 0},
        {Get("/download?size="), strBadSize, 0, 0},
        {Get("/download?size=-5"), strBadSize, 0, 0},
        {Get("/download?size=+5"), strBadSize, 0, 0},
        {Get("/download?size=1e6"), strBadSize, 0, 0},
        {Get("/download?size=1073741825"), strTooLarge, 0, 0},
        {Get("/download?size=99999999999999999999999"), strTooLarge, 0, 0},
        {Post("/upload", "Content-Length: 5\r\n", "hello"), Text("200 OK", "5\n"), 5, 0},
        {Post("/Upload?r=2", "Content-Length: 0\r\n"), Text("200 OK", "0\n"), 0, 0},
        {Post("/upload", ""), Text("400 Bad Request", "an upload needs a Content-Length\n"), 0, 0},
        {Post("/upload", "Content-Length: 5x\r\n", "hello"),
         Text("400 Bad Request", "Content-Length must be a whole number of bytes\n"), 0, 0},
        {Post("/upload", "Content-Length: 1073741825\r\n"),
         Text("413 Content Too Large", "an upload may have at most 1073741824 bytes\n"), 0, 0},
        // A peer that ends mid-body has what arrived counted.
        {Post("/upload", "Content-Length: 1000000\r\n", std::string(4321, 'b')), "", 4321, 0},
        // Uploads elsewhere and GETs of /upload go unanswered, like unknown pages.
        {Post("/", "Content-Length: 5\r\n", "hello"), "", 0, 0},
        {Get("/upload"), "", 0, 0},
        // The pages end their connection even when asked to keep it; a query is no new path.
        {Get("/?x=1"), strPage, 0, 0},
        {Get("/FULL?seconds=2"), Page("text/html", "<html>full</html>"), 0, 0},
        {Get("/full.js"), Page("text/javascript", "full js"), 0, 0},
        {Get("/BUTTONS.CSS", "keep-alive"), Page("text/css", "css"), 0, 0},
        {Get("/Echarts.Min.Js", "keep-alive"), Page("text/javascript", "js"), 0, 0},
        {Get("/favicon.ico", "keep-alive"), strFavicon, 0, 0},
        {"get /favicon.ico HTTP/1.1\r\n\r\n", strFavicon, 0, 0},
        {Get("/full.js?v=1"), Page("text/javascript", "full js"), 0, 0},
        {Get("/echarts.min.js?v=1", "keep-alive"), Page("text/javascript", "js"), 0, 0},
        {Get("/index.html", "keep-alive"), "", 0, 0},
        {Get("//"), "", 0, 0},
        {Get("/buttons.cs"), "", 0, 0},
        {"GET /nothing HTTP/1.1\r\n\r\n", "", 0, 0},
        {"GET / HTTP/1.1\r\nHost:", "", 0, 0}, // cut off by the close
        {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'a') + "\r\n\r\n", "", 0, 0},
    };
    for (const auto& c : cases) {
        for (size_t nChunk : c.chunks) {
            SCOPED_TRACE(c.strRequest.substr(0, 60) + ", chunk " + std::to_string(nChunk));
            const CSessionResult r = Serve(c.strRequest, nChunk, c.nSendCapacity);
            EXPECT_EQ(r.strOutput.compare(0, c.strAnswer.size(), c.strAnswer), 0)
                << r.strOutput.substr(0, 200);
            if (c.nSendCapacity == SIZE_MAX) {
                EXPECT_EQ(r.strOutput.size(), c.strAnswer.size());
            }
            EXPECT_EQ(r.nRecv, c.nRecv);
            EXPECT_EQ(r.nSend, c.nSend);
            // A stream or an answer under the head clock would be cut after ten seconds.
            if (r.nRecv + r.nSend > 0 || !r.strOutput.empty()) {
                EXPECT_TRUE(r.bHeadClockStopped);
            }
        }
    }
}

TEST(HttpRequestReader, DecidesAtTheRightByte) {
    // What follows the first token, as the session hands it over.
    const std::string strBrowser = " / HTTP/1.1\r\nHost: 127.0.0.1:10001\r\nConnection: keep-alive"
                                   "\r\nAccept-Language: zh-CN,zh;q=0.9\r\n\r\n";
    const size_t nMax = R::kMaxRequestBytes, k = R::kChunkSize;
    const std::string strFiller = " / HTTP/1.1\r\nX-Filler: ";
    const std::string strNul(" /a HTTP/1.1\r\nX: 1\0junk\r\n\r\n", 27);
    const struct {
        std::vector<std::string> pieces;
        size_t nChunk;
        R::EState state;
    } cases[] = {
        {{strBrowser.substr(0, strBrowser.size() - 2)}, k, R::kNeedMore},
        {{strBrowser.substr(0, strBrowser.size() - 2), "\r\n"}, k, R::kComplete},
        {{strBrowser}, 1, R::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"}, k, R::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel"}, k, R::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel", "lo"}, k, R::kComplete},
        // A request sent right behind one without a body lends it no length.
        {{" / HTTP/1.1\r\n\r\nPOST /x HTTP/1.1\r\nContent-Length: 500\r\n\r\n"}, k, R::kComplete},
        // The field name in any case counts; a value without digits means no body.
        {{" / HTTP/1.1\r\ncontent-length: 5\r\n\r\n"}, k, R::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: abc\r\n\r\n"}, k, R::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"}, k, R::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", std::string(70000, 'x')},
         k,
         R::kRefused},
        {{strFiller + std::string(nMax, 'a')}, k, R::kRefused},
        {{strFiller + std::string(nMax - strFiller.size() - 5, 'a') + "\r\n\r\n"}, k, R::kComplete},
        // Bytes after a NUL are dropped, so a head not complete before one is refused.
        {{strNul}, k, R::kRefused},
        {{std::string(" /a HTTP/1.1\r\n\r\n\0tail", 21)}, k, R::kComplete},
        {{std::string(" / HTTP/1.1\r\nX: \0\r\n", 20)}, k, R::kRefused},
        {{" / HTTP/1.1\nHost: x\n\n"}, k, R::kNeedMore}, // LF alone ends no line
    };
    for (const auto& c : cases) {
        CHttpRequestReader reader;
        EXPECT_EQ(Feed(reader, c.pieces, c.nChunk), c.state) << c.pieces[0].substr(0, 50);
    }
    CHttpRequestReader reader, nul;
    Feed(reader, {strBrowser}, 1);
    EXPECT_EQ(reader.Text(), strBrowser);
    Feed(nul, {strNul}, k);
    EXPECT_EQ(nul.Text(), " /a HTTP/1.1\r\nX: 1");
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
        // The first line that starts with the name in any case; never the request line.
        {strTwice, "Upgrade", "WebSocket"},
        {strTwice, "upgrade", "WebSocket"},
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

} // namespace
