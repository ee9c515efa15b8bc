// The test server over loopback where the socket matters: streams, resets, threads running
// out, the upgrade's close and stop, the stop under load and the run's start and end. The
// sessions' byte handling and the HTTP routes are covered in memory (stream_test.cpp).
#include "server/download_pump.h"
#include "server/websocket.h"
#include "testkit/loopback_server.h"
#include "testkit/xvfb_display.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

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

// Peers that close at once, after part of a token or with a reset mid-stream all leave the
// registry, and the next peer is served.
TEST_F(ServerTest, PeersThatCloseEarlyOrResetLeaveTheRegistryEmpty) {
    for (int i = 0; i < 200; ++i) {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort));
        if (i % 2 == 0)
            peer.Send("EST");
    }
    ASSERT_TRUE(WaitSessions(0));
    CRawSocket download, upload;
    ASSERT_TRUE(download.Connect(m_nPort));
    ASSERT_TRUE(upload.Connect(m_nPort));
    ASSERT_TRUE(download.Send(std::string("EST") + '\x01'));
    ASSERT_TRUE(upload.Send(std::string("EST") + '\x00' + std::string(65536, 'u')));
    ASSERT_FALSE(download.Recv(65536).empty());
    ASSERT_TRUE(WaitSessions(2));
    download.Reset();
    upload.Reset();
    ASSERT_TRUE(WaitSessions(0));
    CRawSocket again;
    ASSERT_TRUE(again.Connect(m_nPort));
    ASSERT_TRUE(again.Send(std::string("EST") + '\x01'));
    EXPECT_FALSE(again.Recv(8192).empty());
}

TEST_F(ServerTest, AConnectionWithoutAThreadIsClosedAndLeavesTheRegistry) {
    m_server.SetWorkerLimit(2); // the server thread and one session
    CRawSocket first, second;
    ASSERT_TRUE(first.Connect(m_nPort));
    ASSERT_TRUE(first.Send(std::string("EST") + '\x00' + "upload"));
    ASSERT_TRUE(WaitSessions(1));
    ASSERT_TRUE(second.Connect(m_nPort));
    second.Send(std::string("EST") + '\x01');
    bool bClosed = false;
    EXPECT_EQ(second.Recv(1, &bClosed), "");
    EXPECT_TRUE(bClosed) << "the connection without a session must be closed";
    EXPECT_TRUE(WaitSessions(1)); // only the served one is registered
    m_server.SetWorkerLimit(0);
    // The stop in TearDown still ends: nothing is left behind in the registry.
}

// A second run cannot start while one exists; an ended upload leaves nothing in later
// downloads; downloads keep no thread each once handed over; a stop under load ends every
// session, sockets and listener included.
TEST_F(ServerTest, DownloadsKeepNoThreadEachCarryNoUploadAndAStopEndsEverySessionCleanly) {
    EXPECT_TRUE(m_server.IsServerRunActive());
    EXPECT_FALSE(m_server.StartServer(Settings(0)));
    EXPECT_EQ(m_events.Get(m_events.m_nServerStarted), 1);
    const int nSocketsBefore = CountOpenSockets(); // the listening socket among them
    std::string strMarked;
    while (strMarked.size() < (1u << 20))
        strMarked += "<upload marker 7f3a9c>";
    {
        CRawSocket up;
        ASSERT_TRUE(up.Connect(m_nPort) && up.Send(std::string("EST") + '\x00' + strMarked));
    }
    // Its session may start after the connect returns: wait for its end record.
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_sessionEnds.size() == 1; }));
    uint64_t nRecv = 0, nSend = 0;
    auto fnTake = [&] {
        uint64_t r = 0, s = 0;
        m_engine.TakeCounters(r, s);
        nRecv += r;
        nSend += s;
    };
    fnTake();
    nRecv = nSend = 0; // what the marked upload left

    const size_t kDownloads = 300, kUploads = 30;
    std::vector<std::unique_ptr<CRawSocket>> peers;
    for (size_t i = 0; i < kDownloads + kUploads; ++i) {
        peers.push_back(std::make_unique<CRawSocket>());
        ASSERT_TRUE(peers.back()->Connect(m_nPort));
        if (i < kDownloads) {
            ASSERT_TRUE(peers.back()->Send(std::string("EST") + '\x01'));
            const std::string strGot = peers.back()->Recv(65536);
            ASSERT_EQ(strGot.size(), 65536u);
            EXPECT_EQ(strGot.find("upload marker"), std::string::npos) << "download " << i;
            if (i + 1 == kDownloads) {
                // Handed over once they have said what they are: only the server's thread stays.
                ASSERT_TRUE(WaitSessions(kDownloads));
                EXPECT_TRUE(WaitUntil([&] { return m_server.WorkerCount() == 1; }, 20s, 1))
                    << m_server.WorkerCount();
            }
        } else {
            ASSERT_TRUE(peers.back()->Send(std::string("EST") + '\x00' + std::string(65536, 'u')));
        }
    }
    ASSERT_TRUE(WaitSessions(kDownloads + kUploads));
    ASSERT_TRUE(WaitUntil([&] { return fnTake(), nRecv == kUploads * 65536; }, 20s, 1));

    m_server.StopServer();
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == 1; }));
    EXPECT_EQ(m_events.m_nSessionsAtStop, 0u);
    EXPECT_TRUE(m_events.Get(m_events.m_acceptErrors).empty()) << "a stop is not a failure";
    EXPECT_FALSE(m_server.IsServerListening());
    for (auto& pPeer : peers) {
        bool bClosed = false;
        pPeer->Recv(SIZE_MAX, &bClosed);
        EXPECT_TRUE(bClosed);
    }
    fnTake();
    EXPECT_EQ(nRecv, kUploads * 65536);
    size_t nDownloads = 0, nUploads = 0;
    uint64_t nDownloaded = 0;
    for (const CSessionRecord& record : m_events.Get(m_events.m_sessionEnds)) {
        EXPECT_EQ(record.strPeer.rfind("127.0.0.1:", 0), 0u) << record.strPeer;
        const std::string strMode = record.pszMode;
        nDownloads += strMode == "download" && record.nBytes >= 65536;
        nDownloaded += strMode == "download" ? record.nBytes : 0;
        nUploads += strMode == "upload" && record.nBytes == 65536;
    }
    EXPECT_EQ(nDownloads, kDownloads);
    EXPECT_EQ(nUploads, kUploads);
    EXPECT_EQ(nDownloaded, nSend) << "the pump counts every byte it reports";
    peers.clear();
    EXPECT_EQ(CountOpenSockets(), nSocketsBefore - 1);
}

TEST_F(ServerTest, AnUpgradeStreamsFramesUntilTheClientsCloseFrameOrAStop) {
    CRawSocket peer, stopped;
    const std::string strUpgrade =
        "GET /not-routed HTTP/1.1\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    const std::string strHandshake =
        BuildWebSocketHandshake(strUpgrade); // its bytes: websocket_test
    for (CRawSocket* pPeer : {&peer, &stopped}) {
        ASSERT_TRUE(pPeer->Connect(m_nPort));
        ASSERT_TRUE(pPeer->Send(strUpgrade));
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

// The pump on its own, with socket pairs as peers: a lane for each busy download, every
// end reported once with the bytes the engine counted, and lanes that fall idle close and
// open again for the next download.
TEST(DownloadPump, IdleLanesCloseAndTheNextDownloadOpensOneAgain) {
    CKestrunEngine engine;
    CDownloadPump pump(engine);
    std::atomic<int> nEnded{0}, nShort{0};
    std::atomic<uint64_t> nEndedBytes{0};
    ASSERT_TRUE(pump.Start(0, [&](const CPumpedDownload& download) {
        SOCKET s = download.s;
        CloseSocket(s);
        nShort += download.nBytes < 8192 ? 1 : 0;
        nEndedBytes += download.nBytes;
        ++nEnded;
    }));
    auto fnAdd = [&](int(&pair)[2]) {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ASSERT_TRUE(pump.Add(CPumpedDownload{pair[0], "pair", std::chrono::steady_clock::now()}));
        char block[8192];
        ASSERT_GT(::recv(pair[1], block, sizeof(block), MSG_WAITALL), 0);
    };
    int pairs[4][2];
    for (int i = 0; i < 3; ++i)
        fnAdd(pairs[i]);
    EXPECT_EQ(pump.LaneCount(), 3u);
    for (int i = 0; i < 3; ++i)
        ::close(pairs[i][1]);
    EXPECT_TRUE(WaitUntil([&] { return nEnded == 3 && pump.LaneCount() == 0; }, 20s));
    EXPECT_EQ(pump.Count(), 0u);
    fnAdd(pairs[3]);
    EXPECT_EQ(pump.LaneCount(), 1u);
    pump.Stop();
    ::close(pairs[3][1]);
    EXPECT_EQ(nEnded, 4);
    EXPECT_EQ(nShort, 0);
    uint64_t nRecv = 0, nSend = 0;
    engine.TakeCounters(nRecv, nSend);
    EXPECT_EQ(nSend, nEndedBytes);
}

// A run that cannot bind, or is stopped before its socket exists, still ends cleanly, and
// the engine can run again afterwards.
TEST(ServerStart, ABindErrorOrAnEarlyStopEndsTheRunAndANewRunCanStart) {
    CLoopbackPort taken(true);
    ASSERT_NE(taken.Port(), 0);
    for (int i = 0; i < 21; ++i) {
        CRecordingEvents events;
        CKestrunEngine engine(&events);
        CTestServer server(engine);
        CServerSettings settings;
        settings.strListenAddr = "127.0.0.1";
        settings.nListenPort = i == 0 ? taken.Port() : 0;
        ASSERT_TRUE(server.StartServer(settings));
        if (i > 0)
            server.StopServer();
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 1; }));
        EXPECT_FALSE(server.IsServerListening());
        EXPECT_FALSE(server.IsServerRunActive());
        const auto errors = events.Get(events.m_serverErrors);
        ASSERT_EQ(errors.size(), i == 0 ? 1u : 0u);
        if (i == 0) {
            EXPECT_EQ(errors[0].rfind("(" + std::to_string(EADDRINUSE) + ")\xEF\xBC\x9A", 0), 0u)
                << errors[0];
            EXPECT_EQ(events.Get(events.m_nListenPort), 0);
        }
        settings.nListenPort = 0;
        ASSERT_TRUE(server.StartServer(settings));
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nListenPort != 0; }));
        server.StopServer();
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 2; }));
    }
}

} // namespace
