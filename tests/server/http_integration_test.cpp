// The browser side of the in-process server over loopback, driven with raw sockets.
#include "testkit/loopback_server.h"

#include "server/http.h"
#include "server/websocket.h"

#include <string>

namespace {

const char kUpgrade[] = "GET /not-routed HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: WebSocket\r\n"
                        "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                        "Sec-WebSocket-Version: 13\r\n\r\n";
const char kHandshake[] = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                          "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

std::string Get(const std::string& strPath, const std::string& strExtra = "") {
    return "GET " + strPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n" +
           strExtra + "\r\n";
}

} // namespace

using HttpOverLoopback = LoopbackServerTest;

TEST_F(HttpOverLoopback, EachRequestGetsItsAnswerAndTheClose) {
    const std::string strFavicon = BuildHttpResponseHead("text/html", "gb2312", 0);
    auto Whole = [](const char* pszType, const std::string& strBody) {
        return BuildHttpResponseHead(pszType, "utf-8", static_cast<int>(strBody.size())) + strBody;
    };
    // The NUL drops the blank line that follows it in its chunk; the filler after it has
    // no blank line, so that request is refused at the size limit instead of answered.
    const std::string strNulCut =
        std::string("GET /favicon.ico HTTP/1.1\r\nX: 1\0\r\n\r\n", 35) + std::string(70000, 'x');
    const struct {
        std::string strRequest, strAnswer;
    } cases[] = {
        {Get("/"), Whole("text/html", m_pTexts->strPageHtml)},
        {Get("/BUTTONS.CSS"), Whole("text/css", m_pTexts->strButtonsCss)},
        {Get("/echarts.min.js"), Whole("text/javascript", m_pTexts->strEchartsJs)},
        {Get("/favicon.ico"), strFavicon},
        {"get /favicon.ico HTTP/1.1\r\n\r\n", strFavicon},
        {Get("/favicon.ico", "Content-Length: 5\r\n") + "hello", strFavicon},
        {"GET /favicon.ico HTTP/1.1\r\nUpgrade: websocket\r\nConnection: \r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
         strFavicon},
        {Get("/echarts.min.js?v=1"), ""},
        {Get("/index.html"), ""},
        {Get("/", "X-Filler: " + std::string(70000, 'a') + "\r\n"), ""},
        {strNulCut, ""},
    };
    ASSERT_FALSE(m_pTexts->strPageHtml.empty());
    // Several rounds: every session must leave the registry.
    for (int nRound = 0; nRound < 5; ++nRound) {
        for (const auto& c : cases) {
            CRawSocket peer;
            ASSERT_TRUE(peer.Connect(m_nPort));
            peer.Send(c.strRequest); // a refused request may be closed before it is all sent
            bool bClosed = false;
            EXPECT_TRUE(peer.Recv(64u << 20, &bClosed) == c.strAnswer)
                << c.strRequest.substr(0, 40);
            EXPECT_TRUE(bClosed) << "the server did not close " << c.strRequest.substr(0, 40);
        }
    }
    EXPECT_TRUE(WaitSessions(0));
}

TEST_F(HttpOverLoopback, UpgradeStreamsFramesUntilTheClientsCloseFrame) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    ASSERT_TRUE(peer.Send(kUpgrade));
    EXPECT_EQ(peer.Recv(129), kHandshake);
    EXPECT_EQ(m_server.ServerSessionCount(), 1u);
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
    EXPECT_TRUE(WaitSessions(0));
}

TEST_F(HttpOverLoopback, AStopEndsAStreamingSession) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    ASSERT_TRUE(peer.Send(kUpgrade));
    ASSERT_EQ(peer.Recv(129), kHandshake);
    m_server.StopServer();
    bool bClosed = false;
    peer.Recv(64u << 20, &bClosed);
    EXPECT_TRUE(bClosed);
    EXPECT_TRUE(WaitSessions(0));
}
