// The client test against a server in a second process, and against peers that refuse,
// close or reset.
#include "client/client_test.h"
#include "testkit/child_process.h"
#include "testkit/raw_socket.h"
#include "testkit/recording_events.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kColon = "\xEF\xBC\x9A";

CClientSettings Settings(const std::string& strAddr, int nPort, const std::string& strType,
                         int nSessions = 10) {
    CClientSettings settings;
    settings.strServerAddr = strAddr;
    settings.nServerPort = nPort;
    settings.strType = strType;
    settings.nSessions = nSessions;
    return settings;
}

class ClientTest : public testing::Test {
protected:
    void StartAgainst(int nPort, const std::string& strType, int nSessions = 10) {
        ASSERT_TRUE(m_client.StartClientTest(Settings("127.0.0.1", nPort, strType, nSessions)));
    }
    bool WaitEnded(std::chrono::milliseconds timeout = 30s) {
        return m_events.WaitFor([&] { return !m_events.m_clientEnds.empty(); }, timeout);
    }
    // Waits until traffic in the given direction is seen; returns the bytes taken.
    uint64_t WaitTraffic(bool bRecv, uint64_t& nOther) {
        uint64_t nTotal = 0;
        nOther = 0;
        for (int i = 0; i < 2000 && nTotal < (1u << 20); ++i) {
            uint64_t r = 0, s = 0;
            m_engine.TakeCounters(r, s);
            nTotal += bRecv ? r : s;
            nOther += bRecv ? s : r;
            std::this_thread::sleep_for(5ms);
        }
        return nTotal;
    }
    void TearDown() override {
        m_client.StopClientTest();
        m_client.WaitForWorkers();
    }

    CRecordingEvents m_events;
    CKestrunEngine m_engine{&m_events};
    CClientTest m_client{m_engine};
};

TEST_F(ClientTest, DownloadAndUploadAgainstASecondProcess) {
    CChildProcess server;
    int nPort = StartCliServer(server);
    ASSERT_NE(nPort, 0) << server.Stderr();
    struct {
        const char* pszType;
        bool bRecv;
    } cases[] = {{"下载", true}, {"上传", false}, {"", false}, {"other", false}};
    for (const auto& c : cases) {
        uint64_t nLeftRecv = 0, nLeftSend = 0;
        m_engine.TakeCounters(nLeftRecv, nLeftSend); // what the previous case left behind
        StartAgainst(nPort, c.pszType);
        EXPECT_FALSE(m_client.StartClientTest(Settings("127.0.0.1", nPort, c.pszType)))
            << "a second test must not start";
        uint64_t nOther = 0;
        EXPECT_GE(WaitTraffic(c.bRecv, nOther), 1u << 20) << c.pszType;
        EXPECT_EQ(nOther, 0u) << c.pszType;
        m_client.StopClientTest();
        ASSERT_TRUE(WaitEnded()) << c.pszType;
        auto ends = m_events.Get(m_events.m_clientEnds);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0], "") << "a stopped test reports no error";
        EXPECT_EQ(m_client.ActiveClientCount(), 0);
        m_client.WaitForWorkers();
        EXPECT_EQ(m_events.Get(m_events.m_nSessionsStarted), 10);
        m_events.WaitFor([&] {
            m_events.m_clientEnds.clear();
            m_events.m_nSessionsStarted = 0;
            return true;
        });
    }
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0);
}

TEST_F(ClientTest, ARefusedConnectionIsReportedOnce) {
    const int nClosedPort = ClosedLoopbackPort();
    ASSERT_NE(nClosedPort, 0);
    StartAgainst(nClosedPort, "下载");
    ASSERT_TRUE(WaitEnded());
    m_client.WaitForWorkers();
    auto ends = m_events.Get(m_events.m_clientEnds);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].rfind("(" + std::to_string(ECONNREFUSED) + ")" + kColon, 0), 0u) << ends[0];
    EXPECT_NE(ends[0].find("refused"), std::string::npos) << ends[0];
}

TEST_F(ClientTest, AnUnknownHostIsReportedOnceWithTheLookupError) {
    ASSERT_TRUE(m_client.StartClientTest(Settings("no-such-host.invalid", 10001, "下载")));
    ASSERT_TRUE(WaitEnded(120s));
    m_client.WaitForWorkers();
    auto ends = m_events.Get(m_events.m_clientEnds);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].rfind("(0x", 0), 0u) << ends[0];
    EXPECT_NE(ends[0].find(kColon), std::string::npos);
}

TEST_F(ClientTest, AServerThatStopsEndsTheTestWithoutAnError) {
    CChildProcess server;
    int nPort = StartCliServer(server);
    ASSERT_NE(nPort, 0);
    StartAgainst(nPort, "下载");
    uint64_t nOther = 0;
    ASSERT_GT(WaitTraffic(true, nOther), 0u);
    // Every session must be connected first: one still connecting when the server goes
    // away would rightly report the refused connection.
    for (int i = 0; i < 4000 && m_client.ClientSessionCount() < 10; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(m_client.ClientSessionCount(), 10u);
    server.Signal(SIGINT); // the server's stop cuts every connection
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(m_events.Get(m_events.m_clientEnds)[0], "");
    EXPECT_EQ(server.Wait(), 0);
}

TEST_F(ClientTest, PeersThatResetMidStreamEndTheTestCleanly) {
    // A hand-made peer: accepts every session, lets a little data flow, then resets.
    CLoopbackPort listener(true);
    ASSERT_NE(listener.Port(), 0);
    for (const char* pszType : {"上传", "下载"}) {
        m_events.WaitFor([&] {
            m_events.m_clientEnds.clear();
            return true;
        });
        StartAgainst(listener.Port(), pszType, 4);
        std::vector<int> peers;
        char szBuf[8192] = {0};
        for (int i = 0; i < 4; ++i) {
            int fd = ::accept(listener.Fd(), nullptr, nullptr);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::recv(fd, szBuf, 4, MSG_WAITALL), 4);
            EXPECT_EQ(std::string(szBuf, 3), "EST");
            EXPECT_EQ(szBuf[3], pszType == std::string("下载") ? 1 : 0);
            if (szBuf[3] == 1)
                ::send(fd, szBuf, sizeof(szBuf), MSG_NOSIGNAL);
            peers.push_back(fd);
        }
        for (int fd : peers) {
            linger lg{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
            ::close(fd);
        }
        ASSERT_TRUE(WaitEnded()) << pszType;
        EXPECT_EQ(m_events.Get(m_events.m_clientEnds)[0], "") << pszType;
        m_client.WaitForWorkers();
    }
}

TEST_F(ClientTest, SessionsWithoutAThreadStillEndTheTest) {
    CChildProcess server;
    int nPort = StartCliServer(server);
    ASSERT_NE(nPort, 0);
    m_client.SetWorkerLimit(3);
    StartAgainst(nPort, "下载");
    uint64_t nOther = 0;
    EXPECT_GT(WaitTraffic(true, nOther), 0u);
    EXPECT_EQ(m_client.ActiveClientCount(), 3);
    m_client.StopClientTest();
    ASSERT_TRUE(WaitEnded());
    m_client.WaitForWorkers();
    EXPECT_EQ(m_events.Get(m_events.m_clientEnds).size(), 1u);
    EXPECT_EQ(m_events.Get(m_events.m_nSessionsStarted), 3);
    EXPECT_EQ(m_client.ActiveClientCount(), 0);
    m_client.SetWorkerLimit(0);
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0);
}

TEST_F(ClientTest, SessionsThatConnectAfterAStopAreStoppedToo) {
    CChildProcess server;
    int nPort = StartCliServer(server);
    ASSERT_NE(nPort, 0);
    for (int i = 0; i < 5; ++i) {
        m_events.WaitFor([&] {
            m_events.m_clientEnds.clear();
            return true;
        });
        StartAgainst(nPort, "下载");
        // The sessions are still sleeping or connecting: none is registered yet.
        m_client.StopClientTest();
        ASSERT_TRUE(WaitEnded()) << "a late session kept streaming";
        EXPECT_EQ(m_events.Get(m_events.m_clientEnds)[0], "");
        m_client.WaitForWorkers();
    }
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0);
}

} // namespace
