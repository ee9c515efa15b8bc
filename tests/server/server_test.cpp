// The test server over loopback: raw peers from this process, client tests from a second
// process, and the stop sequence under load.
#include "server/test_server.h"
#include "testkit/child_process.h"
#include "testkit/raw_socket.h"
#include "testkit/recording_events.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

CServerSettings LoopbackSettings(int nPort) {
    CServerSettings settings;
    settings.strListenAddr = "127.0.0.1";
    settings.nListenPort = nPort;
    return settings;
}

// Remembers how many sessions were still registered when the run reported its end.
class CStopEvents : public CRecordingEvents {
public:
    CTestServer* m_pServer = nullptr;
    size_t m_nSessionsAtStop = 999;
    void OnServerStopped() override {
        m_nSessionsAtStop = m_pServer->ServerSessionCount();
        CRecordingEvents::OnServerStopped();
    }
};

class ServerTest : public testing::Test {
protected:
    void SetUp() override {
        m_events.m_pServer = &m_server;
        ASSERT_TRUE(m_server.StartServer(LoopbackSettings(0)));
        ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nListenPort != 0; }));
        m_nPort = m_events.Get(m_events.m_nListenPort);
    }
    void TearDown() override {
        m_server.StopServer();
        EXPECT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == 1; }));
    }
    bool WaitSessions(size_t n, std::chrono::milliseconds timeout = 20s) {
        auto tEnd = std::chrono::steady_clock::now() + timeout;
        while (m_server.ServerSessionCount() != n) {
            if (std::chrono::steady_clock::now() >= tEnd)
                return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    uint64_t TakeRecv() {
        uint64_t r = 0, s = 0;
        m_engine.TakeCounters(r, s);
        m_nSent += s;
        return r;
    }
    // Collects received bytes until nExpected have been counted (or the wait runs out),
    // then waits for the session to end and adds whatever came after.
    uint64_t CollectRecv(uint64_t nExpected) {
        uint64_t nTotal = 0;
        auto tEnd = std::chrono::steady_clock::now() + 20s;
        while (nTotal < nExpected && std::chrono::steady_clock::now() < tEnd) {
            nTotal += TakeRecv();
            std::this_thread::sleep_for(1ms);
        }
        WaitSessions(0);
        return nTotal + TakeRecv();
    }
    uint64_t TakeSend() {
        uint64_t r = 0, s = 0;
        m_engine.TakeCounters(r, s);
        return s;
    }

    CStopEvents m_events;
    CKestrunEngine m_engine{&m_events};
    CTestServer m_server{m_engine};
    int m_nPort = 0;
    uint64_t m_nSent = 0;
};

TEST_F(ServerTest, DownloadStreamsBlocksAndCountsThem) {
    for (const char* pszToken : {"EST", "est", "Est"}) {
        CRawSocket peer;
        ASSERT_TRUE(peer.Connect(m_nPort));
        ASSERT_TRUE(peer.Send(std::string(pszToken) + '\x01'));
        bool bClosed = false;
        size_t nGot = peer.Drain(1 << 20, 20s, bClosed);
        EXPECT_GE(nGot, size_t{1} << 20) << pszToken;
        EXPECT_FALSE(bClosed);
        peer.Close();
        ASSERT_TRUE(WaitSessions(0));
        EXPECT_GE(TakeSend(), size_t{1} << 20) << pszToken;
    }
}

TEST_F(ServerTest, UploadCountsEveryByteAfterTheModeByte) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    std::string strPayload(3 * 1000 * 1000 + 17, 'u');
    ASSERT_TRUE(peer.Send(std::string("EST") + '\x00' + strPayload));
    peer.Close();
    EXPECT_EQ(CollectRecv(strPayload.size()), strPayload.size());
    EXPECT_EQ(m_nSent, 0u);
}

TEST_F(ServerTest, UnknownModeByteIsClosedWithNothingSent) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    ASSERT_TRUE(peer.Send(std::string("EST") + '\x02'));
    bool bClosed = false;
    std::string strGot = peer.Recv(100, 20s, bClosed);
    EXPECT_TRUE(bClosed);
    EXPECT_EQ(strGot, "");
    ASSERT_TRUE(WaitSessions(0));
    EXPECT_EQ(TakeRecv(), 0u);
    EXPECT_EQ(m_nSent, 0u);
}

TEST_F(ServerTest, OtherTokensAreDrainedAsUploadsWithoutTheToken) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    ASSERT_TRUE(peer.Send("XYZ" + std::string(100000, 'z')));
    peer.Close();
    EXPECT_EQ(CollectRecv(100000), 100000u);
}

// The server side of a loopback connection in this process, found by its peer address.
int FindServerSide(const CRawSocket& client) {
    sockaddr_in local{};
    socklen_t nLen = sizeof(local);
    ::getsockname(client.Fd(), reinterpret_cast<sockaddr*>(&local), &nLen);
    DIR* pDir = ::opendir("/proc/self/fd");
    int nFound = -1;
    while (dirent* pEntry = ::readdir(pDir)) {
        int fd = std::atoi(pEntry->d_name);
        sockaddr_in peer{};
        socklen_t nPeerLen = sizeof(peer);
        if (fd <= 2 || fd == client.Fd() ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &nPeerLen) != 0)
            continue;
        if (peer.sin_port == local.sin_port && peer.sin_addr.s_addr == local.sin_addr.s_addr)
            nFound = fd;
    }
    ::closedir(pDir);
    return nFound;
}

TEST_F(ServerTest, ATokenSplitAcrossPacketsIsAnUpload) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort));
    int nOn = 1;
    ::setsockopt(peer.Fd(), IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof(nOn));
    ASSERT_TRUE(peer.Send("ES"));
    // Wait until the session has taken those two bytes as its first read.
    ASSERT_TRUE(WaitSessions(1));
    int fdServer = -1;
    for (int i = 0; i < 2000 && fdServer < 0; ++i) {
        fdServer = FindServerSide(peer);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_GE(fdServer, 0);
    int nQueued = 1;
    for (int i = 0; i < 10000 && nQueued != 0; ++i) {
        ::ioctl(fdServer, FIONREAD, &nQueued);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(nQueued, 0);
    ASSERT_TRUE(peer.Send(std::string("T") + '\x01' + std::string(5000, 'x')));
    peer.Close();
    ASSERT_TRUE(WaitSessions(0));
    EXPECT_EQ(TakeRecv(), 5002u);
    EXPECT_EQ(m_nSent, 0u);
}

TEST_F(ServerTest, AResetPeerEndsItsSessionCleanly) {
    CRawSocket download, upload;
    ASSERT_TRUE(download.Connect(m_nPort));
    ASSERT_TRUE(upload.Connect(m_nPort));
    ASSERT_TRUE(download.Send(std::string("EST") + '\x01'));
    ASSERT_TRUE(upload.Send(std::string("EST") + '\x00' + std::string(65536, 'u')));
    bool bClosed = false;
    ASSERT_GT(download.Drain(65536, 20s, bClosed), 0u);
    ASSERT_TRUE(WaitSessions(2));
    download.Reset();
    upload.Reset();
    ASSERT_TRUE(WaitSessions(0));
    CRawSocket again;
    ASSERT_TRUE(again.Connect(m_nPort));
    ASSERT_TRUE(again.Send(std::string("EST") + '\x01'));
    EXPECT_GT(again.Drain(8192, 20s, bClosed), 0u);
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
    ASSERT_TRUE(first.Send(std::string("EST") + '\x01'));
    bool bClosed = false;
    ASSERT_GT(first.Drain(8192, 20s, bClosed), 0u);
    ASSERT_TRUE(second.Connect(m_nPort));
    second.Send(std::string("EST") + '\x01');
    std::string strGot = second.Recv(1, 20s, bClosed);
    EXPECT_TRUE(bClosed) << "the connection without a session must be closed";
    EXPECT_EQ(strGot, "");
    EXPECT_TRUE(WaitSessions(1)); // only the served one is registered
    m_server.SetWorkerLimit(0);
    // The stop still ends: nothing is left behind in the registry.
}

TEST_F(ServerTest, ASecondRunCannotStartWhileOneExists) {
    EXPECT_TRUE(m_server.IsServerRunActive());
    EXPECT_FALSE(m_server.StartServer(LoopbackSettings(0)));
    EXPECT_EQ(m_events.Get(m_events.m_nServerStarted), 1);
}

TEST_F(ServerTest, StopUnderLoadWaitsForEverySessionAndLeaksNothing) {
    CChildProcess download, upload;
    ASSERT_TRUE(download.Start(
        {CliPath(), "-c", "127.0.0.1", "-p", std::to_string(m_nPort), "-P", "30", "-t", "0"}));
    ASSERT_TRUE(upload.Start({CliPath(), "-c", "127.0.0.1", "-p", std::to_string(m_nPort), "-P",
                              "30", "-t", "0", "--upload"}));
    ASSERT_TRUE(WaitSessions(60, 60s));
    ASSERT_FALSE(download.WaitForLine("recv").empty()); // streams are flowing
    const int nWhileStreaming = CountOpenDescriptors();

    m_server.StopServer();
    ASSERT_TRUE(m_events.WaitFor([&] { return m_events.m_nServerStopped == 1; }, 60s));
    EXPECT_EQ(m_events.m_nSessionsAtStop, 0u);
    EXPECT_TRUE(m_events.Get(m_events.m_acceptErrors).empty()) << "a stop is not a failure";
    // Every session socket and the listening socket are closed.
    EXPECT_EQ(CountOpenDescriptors(), nWhileStreaming - 61);
    EXPECT_FALSE(m_server.IsServerListening());

    // The peers see their connections end and finish by themselves, without an error.
    EXPECT_EQ(download.Wait(60s), 0) << download.Stderr();
    EXPECT_EQ(upload.Wait(60s), 0) << upload.Stderr();
    uint64_t r = 0, s = 0;
    m_engine.TakeCounters(r, s);
    EXPECT_GT(r, 0u);
    EXPECT_GT(s, 0u);
}

TEST(ServerStart, APortInUseReportsTheBindError) {
    CLoopbackPort taken(true);
    ASSERT_NE(taken.Port(), 0);

    CRecordingEvents events;
    CKestrunEngine engine(&events);
    CTestServer server(engine);
    ASSERT_TRUE(server.StartServer(LoopbackSettings(taken.Port())));
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
    for (int i = 0; i < 20; ++i) {
        CRecordingEvents events;
        CKestrunEngine engine(&events);
        CTestServer server(engine);
        ASSERT_TRUE(server.StartServer(LoopbackSettings(0)));
        server.StopServer();
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 1; }));
        EXPECT_FALSE(server.IsServerListening());
        EXPECT_TRUE(events.Get(events.m_serverErrors).empty());
        // And the engine can run again afterwards.
        ASSERT_TRUE(server.StartServer(LoopbackSettings(0)));
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nListenPort != 0; }));
        server.StopServer();
        ASSERT_TRUE(events.WaitFor([&] { return events.m_nServerStopped == 2; }));
    }
}

} // namespace
