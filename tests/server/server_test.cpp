// The test server over loopback where the socket matters: streams, resets, threads running
// out, the stop under load and the run's start and end. The sessions' byte handling is
// covered in memory (stream_test.cpp).
#include "server/download_pump.h"
#include "testkit/child_process.h"
#include "testkit/loopback_server.h"
#include "testkit/xvfb_display.h"

#include <cerrno>
#include <cstdint>
#include <atomic>
#include <memory>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class ServerTest : public LoopbackServerTest {
protected:
    uint64_t TakeSend() {
        uint64_t r = 0, s = 0;
        m_engine.TakeCounters(r, s);
        EXPECT_EQ(r, 0u);
        return s;
    }
};

TEST_F(ServerTest, DownloadStreamsBlocksAndCountsThem) {
    for (const char* pszToken : {"EST", "est", "Est"}) {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort));
        ASSERT_TRUE(peer.Send(std::string(pszToken) + '\x01'));
        bool bClosed = false;
        EXPECT_EQ(peer.Recv(1 << 20, &bClosed).size(), size_t{1} << 20) << pszToken;
        EXPECT_FALSE(bClosed);
        peer.Close();
        ASSERT_TRUE(WaitSessions(0));
        EXPECT_GE(TakeSend(), size_t{1} << 20) << pszToken;
    }
}

TEST_F(ServerTest, AResetPeerEndsItsSessionCleanly) {
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

TEST_F(ServerTest, ManyShortConnectionsLeaveTheRegistryEmpty) {
    for (int i = 0; i < 200; ++i) {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort));
        if (i % 2 == 0)
            peer.Send("EST");
    }
    ASSERT_TRUE(WaitSessions(0));
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

TEST_F(ServerTest, DownloadsKeepNoThreadEachAndAStopEndsEveryOne) {
    const size_t kPeers = 300;
    std::vector<std::unique_ptr<CRawSocket>> peers;
    for (size_t i = 0; i < kPeers; ++i) {
        peers.push_back(std::make_unique<CRawSocket>());
        ASSERT_TRUE(peers.back()->Connect(m_nPort));
        ASSERT_TRUE(peers.back()->Send(std::string("EST") + '\x01'));
    }
    for (auto& pPeer : peers)
        ASSERT_FALSE(pPeer->Recv(8192).empty());
    ASSERT_TRUE(WaitSessions(kPeers));
    // Handed over once they have said what they are: only the server's own thread stays.
    EXPECT_TRUE(WaitUntil([&] { return m_server.WorkerCount() == 1; }, 20s, 1))
        << m_server.WorkerCount();

    m_server.StopServer();
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == 1; }));
    EXPECT_EQ(m_events.m_nSessionsAtStop, 0u);
    for (auto& pPeer : peers) {
        bool bClosed = false;
        pPeer->Recv(SIZE_MAX, &bClosed);
        EXPECT_TRUE(bClosed);
    }
    const auto ends = m_events.Get(m_events.m_sessionEnds);
    ASSERT_EQ(ends.size(), kPeers);
    for (const CSessionRecord& record : ends) {
        EXPECT_STREQ(record.pszMode, "download");
        EXPECT_GE(record.nBytes, 8192u);
        EXPECT_NE(record.strPeer.rfind("127.0.0.1:", 0), std::string::npos);
    }
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

TEST_F(ServerTest, ASecondRunCannotStartWhileOneExists) {
    EXPECT_TRUE(m_server.IsServerRunActive());
    EXPECT_FALSE(m_server.StartServer(Settings(0)));
    EXPECT_EQ(m_events.Get(m_events.m_nServerStarted), 1);
}

// Sockets open in this process (pipes to child processes are not counted).
int CountOpenSockets() {
    int nSockets = 0;
    DIR* pDir = ::opendir("/proc/self/fd");
    while (dirent* pEntry = ::readdir(pDir)) {
        char szTarget[64] = {0};
        const std::string strPath = std::string("/proc/self/fd/") + pEntry->d_name;
        if (::readlink(strPath.c_str(), szTarget, sizeof(szTarget) - 1) > 0 &&
            std::string(szTarget).rfind("socket:", 0) == 0)
            ++nSockets;
    }
    ::closedir(pDir);
    return nSockets;
}

TEST_F(ServerTest, StopUnderLoadWaitsForEverySessionAndLeaksNothing) {
    const int nBefore = CountOpenSockets(); // the listening socket among them
    CChildProcess download, upload;
    const std::vector<std::string> args = {
        CliPath(), "-c", "127.0.0.1", "-p", std::to_string(m_nPort), "-P", "30", "-t", "0"};
    ASSERT_TRUE(download.Start(args));
    std::vector<std::string> uploadArgs = args;
    uploadArgs.push_back("--upload");
    ASSERT_TRUE(upload.Start(uploadArgs));
    ASSERT_TRUE(WaitSessions(60, 60s));
    // Streams are flowing both ways before the stop.
    uint64_t nRecv = 0, nSend = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            uint64_t r = 0, s = 0;
            m_engine.TakeCounters(r, s);
            nRecv += r;
            nSend += s;
            return nRecv > 0 && nSend > 0;
        },
        20s, 1));

    m_server.StopServer();
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == 1; }, 60s));
    EXPECT_EQ(m_events.m_nSessionsAtStop, 0u);
    EXPECT_TRUE(m_events.Get(m_events.m_acceptErrors).empty()) << "a stop is not a failure";
    // Every session socket and the listening socket are closed (the clients' latency
    // probes come and go, so the count is taken against the one before they started).
    EXPECT_EQ(CountOpenSockets(), nBefore - 1);
    EXPECT_FALSE(m_server.IsServerListening());

    // The peers see their connections end and finish by themselves, without an error.
    EXPECT_EQ(download.Wait(60s), 0) << download.Stderr();
    EXPECT_EQ(upload.Wait(60s), 0) << upload.Stderr();
}

TEST(ServerStart, APortInUseReportsTheBindError) {
    CLoopbackPort taken(true);
    ASSERT_NE(taken.Port(), 0);
    CRecordingEvents events;
    CKestrunEngine engine(&events);
    CTestServer server(engine);
    CServerSettings settings;
    settings.strListenAddr = "127.0.0.1";
    settings.nListenPort = taken.Port();
    ASSERT_TRUE(server.StartServer(settings));
    ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 1; }));
    auto errors = events.Get(events.m_serverErrors);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("(" + std::to_string(EADDRINUSE) + ")\xEF\xBC\x9A", 0), 0u)
        << errors[0];
    EXPECT_EQ(events.Get(events.m_nListenPort), 0);
    EXPECT_FALSE(server.IsServerListening());
    EXPECT_FALSE(server.IsServerRunActive());
}

TEST(ServerStart, AStopBeforeTheSocketExistsStillEndsTheRun) {
    CServerSettings settings;
    settings.strListenAddr = "127.0.0.1";
    settings.nListenPort = 0;
    for (int i = 0; i < 20; ++i) {
        CRecordingEvents events;
        CKestrunEngine engine(&events);
        CTestServer server(engine);
        ASSERT_TRUE(server.StartServer(settings));
        server.StopServer();
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 1; }));
        EXPECT_FALSE(server.IsServerListening());
        EXPECT_TRUE(events.Get(events.m_serverErrors).empty());
        // And the engine can run again afterwards.
        ASSERT_TRUE(server.StartServer(settings));
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nListenPort != 0; }));
        server.StopServer();
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 2; }));
    }
}

} // namespace
