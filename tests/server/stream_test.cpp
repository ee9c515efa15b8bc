// The writers and the session loop over an in-memory stream: every send cut short at
// chosen points still puts whole frames, heads and bodies on the wire, a failing send
// ends the writer, and each first token leads to its own kind of session.
#include "server/http.h"
#include "server/test_server.h"
#include "server/websocket.h"
#include "testkit/memory_stream.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const std::string kFrame = std::string("\x81\x7E\xFE\x67") + g_szFramePayload;

struct CWriter {
    const char* pszName;
    std::function<bool(CByteStream&)> fnWrite;
    std::string strExpected;
};

std::vector<CWriter> Writers() {
    static const std::string strBody(200000, 'b');
    const std::string strUpgrade = "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
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
        {"handshake",
         [strUpgrade](CByteStream& s) { return SendWebSocketHandshake(strUpgrade, s); },
         BuildWebSocketHandshake(strUpgrade)},
    };
}

TEST(ShortSends, AreContinuedUntilEverythingIsOnTheWire) {
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
    }
}

TEST(ShortSends, AFailingSendEndsTheWriterWithFalse) {
    for (const CWriter& writer : Writers()) {
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
    CSessionResult result;
    result.strOutput = stream.m_strOutput;
    engine.TakeCounters(result.nRecv, result.nSend);
    return result;
}

TEST(SessionLoop, EachFirstTokenLeadsToItsSession) {
    const std::string strUpload(100003, 'u');
    const std::string strPage =
        BuildHttpResponseHead("text/html", "utf-8", 17) + "<html>page</html>";
    const std::string strUpgrade =
        "GET /x HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    const std::string strHandshake = BuildWebSocketHandshake(strUpgrade);
    struct {
        const char* pszName;
        std::string strInput;
        size_t nSendCapacity;
        std::string strOutput; // what the session sends, or its start for a stream
        uint64_t nRecv, nSend;
    } cases[] = {
        {"upload counts what follows the mode byte", "EST" + std::string(1, '\0') + strUpload,
         1 << 20, "", strUpload.size(), 0},
        {"other tokens are drained without the token", "XYZ" + strUpload, 1 << 20, "",
         strUpload.size(), 0},
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
        {"an upgrade streams frames", strUpgrade, strHandshake.size() + 2 * kFrame.size() + 5,
         strHandshake + kFrame + kFrame, 0, 2 * static_cast<uint64_t>(g_nFramePayloadLen)},
    };
    for (const auto& c : cases) {
        // The first receive is the token: chunks of at least three bytes keep it whole.
        for (size_t nChunk : {size_t{3}, size_t{7}, size_t{65536}}) {
            CSessionResult r = Serve(c.strInput, nChunk, c.nSendCapacity);
            EXPECT_EQ(r.nRecv, c.nRecv) << c.pszName << ", chunk " << nChunk;
            EXPECT_EQ(r.nSend, c.nSend) << c.pszName << ", chunk " << nChunk;
            EXPECT_EQ(r.strOutput.compare(0, c.strOutput.size(), c.strOutput), 0)
                << c.pszName << ", chunk " << nChunk;
            if (c.nSend == 0) {
                EXPECT_EQ(r.strOutput.size(), c.strOutput.size()) << c.pszName;
            }
        }
    }
    // Receives larger than the sender's blocks, however the bytes arrive, count every
    // byte once: several MiB in pieces from one byte past a block to more than any
    // receive takes at once.
    const std::string strBig(3 * 1048576 + 17, 'b');
    for (const std::string& strHead : {"EST" + std::string(1, '\0'), std::string("XYZ")}) {
        for (size_t nChunk : {size_t{8193}, size_t{65536}, size_t{200000}, size_t{4 << 20}}) {
            CSessionResult big = Serve(strHead + strBig, nChunk, 1 << 20);
            EXPECT_EQ(big.nRecv, strBig.size()) << strHead << ", chunk " << nChunk;
            EXPECT_EQ(big.nSend, 0u);
        }
    }
    // A token split by the network is not "EST": the session drains it as an upload.
    CSessionResult r = Serve("EST\x01" + std::string(5000, 'x'), 2, 1 << 20);
    EXPECT_EQ(r.nRecv, 5002u);
    EXPECT_EQ(r.nSend, 0u);
}

} // namespace
