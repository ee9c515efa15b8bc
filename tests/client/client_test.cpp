// The client test against the in-process server and against peers that refuse, close or
// reset.
#include "client/client_test.h"
#include "testkit/loopback_server.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kColon = "\xEF\xBC\x9A";

class ClientTest : public LoopbackServerTest {
protected:
    void StartAgainst(const std::string& strAddr, int nPort, const std::string& strType,
                      int nSessions = 10) {
        m_clientEvents.WaitFor([&] { // forget what an earlier test run left
            m_clientEvents.m_clientEnds.clear();
            m_clientEvents.m_nSessionsStarted = 0;
            return true;
        });
        CClientSettings settings;
        settings.strServerAddr = strAddr;
        settings.nServerPort = nPort;
        settings.strType = strType;
        settings.nSessions = nSessions;
        ASSERT_TRUE(m_client.StartClientTest(settings));
        m_settings = settings;
    }
    // Waits for the test's end and returns the one text it reported.
    std::string WaitEnded(std::chrono::milliseconds timeout = 30s) {
        EXPECT_TRUE(
            m_clientEvents.WaitFor([&] { return !m_clientEvents.m_clientEnds.empty(); }, timeout));
        m_client.WaitForWorkers();
        auto ends = m_clientEvents.Get(m_clientEvents.m_clientEnds);
        EXPECT_EQ(ends.size(), 1u);
        return ends.empty() ? "(none)" : ends[0];
    }
    // Waits until traffic in the given direction is seen; returns the bytes taken.
    uint64_t WaitTraffic(bool bRecv, uint64_t& nOther) {
        uint64_t nTotal = 0;
        nOther = 0;
        for (int i = 0; i < 2000 && nTotal < (1u << 20); ++i) {
            uint64_t r = 0, s = 0;
            m_clientEngine.TakeCounters(r, s);
            nTotal += bRecv ? r : s;
            nOther += bRecv ? s : r;
            std::this_thread::sleep_for(5ms);
        }
        return nTotal;
    }
    void TearDown() override {
        m_client.StopClientTest();
        m_client.WaitForWorkers();
        LoopbackServerTest::TearDown();
    }

    CClientSettings m_settings;
    CRecordingEvents m_clientEvents;
    CKestrunEngine m_clientEngine{&m_clientEvents};
    CClientTest m_client{m_clientEngine};
};

TEST_F(ClientTest, DownloadAndUploadEachCountOneDirection) {
    for (const auto& c : {std::make_pair("下载", true), std::make_pair("上传", false),
                          std::make_pair("", false), std::make_pair("other", false)}) {
        uint64_t nLeftRecv = 0, nLeftSend = 0;
        m_clientEngine.TakeCounters(nLeftRecv, nLeftSend); // what the previous case left
        StartAgainst("127.0.0.1", m_nPort, c.first);
        EXPECT_FALSE(m_client.StartClientTest(m_settings)) << "a second test must not start";
        uint64_t nOther = 0;
        EXPECT_GE(WaitTraffic(c.second, nOther), 1u << 20) << c.first;
        EXPECT_EQ(nOther, 0u) << c.first;
        m_client.StopClientTest();
        EXPECT_EQ(WaitEnded(), "") << "a stopped test reports no error";
        EXPECT_EQ(m_client.ActiveClientCount(), 0);
        EXPECT_EQ(m_clientEvents.Get(m_clientEvents.m_nSessionsStarted), 10);
    }
}

TEST_F(ClientTest, ARefusedConnectionIsReportedOnce) {
    const int nClosedPort = ClosedLoopbackPort();
    ASSERT_NE(nClosedPort, 0);
    StartAgainst("127.0.0.1", nClosedPort, "下载");
    const std::string strEnd = WaitEnded();
    EXPECT_EQ(strEnd.rfind("(" + std::to_string(ECONNREFUSED) + ")" + kColon, 0), 0u) << strEnd;
    EXPECT_NE(strEnd.find("refused"), std::string::npos) << strEnd;
}

TEST_F(ClientTest, AnUnknownHostIsReportedOnceWithTheLookupError) {
    StartAgainst("no-such-host.invalid", 10001, "下载");
    const std::string strEnd = WaitEnded(120s);
    EXPECT_EQ(strEnd.rfind("(0x", 0), 0u) << strEnd;
    EXPECT_NE(strEnd.find(kColon), std::string::npos);
}

TEST_F(ClientTest, AServerThatStopsEndsTheTestWithoutAnError) {
    StartAgainst("127.0.0.1", m_nPort, "下载");
    uint64_t nOther = 0;
    ASSERT_GT(WaitTraffic(true, nOther), 0u);
    // Every session must be served first: one still connecting when the server goes
    // away would rightly report the refused connection.
    ASSERT_TRUE(WaitSessions(10));
    m_server.StopServer(); // the server's stop cuts every connection
    EXPECT_EQ(WaitEnded(), "");
}

TEST_F(ClientTest, PeersThatResetMidStreamEndTheTestCleanly) {
    // A hand-made peer: accepts every session, lets a little data flow, then resets.
    CLoopbackPort listener(true);
    ASSERT_NE(listener.Port(), 0);
    for (const char* pszType : {"上传", "下载"}) {
        StartAgainst("127.0.0.1", listener.Port(), pszType, 4);
        std::vector<int> peers;
        char szBuf[8192] = {0};
        for (int i = 0; i < 4; ++i) {
            int fd = ::accept(listener.Fd(), nullptr, nullptr);
            ASSERT_GE(fd, 0);
            peers.push_back(fd);
            ASSERT_EQ(::recv(fd, szBuf, 4, MSG_WAITALL), 4);
            EXPECT_EQ(std::string(szBuf, 3), "EST");
            EXPECT_EQ(szBuf[3], pszType == std::string("下载") ? 1 : 0);
            if (szBuf[3] == 1)
                ::send(fd, szBuf, sizeof(szBuf), MSG_NOSIGNAL);
        }
        for (int fd : peers) {
            linger lg{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
            ::close(fd);
        }
        EXPECT_EQ(WaitEnded(), "") << pszType;
    }
}

TEST_F(ClientTest, SessionsWithoutAThreadStillEndTheTest) {
    m_client.SetWorkerLimit(3);
    StartAgainst("127.0.0.1", m_nPort, "下载");
    uint64_t nOther = 0;
    EXPECT_GT(WaitTraffic(true, nOther), 0u);
    EXPECT_EQ(m_client.ActiveClientCount(), 3);
    m_client.StopClientTest();
    WaitEnded();
    EXPECT_EQ(m_clientEvents.Get(m_clientEvents.m_nSessionsStarted), 3);
    EXPECT_EQ(m_client.ActiveClientCount(), 0);
    m_client.SetWorkerLimit(0);
}

TEST_F(ClientTest, SessionsThatConnectAfterAStopAreStoppedToo) {
    for (int i = 0; i < 5; ++i) {
        StartAgainst("127.0.0.1", m_nPort, "下载");
        // The sessions are still sleeping or connecting: none is registered yet.
        m_client.StopClientTest();
        EXPECT_EQ(WaitEnded(), "") << "a late session kept streaming";
    }
}

} // namespace
