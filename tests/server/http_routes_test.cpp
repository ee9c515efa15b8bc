// The routes of the in-process server over loopback, driven with raw sockets: exact answers,
// the bytes the engine counted, kept-alive connections, the upgrade, cut and idle peers.
#include "testkit/loopback_server.h"

#include "engine/send_pattern.h"
#include "server/websocket.h"

#include <sys/socket.h>

#include <string>
#include <utility>

namespace {

using CCounts = std::pair<uint64_t, uint64_t>; // received, sent

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
    return "POST " + strPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + strFields +
           "\r\n" + strBody;
}

const std::string kBadSize = Text("400 Bad Request", "size must be a whole number of bytes\n");
const std::string kSizeTooLarge =
    Text("413 Content Too Large", "size may be at most 1073741824 bytes\n");
const std::string kUpgrade =
    "GET /not-routed HTTP/1.1\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

} // namespace

class HttpRoutes : public LoopbackServerTest {
protected:
    // Sends a request (and, when asked, the end of the sending side), reads until the
    // server closes, waits for the session to end.
    std::string Exchange(const std::string& strRequest, bool bShutdown = false) {
        CRawSocket peer;
        EXPECT_TRUE(peer.Connect(m_nPort));
        peer.Send(strRequest); // a refused request may be closed before it is all sent
        if (bShutdown)
            ::shutdown(peer.Fd(), SHUT_WR);
        bool bClosed = false;
        std::string strAnswer = peer.Recv(64u << 20, &bClosed);
        EXPECT_TRUE(bClosed) << strRequest.substr(0, 40);
        EXPECT_TRUE(WaitSessions(0));
        return strAnswer;
    }
    // The bytes the engine counted since the last call.
    CCounts Counted() {
        CCounts counts;
        m_engine.TakeCounters(counts.first, counts.second);
        return counts;
    }
};

TEST_F(HttpRoutes, EachRequestGetsItsAnswerItsBytesCountedOnceAndTheClose) {
    const CPageTexts& t = *m_pTexts;
    ASSERT_FALSE(t.strFullHtml.empty() || t.strFullJs.empty() || t.strButtonsCss.empty());
    const std::string strFavicon = Page("text/html", "", "gb2312");
    // The NUL drops the blank line that follows it in its chunk; the filler after it has
    // no blank line, so that request is refused at the size limit instead of answered.
    const std::string strNulCut =
        std::string("GET /favicon.ico HTTP/1.1\r\nX: 1\0\r\n\r\n", 35) + std::string(70000, 'x');
    const struct {
        std::string strRequest, strAnswer;
        uint64_t nRecv, nSend;
    } cases[] = {
        {Get("/ping"), Text("200 OK", ""), 0, 0},
        {Get("/ping?r=0.5"), Text("200 OK", ""), 0, 0},
        {Get("/download?size=1000"), Download(1000), 0, 1000},
        {Get("/DOWNLOAD?r=1&size=3000000"), Download(3000000), 0, 3000000},
        {Get("/download?size=0"), Download(0), 0, 0},
        {Get("/download?size=00012"), Download(12), 0, 12},
        {Get("/download?size=abc"), kBadSize, 0, 0},
        {Get("/download?size="), kBadSize, 0, 0},
        {Get("/download?size=-5"), kBadSize, 0, 0},
        {Get("/download?size=+5"), kBadSize, 0, 0},
        {Get("/download?size=1e6"), kBadSize, 0, 0},
        {Get("/download?size=1073741825"), kSizeTooLarge, 0, 0},
        {Get("/download?size=99999999999999999999999"), kSizeTooLarge, 0, 0},
        {Post("/upload", "Content-Length: 5\r\n", "hello"), Text("200 OK", "5\n"), 5, 0},
        {Post("/Upload?r=2", "Content-Length: 0\r\n"), Text("200 OK", "0\n"), 0, 0},
        {Post("/upload", ""), Text("400 Bad Request", "an upload needs a Content-Length\n"), 0, 0},
        {Post("/upload", "Content-Length: 5x\r\n", "hello"),
         Text("400 Bad Request", "Content-Length must be a whole number of bytes\n"), 0, 0},
        {Post("/upload", "Content-Length: 1073741825\r\n"),
         Text("413 Content Too Large", "an upload may have at most 1073741824 bytes\n"), 0, 0},
        // Uploads elsewhere and GETs of /upload go unanswered, like unknown pages.
        {Post("/", "Content-Length: 5\r\n", "hello"), "", 0, 0},
        {Get("/upload"), "", 0, 0},
        // The pages end their connection even when asked to keep it.
        {Get("/full"), Page("text/html", t.strFullHtml), 0, 0},
        {Get("/FULL?seconds=2"), Page("text/html", t.strFullHtml), 0, 0},
        {Get("/full.js"), Page("text/javascript", t.strFullJs), 0, 0},
        {Get("/BUTTONS.CSS", "keep-alive"), Page("text/css", t.strButtonsCss), 0, 0},
        {Get("/buttons.css"), Page("text/css", t.strButtonsCss), 0, 0},
        {Get("/Echarts.Min.Js", "keep-alive"), Page("text/javascript", t.strEchartsJs), 0, 0},
        {Get("/favicon.ico", "keep-alive"), strFavicon, 0, 0},
        {"get /favicon.ico HTTP/1.1\r\n\r\n", strFavicon, 0, 0},
        {"GET /favicon.ico HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", strFavicon, 0, 0},
        {"GET /favicon.ico HTTP/1.1\r\nUpgrade: websocket\r\nConnection: \r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
         strFavicon, 0, 0},
        {Get("/full.js?v=1"), "", 0, 0},
        {Get("/echarts.min.js?v=1", "keep-alive"), "", 0, 0},
        {Get("/index.html", "keep-alive"), "", 0, 0},
        {Get("//"), "", 0, 0},
        {Get("/buttons.cs"), "", 0, 0},
        {"GET / HTTP/1.1\r\nX-Filler: " + std::string(70000, 'a') + "\r\n\r\n", "", 0, 0},
        {strNulCut, "", 0, 0},
    };
    EXPECT_EQ(Counted(), CCounts(0, 0));
    for (int nRound = 0; nRound < 5; ++nRound) {
        for (const auto& c : cases) {
            EXPECT_TRUE(Exchange(c.strRequest) == c.strAnswer) << c.strRequest.substr(0, 60);
            EXPECT_EQ(Counted(), CCounts(c.nRecv, c.nSend)) << c.strRequest.substr(0, 60);
        }
    }
    // Not a request line: drained until the peer's end, the bytes read to tell counted too.
    for (const std::string& strJunk : {"POSX" + std::string(1000, 'x'), std::string("POST")}) {
        EXPECT_EQ(Exchange(strJunk, true), "");
        EXPECT_EQ(Counted(), CCounts(strJunk.size() - 3, 0)) << strJunk.size();
    }
}

TEST_F(HttpRoutes, AnUpgradeStreamsFramesUntilTheClientsCloseFrameOrAStop) {
    CRawSocket peer, stopped;
    const std::string strHandshake = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                     "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                                     "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    for (CRawSocket* pPeer : {&peer, &stopped}) {
        ASSERT_TRUE(pPeer->Connect(m_nPort));
        ASSERT_TRUE(pPeer->Send(kUpgrade));
        ASSERT_EQ(pPeer->Recv(strHandshake.size()), strHandshake);
    }
    EXPECT_EQ(m_server.ServerSessionCount(), 2u);
    const std::string strFrame = std::string("\x81\x7E\xFE\x67") + g_szFramePayload;
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(peer.Recv(strFrame.size()), strFrame) << "frame " << i;
    // A masked close frame (status 1000) ends the stream at the next poll: the server
    // answers with its own close, same code, after whole frames, and an orderly end.
    ASSERT_TRUE(peer.Send("\x88\x82\x11\x22\x33\x44\x12\xCA"));
    bool bClosed = false;
    const std::string strTail = peer.Recv(64u << 20, &bClosed);
    EXPECT_TRUE(bClosed);
    ASSERT_GE(strTail.size(), 4u);
    EXPECT_EQ(strTail.substr(strTail.size() - 4), "\x88\x02\x03\xE8");
    EXPECT_EQ((strTail.size() - 4) % strFrame.size(), 0u) << "a frame was cut short";
    EXPECT_TRUE(WaitSessions(1));
    m_server.StopServer();
    stopped.Recv(64u << 20, &bClosed);
    EXPECT_TRUE(bClosed) << "a stop must end a streaming session";
    EXPECT_TRUE(WaitSessions(0));
}

TEST_F(HttpRoutes, AConnectionCarriesRequestsUntilAPageRequestOrAClose) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    // Two requests in one packet: the second waits in the reader, not lost.
    ASSERT_TRUE(peer.Send(Get("/ping", "keep-alive") + Get("/download?size=70000", "keep-alive")));
    const std::string strPing = Text("200 OK", "", "keep-alive");
    const std::string strDownload = Download(70000, "keep-alive");
    EXPECT_TRUE(peer.Recv(strPing.size() + strDownload.size()) == strPing + strDownload);
    // A body that arrives in pieces, then the next request right behind it.
    const std::string strBody(300000, 'u');
    ASSERT_TRUE(peer.Send("POST /upload HTTP/1.1\r\nContent-Length: 300000\r\n\r\n" +
                          strBody.substr(0, 1000)));
    ASSERT_TRUE(peer.Send(strBody.substr(1000) + Get("/ping", "keep-alive")));
    const std::string strUploaded = Text("200 OK", "300000\n", "keep-alive");
    EXPECT_EQ(peer.Recv(strUploaded.size() + strPing.size()), strUploaded + strPing);
    // A page request ends the connection as it always has.
    ASSERT_TRUE(peer.Send(Get("/", "keep-alive")));
    bool bClosed = false;
    const std::string strPage = peer.Recv(1 << 20, &bClosed);
    EXPECT_TRUE(bClosed);
    EXPECT_EQ(strPage, Page("text/html", m_pTexts->strPageHtml));
    EXPECT_TRUE(WaitSessions(0));
    EXPECT_EQ(Counted(), CCounts(300000, 70000));
}

TEST_F(HttpRoutes, APeerThatStopsMidBodyHasWhatArrivedCounted) {
    {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort));
        ASSERT_TRUE(
            peer.Send(Post("/upload", "Content-Length: 1000000\r\n", std::string(4321, 'b'))));
        ASSERT_TRUE(WaitSessions(1));
    }
    EXPECT_TRUE(WaitSessions(0));
    EXPECT_EQ(Counted(), CCounts(4321, 0));
    {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort));
        ASSERT_TRUE(peer.Send(Get("/download?size=1073741824")));
        ASSERT_EQ(peer.Recv(5u << 20).size(), 5u << 20);
        peer.Reset();
    }
    EXPECT_TRUE(WaitSessions(0));
    const auto counts = Counted();
    EXPECT_EQ(counts.first, 0u);
    EXPECT_GE(counts.second, (5u << 20) - 200u); // the head is not counted
    EXPECT_LT(counts.second, 1u << 30);
}

class HttpRoutesIdle : public HttpRoutes {
protected:
    HttpRoutesIdle() { m_nIdleTimeout = 1; }
};

TEST_F(HttpRoutesIdle, StalledPeersAreClosedAfterTheIdleTimeout) {
    CRawSocket upload, kept, download;
    ASSERT_TRUE(upload.Connect(m_nPort) && kept.Connect(m_nPort) && download.Connect(m_nPort));
    ASSERT_TRUE(upload.Send(Post("/upload", "Content-Length: 1000\r\n", std::string(10, 'b'))));
    ASSERT_TRUE(kept.Send(Get("/ping", "keep-alive")));
    ASSERT_TRUE(download.Send(Get("/download?size=1073741824")));
    // Nothing more is sent or read: every session must end by itself.
    EXPECT_TRUE(WaitSessions(0));
    for (CRawSocket* pPeer : {&upload, &kept}) {
        bool bClosed = false;
        pPeer->Recv(1 << 20, &bClosed);
        EXPECT_TRUE(bClosed);
    }
    const auto counts = Counted();
    EXPECT_EQ(counts.first, 10u);
    EXPECT_GT(counts.second, 0u);
    EXPECT_LT(counts.second, 1u << 30);
}
