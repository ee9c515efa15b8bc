// The test server over loopback where the socket matters: streams, resets, both families,
// a page answer's orderly end, the upgrade's close, the stop under load and the
// run's start and end. Sessions' bytes and HTTP routes are covered in memory (stream_test).
#include "server/http.h"
#include "server/websocket.h"
#include "testkit/loopback_server.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <set>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;

using ServerTest = LoopbackServerTest;

// Sockets open in this process.
int CountOpenSockets() {
    int nSockets = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        nSockets += std::filesystem::read_symlink(entry, ec).string().rfind("socket:", 0) == 0;
    return nSockets;
}

// A peer's receive buffer this small makes the server's sends come back short.
const int kSmallBuffer = 4096;

// By default the server listens on both families on one port. A page answer ends in
// order: a peer that sent more than its request and reads slowly still gets the whole
// answer and then the close, never a reset that destroys its tail. Peers are named as users
// write them, never in the IPv4-mapped IPv6 form.
TEST_F(ServerTest, ServesBothFamiliesEndsPageAnswersInOrderAndNamesPeersPlainly) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {"127.0.0.1", "::1"}}, {"::1", {"::1"}}, {"[::1]", {"::1"}}};
    const std::string& strBody = m_pTexts->strEchartsJs;
    const std::string strAnswer =
        BuildHttpResponseHead("text/javascript", "utf-8", static_cast<int>(strBody.size())) +
        strBody;
    std::multiset<std::string> expected, peers;
    for (const auto& [pszListen, vecPeers] : cases) {
        CServerSettings settings = Settings(0);
        settings.strListenAddr = pszListen;
        ASSERT_TRUE(Listen(settings)) << pszListen;
        for (const std::string& strPeer : vecPeers) {
            CRawSocket peer;
            ASSERT_TRUE(peer.Connect(m_nPort, strPeer, "", kSmallBuffer)) << strPeer;
            ASSERT_TRUE(peer.Send("GET /echarts.min.js HTTP/1.1\r\n\r\n" + std::string(4096, 'x')));
            bool bClosed = false;
            const std::string strGot = peer.Recv(SIZE_MAX, &bClosed);
            EXPECT_TRUE(bClosed && strGot == strAnswer)
                << strGot.size() << " of " << strAnswer.size();
            const std::string strPort = std::to_string(peer.LocalPort());
            expected.insert(strPeer == "::1" ? "[::1]:" + strPort : strPeer + ":" + strPort);
        } // the server waited for this close
    }
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_sessionEnds.size() == expected.size(); }));
    for (const CSessionRecord& record : m_events.Get(m_events.m_sessionEnds))
        peers.insert(record.strPeer);
    EXPECT_EQ(peers, expected);
}

// A second run cannot start while one exists. Peers that close at once, after part of a
// token or with a reset mid-stream leave the registry; an ended upload leaves nothing in
// later downloads; a stop ends every session, whatever it is doing, sockets and listener
// included, before the run reports its end.
TEST_F(ServerTest, EarlyEndsAndAStopEndEverySessionCleanlyAndDownloadsCarryNoUpload) {
    EXPECT_TRUE(m_server.IsServerRunActive());
    EXPECT_FALSE(m_server.StartServer(Settings(0)));
    const int nSocketsBefore = CountOpenSockets(); // the listening sockets among them
    std::string strMarked;
    while (strMarked.size() < (1u << 20))
        strMarked += "<upload marker 7f3a9c>";
    const size_t kEarly = 200;
    for (size_t i = 0; i < kEarly; ++i) {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort) && (i % 2 == 0 || peer.Send("EST")));
    }
    {
        CRawSocket marked, download, upload;
        ASSERT_TRUE(marked.Connect(m_nPort) &&
                    marked.Send(std::string("EST") + '\x00' + strMarked));
        ASSERT_TRUE(download.Connect(m_nPort) && download.Send(std::string("EST") + '\x01'));
        ASSERT_TRUE(upload.Connect(m_nPort) &&
                    upload.Send(std::string("EST") + '\x00' + std::string(65536, 'u')));
        ASSERT_FALSE(download.Recv(65536).empty());
        ASSERT_TRUE(WaitSessions(3));
        download.Reset();
        upload.Reset();
    }
    // Sessions may start after their connects return: wait for their end records.
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_sessionEnds.size() == kEarly + 3; }));
    uint64_t nRecv = 0, nSend = 0;
    auto fnTake = [&] {
        uint64_t r = 0, s = 0;
        m_engine.TakeCounters(r, s);
        nRecv += r;
        nSend += s;
    };
    fnTake();
    nRecv = nSend = 0; // what the early sessions left

    // Besides the streams: a silent peer, a head in progress, a page answer whose peer
    // never closes (the server waits for its close), a WebSocket stream.
    const std::vector<std::string> others = {
        "", "GET / HTTP/1.1\r\nHost", "GET /buttons.css HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
        "dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"};
    const size_t kDownloads = 300, kUploads = 30;
    std::vector<CRawSocket> peers(kDownloads + kUploads + others.size());
    for (size_t i = 0; i < peers.size(); ++i) {
        ASSERT_TRUE(peers[i].Connect(m_nPort));
        if (i < kDownloads) {
            ASSERT_TRUE(peers[i].Send(std::string("EST") + '\x01'));
            const std::string strGot = peers[i].Recv(65536);
            ASSERT_EQ(strGot.size(), 65536u);
            EXPECT_EQ(strGot.find("upload marker"), std::string::npos) << "download " << i;
        } else if (i < kDownloads + kUploads) {
            ASSERT_TRUE(peers[i].Send(std::string("EST") + '\x00' + std::string(65536, 'u')));
        } else {
            ASSERT_TRUE(peers[i].Send(others[i - kDownloads - kUploads]));
        }
    }
    ASSERT_TRUE(WaitSessions(peers.size()));
    ASSERT_TRUE(WaitUntil([&] { return fnTake(), nRecv == kUploads * 65536; }, 20s, 1));

    m_server.StopServer();
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == 1; }));
    EXPECT_EQ(m_events.m_nSessionsAtStop, 0u);
    EXPECT_TRUE(m_events.Get(m_events.m_acceptErrors).empty()) << "a stop is not a failure";
    EXPECT_FALSE(m_server.IsServerListening());
    for (CRawSocket& peer : peers) {
        bool bClosed = false;
        peer.Recv(SIZE_MAX, &bClosed);
        EXPECT_TRUE(bClosed);
    }
    fnTake();
    EXPECT_EQ(nRecv, kUploads * 65536);
    size_t nDownloads = 0, nUploads = 0;
    uint64_t nStreamed = 0;
    const std::vector<CSessionRecord> ends = m_events.Get(m_events.m_sessionEnds);
    for (const CSessionRecord& record : std::vector(ends.begin() + kEarly + 3, ends.end())) {
        EXPECT_EQ(record.strPeer.rfind("127.0.0.1:", 0), 0u) << record.strPeer;
        const std::string strMode = record.pszMode;
        nDownloads += strMode == "download" && record.nBytes >= 65536;
        nStreamed += strMode == "download" || strMode == "websocket" ? record.nBytes : 0;
        nUploads += strMode == "upload" && record.nBytes == 65536;
    }
    EXPECT_EQ(nDownloads, kDownloads);
    EXPECT_EQ(nUploads, kUploads);
    EXPECT_EQ(nStreamed, nSend) << "every byte a session reports is counted";
    peers.clear();
    EXPECT_EQ(CountOpenSockets(), nSocketsBefore - 2); // the listening socket and its UDP twin
}

// The frames are whole however short the server's sends come back. A masked close frame
// (status 1000) ends the stream at the next poll: the server answers with its own close,
// same code, after whole frames, and an orderly end. (A stop ends a stream: the test above.)
TEST_F(ServerTest, AnUpgradeStreamsFramesUntilTheClientsCloseFrame) {
    const std::string strUpgrade =
        "GET /not-routed HTTP/1.1\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    const std::string strHandshake = BuildWebSocketHandshake(strUpgrade); // its bytes: stream_test
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort, "127.0.0.1", "", kSmallBuffer) && peer.Send(strUpgrade));
    ASSERT_EQ(peer.Recv(strHandshake.size()), strHandshake);
    const std::string strFrame = std::string("\x81\x7E\xFE\x67") + g_szFramePayload;
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(peer.Recv(strFrame.size()), strFrame) << "frame " << i;
    ASSERT_TRUE(peer.Send("\x88\x82\x11\x22\x33\x44\x12\xCA"));
    bool bClosed = false;
    const std::string strTail = peer.Recv(64u << 20, &bClosed);
    EXPECT_TRUE(bClosed);
    ASSERT_GE(strTail.size(), 4u);
    EXPECT_EQ(strTail.substr(strTail.size() - 4), "\x88\x02\x03\xE8");
    EXPECT_EQ((strTail.size() - 4) % strFrame.size(), 0u) << "a frame was cut short";
    EXPECT_TRUE(WaitSessions(0));
}

// A run that cannot bind, or is stopped before its socket exists, still ends cleanly, and
// a new run can start afterwards.
TEST_F(ServerTest, ABindErrorOrAnEarlyStopEndsTheRunAndANewRunCanStart) {
    CLoopbackPort taken(true);
    ASSERT_NE(taken.Port(), 0);
    for (int i = 0; i < 21; ++i) {
        Stop();
        const int nStopped = m_events.Get(m_events.m_nServerStopped);
        ASSERT_TRUE(m_server.StartServer(Settings(i == 0 ? taken.Port() : 0)));
        if (i > 0)
            m_server.StopServer();
        ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == nStopped + 1; }));
        EXPECT_FALSE(m_server.IsServerListening());
        EXPECT_FALSE(m_server.IsServerRunActive());
        const auto errors = m_events.Get(m_events.m_serverErrors);
        ASSERT_EQ(errors.size(), 1u); // the bind error, once
        EXPECT_EQ(errors[0].rfind("(" + std::to_string(EADDRINUSE) + ")\xEF\xBC\x9A", 0), 0u)
            << errors[0];
        if (i == 0) {
            EXPECT_EQ(m_events.Get(m_events.m_nListenPort), 0);
        }
        ASSERT_TRUE(Listen(Settings(0)));
    }
}

} // namespace
