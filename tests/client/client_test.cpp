// The client test against the in-process server and against peers that refuse, close or
// reset.
#include "client/client_test.h"
#include "testkit/loopback_server.h"

#include <sys/socket.h>

#include <tuple>

namespace {

using namespace std::chrono_literals;

const std::string kColon = "\xEF\xBC\x9A";

class ClientTest : public LoopbackServerTest {
protected:
    void StartAgainst(const std::string& strAddr, int nPort, const std::string& strType,
                      int nSessions = 10) {
        m_clientEvents.WaitFor([&] { // forget what an earlier run left
            m_clientEvents.m_clientEnds.clear();
            m_clientEvents.m_nSessionsStarted = 0;
            return true;
        });
        m_settings = {strAddr, nPort, strType, nSessions};
        ASSERT_TRUE(m_client.StartClientTest(m_settings));
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
    // Takes the counters until 1 MiB went the given way (at most ten seconds); returns that,
    // and adds what went the other way to *pnOther.
    uint64_t WaitTraffic(bool bRecv, uint64_t* pnOther = nullptr) {
        uint64_t nTotal = 0;
        for (int i = 0; i < 2000 && nTotal < (1u << 20); ++i) {
            uint64_t r = 0, s = 0;
            m_clientEngine.TakeCounters(r, s);
            nTotal += bRecv ? r : s;
            if (pnOther != nullptr)
                *pnOther += bRecv ? s : r;
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

// With fewer threads than sessions, those without one never start and the test still ends
// (the cap stays set, so that case comes last).
TEST_F(ClientTest, DownloadAndUploadEachCountOneDirection) {
    for (const auto& [pszType, bRecv, nThreads] :
         {std::make_tuple("下载", true, 0), std::make_tuple("上传", false, 0),
          std::make_tuple("", false, 0), std::make_tuple("other", false, 0),
          std::make_tuple("下载", true, 3)}) {
        SCOPED_TRACE(testing::Message() << pszType << " " << nThreads);
        uint64_t nLeftRecv = 0, nLeftSend = 0, nOther = 0;
        m_clientEngine.TakeCounters(nLeftRecv, nLeftSend); // what the previous case left
        if (nThreads != 0)
            m_client.SetWorkerLimit(nThreads);
        StartAgainst("127.0.0.1", m_nPort, pszType);
        EXPECT_FALSE(m_client.StartClientTest(m_settings)) << "a second test must not start";
        EXPECT_GE(WaitTraffic(bRecv, &nOther), 1u << 20);
        EXPECT_EQ(nOther, 0u);
        EXPECT_EQ(m_client.ActiveClientCount(), nThreads != 0 ? nThreads : 10);
        m_client.StopClientTest();
        EXPECT_EQ(WaitEnded(), "") << "a stopped test reports no error";
        EXPECT_EQ(m_client.ActiveClientCount(), 0);
        EXPECT_EQ(m_clientEvents.Get(m_clientEvents.m_nSessionsStarted),
                  nThreads != 0 ? nThreads : 10);
    }
}

TEST_F(ClientTest, ARefusedConnectionOrUnknownHostIsReportedOnceWithItsCode) {
    const int nClosedPort = ClosedLoopbackPort();
    ASSERT_NE(nClosedPort, 0);
    const struct {
        const char* pszHost;
        int nPort;
        std::string strStart, strHas;
    } cases[] = {
        {"127.0.0.1", nClosedPort, "(" + std::to_string(ECONNREFUSED) + ")" + kColon, "refused"},
        {"no-such-host.invalid", 10001, "(0x", kColon}}; // the lookup's own code
    for (const auto& c : cases) {
        StartAgainst(c.pszHost, c.nPort, "下载");
        const std::string strEnd = WaitEnded(120s);
        EXPECT_EQ(strEnd.rfind(c.strStart, 0), 0u) << strEnd;
        EXPECT_NE(strEnd.find(c.strHas), std::string::npos) << strEnd;
    }
}

TEST_F(ClientTest, AServerThatStopsEndsTheTestWithoutAnError) {
    StartAgainst("127.0.0.1", m_nPort, "下载");
    ASSERT_GT(WaitTraffic(true), 0u);
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
    for (const auto& c : {std::make_pair("上传", '\0'), std::make_pair("下载", '\1')}) {
        SCOPED_TRACE(c.first);
        StartAgainst("127.0.0.1", listener.Port(), c.first, 4);
        CRawSocket peers[4];
        for (auto& peer : peers) {
            peer.Adopt(::accept(listener.Fd(), nullptr, nullptr));
            ASSERT_GE(peer.Fd(), 0);
            EXPECT_EQ(peer.Recv(4), std::string("EST") + c.second); // the mode byte: 1 downloads
            if (c.second == 1)
                peer.Send(std::string(8192, 'x'));
        }
        for (auto& peer : peers)
            peer.Reset();
        EXPECT_EQ(WaitEnded(), "");
    }
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
