// The upgrade's parts (SHA-1 and Base64 with their published vectors, the upgrade test,
// handshake and frame headers), request reading, header lookup, the writers and the session
// loop, all in memory: each first token and route gets its exact answer, whole however the
// sends are cut short.
#include "engine/send_pattern.h"
#include "engine/udp_wire.h"
#include "server/base64.h"
#include "server/http.h"
#include "server/mzbyte.h"
#include "server/session.h"
#include "server/sha1.h"
#include "server/websocket.h"
#include "testkit/memory_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

std::string UpgradeRequest(const std::string& strUpgrade, const std::string& strConnection,
                           const std::string& strKey) {
    return "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: " + strUpgrade +
           "\r\nConnection: " + strConnection + "\r\nSec-WebSocket-Key: " + strKey +
           "\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

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

// A writer reports false when a send fails, even of the last byte, and for a frame longer
// than the payload text (nothing may be read past it, and nothing is sent).
TEST(Writers, ReportFalseOnAFailedSendOrAFrameTooLong) {
    CMemoryStream answer, handshake, frame;
    answer.m_nSendCapacity = BuildHttpResponseHead("text/html", "utf-8", 4).size() + 3;
    handshake.m_nSendCapacity = BuildWebSocketHandshake(kUpgrade).size() - 1;
    EXPECT_FALSE(RunSync(SendHttpResponse(answer, "body", 4, "utf-8", "text/html")));
    EXPECT_FALSE(RunSync(SendWebSocketHandshake(kUpgrade, handshake)));
    EXPECT_FALSE(RunSync(SendWebSocketFrame(g_nFramePayloadLen + 1, frame)));
    EXPECT_FALSE(RunSync(SendWebSocketFrame(-1, frame)));
    EXPECT_EQ(frame.m_strOutput, "");
}

// One session over memory, each receive and send cut to nChunk bytes; the peer closes once
// its input is read.
struct CSessionResult {
    std::string strOutput;
    uint64_t nRecv = 0, nSend = 0;
    bool bHeadClockStopped = false;
};

CSessionResult Serve(const std::string& strInput, size_t nChunk, size_t nSendCapacity) {
    CKestrunEngine engine;
    CPageTexts texts{"<html>page</html>", "css", "js", "<html>full</html>", "full js", "", "", ""};
    CMemoryStream stream(strInput, nChunk);
    stream.m_vecSendCuts.assign(4096, static_cast<long>(nChunk));
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
    const size_t kCut = 3 * 8192 + 100; // where a stream's sends start to fail
    const std::string strPage = Page("text/html", "<html>page</html>");
    // Receives larger than the sender's blocks, however the bytes arrive, count every byte
    // once: several MiB in pieces from one byte past a block to more than any receive takes.
    const std::string strBig(3 * 1048576 + 17, 'b');
    const std::vector<size_t> big = {8193, 65536, 200000, 4 << 20};
    const std::string strHead = Head("200 OK", "application/octet-stream", 1u << 30);
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
        {"est\x01", std::string(SendPattern(), kCut), 0, kCut, kCut, {1, 2, 65536}},
        {kUpgrade, strHandshake + kFrame + kFrame, 0, 2 * static_cast<uint64_t>(g_nFramePayloadLen),
         strHandshake.size() + 2 * kFrame.size() + 5},
        {Get("/download?size=1073741824"), strHead, 0, (5u << 20) - strHead.size(), 5u << 20},
        {strKept, strKeptAnswer, 300000, 70000},
        {Get("/ping"), Text("200 OK", ""), 0, 0},
        {Get("/DOWNLOAD?r=1&size=3000000"), Download(3000000), 0, 3000000},
        {Get("/download?size=0"), Download(0), 0, 0},
        {Get("/download?size=00012"), Download(12), 0, 12},
        {Get("/download?size="), strBadSize, 0, 0},
        {Get("/download?size=-5"), strBadSize, 0, 0},
        {Get("/download?size=+5"), strBadSize, 0, 0},
        {Get("/download?size=1e6"), strBadSize, 0, 0},
        {Get("/download?size=1073741825"), strTooLarge, 0, 0},
        {Get("/download?size=99999999999999999999999"), strTooLarge, 0, 0},
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
        {"get /favicon.ico HTTP/1.1\r\n\r\n", Page("text/html", "", "gb2312"), 0, 0},
        {Get("//"), "", 0, 0},
        {Get("/buttons.cs"), "", 0, 0},
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
    const std::pair<std::vector<std::string>, R::EState> cases[] = {
        {{strBrowser.substr(0, strBrowser.size() - 2)}, R::kNeedMore},
        {{strBrowser.substr(0, strBrowser.size() - 2), "\r\n"}, R::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel"}, R::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel", "lo"}, R::kComplete},
        // A request sent right behind one without a body lends it no length.
        {{" / HTTP/1.1\r\n\r\nPOST /x HTTP/1.1\r\nContent-Length: 500\r\n\r\n"}, R::kComplete},
        // The field name in any case counts; a value without digits means no body.
        {{" / HTTP/1.1\r\ncontent-length: 5\r\n\r\n"}, R::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: abc\r\n\r\n"}, R::kComplete},
        {{" / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"}, R::kNeedMore},
        {{" / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", std::string(70000, 'x')},
         R::kRefused},
        {{strFiller + std::string(nMax, 'a')}, R::kRefused},
        {{strFiller + std::string(nMax - strFiller.size() - 5, 'a') + "\r\n\r\n"}, R::kComplete},
        // Bytes after a NUL are dropped, so a head not complete before one is refused.
        {{strNul}, R::kRefused},
        {{std::string(" /a HTTP/1.1\r\n\r\n\0tail", 21)}, R::kComplete},
        {{std::string(" / HTTP/1.1\r\nX: \0\r\n", 20)}, R::kRefused},
        {{" / HTTP/1.1\nHost: x\n\n"}, R::kNeedMore}, // LF alone ends no line
    };
    for (const auto& [pieces, state] : cases) {
        CHttpRequestReader reader;
        EXPECT_EQ(Feed(reader, pieces, k), state) << pieces[0].substr(0, 50);
    }
    CHttpRequestReader reader, nul;
    EXPECT_EQ(Feed(reader, {strBrowser}, 1), R::kComplete);
    EXPECT_EQ(reader.Text(), strBrowser);
    Feed(nul, {strNul}, k);
    EXPECT_EQ(nul.Text(), " /a HTTP/1.1\r\nX: 1");
}

TEST(GetHeaderValue, PathAndFields) {
    const std::string strTwice = "GET / HTTP/1.1\r\nX-Upgrade: no\r\nUpgrade:  WebSocket \t\r\n"
                                 "Upgrade: second\r\n\r\n";
    const std::tuple<std::string, const char*, const char*> cases[] = {
        {"GET /buttons.css?v=2 HTTP/1.1\r\n\r\n", "PATH", "buttons.css?v=2"},
        {"GET /a%20b HTTP/1.1\r\n\r\n", "Path", "a%20b"},
        {"GET nothing\r\n\r\n", "path", ""},
        {"GET /nospace", "path", ""},
        // The first line that starts with the name in any case; never the request line.
        {strTwice, "Upgrade", "WebSocket"},
        // One character after the colon is always skipped.
        {"GET / HTTP/1.1\r\nSec-WebSocket-Key:abcd\r\n\r\n", "Sec-WebSocket-Key", "bcd"},
        {"GET / HTTP/1.1\r\nConnection: \r\n\r\n", "Connection", ""},
        {"GET / HTTP/1.1\r\nConnection: close", "Connection", ""},
        {"Connection: x", "Connection", ""},
    };
    for (const auto& [strRequest, pszName, pszValue] : cases)
        EXPECT_EQ(GetHeaderValue(strRequest, pszName), pszValue) << strRequest;
}

TEST(Sha1, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // From 56 bytes on the padding no longer fits in the first block; 64 bytes make it
        // take a whole block.
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(57, 'a'), "f08f24908d682555111be7ff6f004e78283d989a"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    };
    for (const auto& [strText, pszDigest] : cases) {
        unsigned char digest[kSha1DigestSize];
        Sha1Digest(strText.c_str(), digest);
        std::string strHex;
        for (unsigned char b : digest)
            strHex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
        EXPECT_EQ(strHex, pszDigest) << strText.size() << " bytes";
    }
}

TEST(Base64, KnownEncodings) {
    auto Encode = [](const char* p, size_t n) {
        return Base64Encode(reinterpret_cast<const unsigned char*>(p), n);
    };
    // The vectors are the prefixes of "foobar".
    const char* encodings[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (size_t n = 0; n < 7; ++n)
        EXPECT_EQ(Encode("foobar", n), encodings[n]) << n;
    EXPECT_EQ(Encode("\xFB\xFF\xBF", 3), "+/+/");
}

TEST(WebSocketUpgrade, NeedsAllThreeFieldsAndTheWordInAnyCase) {
    const std::pair<std::string, bool> cases[] = {
        {UpgradeRequest("websocket", "Upgrade", "abc="), true},
        {UpgradeRequest("WebSocket", "keep-alive, Upgrade", "abc="), true},
        {UpgradeRequest("WEBSOCKET", "anything", "abc="), true},
        {UpgradeRequest("websocket", "", "abc="), false},
        {UpgradeRequest("websocket", "Upgrade", ""), false},
        {UpgradeRequest("h2c", "Upgrade", "abc="), false},
        {UpgradeRequest("websockets", "Upgrade", "abc="), false},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", false},
        // Field names start a line and ignore case.
        {"GET / HTTP/1.1\r\nupgrade: websocket\r\nCONNECTION: Upgrade\r\nsec-websocket-key: "
         "abc=\r\n\r\n",
         true},
        {"GET / HTTP/1.1\r\nX-Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
         "abc=\r\n\r\n",
         false},
    };
    for (const auto& [strRequest, bUpgrade] : cases)
        EXPECT_EQ(IsWebSocketUpgrade(strRequest), bUpgrade) << strRequest;
}

TEST(WebSocketHandshake, ExactAnswerBytes) {
    EXPECT_EQ(BuildWebSocketHandshake(kUpgrade),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
    EXPECT_EQ(BuildWebSocketHandshake("GET / HTTP/1.1\r\n\r\n"), "");
}

TEST(WebSocketFrame, HeaderFormsAndPayload) {
    const std::pair<uint32_t, std::vector<int>> cases[] = {
        {0, {0x81, 0x00}},
        {125, {0x81, 0x7D}},
        {126, {0x81, 0x7E, 0x00, 0x7E}},
        {65535, {0x81, 0x7E, 0xFF, 0xFF}},
        {65536, {0x81, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {0x12345678, {0x81, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78}},
    };
    for (const auto& [nLen, bytes] : cases) {
        MzByte header;
        ASSERT_TRUE(BuildWebSocketFrameHeader(nLen, header));
        EXPECT_EQ(std::vector<int>(header.m_pData, header.m_pData + header.m_nSize), bytes) << nLen;
    }
    // The payload: digits and lower-case letters in turn.
    const std::string strPayload(g_szFramePayload),
        strAlphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(strPayload.substr(0, 36), strAlphabet);
    EXPECT_EQ(strPayload.find_first_not_of(strAlphabet), std::string::npos);
}

} // namespace
