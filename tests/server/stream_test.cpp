// Request reading and header lookup, the writers and the session loop, all in memory:
// every send cut short at chosen points still puts whole frames, heads and bodies on the
// wire, a failing send ends the writer, and each first token leads to its own session.
#include "server/http.h"
#include "server/test_server.h"
#include "server/websocket.h"
#include "testkit/memory_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

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
    std::function<bool(CByteStream&)> fnWrite;
    std::string strExpected;
};

std::vector<CWriter> Writers() {
    static const std::string strBody(200000, 'b');
    return {
        {"frames",
         [](CByteStream& s) {
             return SendWebSocketFrame(g_nFramePayloadLen, s) &&
                    SendWebSocketFrame(g_nFramePayloadLen, s);
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
            EXPECT_TRUE(writer.fnWrite(stream)) << writer.pszName;
            EXPECT_TRUE(stream.m_strOutput == writer.strExpected)
                << writer.pszName << ": " << stream.m_strOutput.size() << " of "
                << writer.strExpected.size() << " bytes, cuts " << cuts.size();
        }
        for (size_t nCapacity : {size_t{0}, size_t{1}, writer.strExpected.size() - 1}) {
            CMemoryStream stream;
            stream.m_nSendCapacity = nCapacity;
            stream.m_vecSendCuts = {3};
            EXPECT_FALSE(writer.fnWrite(stream)) << writer.pszName << " capacity " << nCapacity;
            EXPECT_EQ(stream.m_strOutput.size(), nCapacity) << writer.pszName;
        }
    }
}

// One session over memory; the peer closes once its input is read.
struct CSessionResult {
    std::string strOutput;
    uint64_t nRecv = 0, nSend = 0;
};

CSessionResult Serve(const std::string& strInput, size_t nRecvChunk, size_t nSendCapacity) {
    CKestrunEngine engine;
    CPageTexts texts{"<html>page</html>", "css", "js", "", ""};
    CMemoryStream stream(strInput, nRecvChunk);
    stream.m_nSendCapacity = nSendCapacity;
    ServeConnection(engine, stream, texts);
    CSessionResult result{stream.m_strOutput};
    engine.TakeCounters(result.nRecv, result.nSend);
    return result;
}

TEST(SessionLoop, EachFirstTokenLeadsToItsSession) {
    const std::string strUpload(100003, 'u');
    const std::string strPage =
        BuildHttpResponseHead("text/html", "utf-8", 17) + "<html>page</html>";
    const std::string strHandshake = BuildWebSocketHandshake(kUpgrade);
    // Receives larger than the sender's blocks, however the bytes arrive, count every byte
    // once: several MiB in pieces from one byte past a block to more than any receive takes.
    const std::string strBig(3 * 1048576 + 17, 'b');
    const std::vector<size_t> big = {8193, 65536, 200000, 4 << 20};
    struct {
        const char* pszName;
        std::string strInput;
        size_t nSendCapacity;
        std::string strOutput; // what the session sends, or its start for a stream
        uint64_t nRecv, nSend;
        // The first receive is the token: chunks of at least three bytes keep it whole.
        std::vector<size_t> chunks = {3, 7, 65536};
    } cases[] = {
        {"upload counts what follows the mode byte", "EST" + std::string(1, '\0') + strUpload,
         1 << 20, "", strUpload.size(), 0},
        {"other tokens are drained without the token", "XYZ" + strUpload, 1 << 20, "",
         strUpload.size(), 0},
        {"a big upload", "EST" + std::string(1, '\0') + strBig, 1 << 20, "", strBig.size(), 0, big},
        {"a big drain", "XYZ" + strBig, 1 << 20, "", strBig.size(), 0, big},
        {"a token split by the network is no \"EST\": drained",
         "EST\x01" + std::string(5000, 'x'),
         1 << 20,
         "",
         5002,
         0,
         {2}},
        {"an unknown mode byte ends it", "EST\x02" + strUpload, 1 << 20, "", 0, 0},
        {"a bare token ends it", "EST", 1 << 20, "", 0, 0},
        {"download sends blocks until the send fails", "est\x01", 3 * 8192 + 100, "", 0,
         3 * 8192 + 100},
        {"a page request is answered", "GET / HTTP/1.1\r\n\r\n", 1 << 20, strPage, 0, 0},
        {"an unknown path gets nothing", "GET /nothing HTTP/1.1\r\n\r\n", 1 << 20, "", 0, 0},
        {"a request cut off by the close gets nothing", "GET / HTTP/1.1\r\nHost:", 1 << 20, "", 0,
         0},
        {"a 64 KiB head is refused", "GET / HTTP/1.1\r\nX: " + std::string(70000, 'a') + "\r\n\r\n",
         1 << 20, "", 0, 0},
        {"an upgrade streams frames", kUpgrade, strHandshake.size() + 2 * kFrame.size() + 5,
         strHandshake + kFrame + kFrame, 0, 2 * static_cast<uint64_t>(g_nFramePayloadLen)},
    };
    for (const auto& c : cases) {
        for (size_t nChunk : c.chunks) {
            SCOPED_TRACE(std::string(c.pszName) + ", chunk " + std::to_string(nChunk));
            CSessionResult r = Serve(c.strInput, nChunk, c.nSendCapacity);
            EXPECT_EQ(r.nRecv, c.nRecv);
            EXPECT_EQ(r.nSend, c.nSend);
            EXPECT_EQ(r.strOutput.compare(0, c.strOutput.size(), c.strOutput), 0);
            if (c.nSend == 0) {
                EXPECT_EQ(r.strOutput.size(), c.strOutput.size());
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
        // Only the exact field name counts; a value without digits means no body.
        {{" / HTTP/1.1\r\ncontent-length: 5\r\n\r\n"}, k, R::kComplete},
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

} // namespace
