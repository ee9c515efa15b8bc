// The client test against the in-process server and against peers that never answer,
// reset or fall silent; a stop from either side at any time.
#include "client/client_test.h"
#include "testkit/loopback_server.h"

#include <cstdio>
#include <fstream>
#include <sys/socket.h>

const auto kDown = EClientDirection::kDownload, kUp = EClientDirection::kUpload;

using namespace std::chrono_literals;

// Connects to 127.0.0.1:nPort under way (SYN_SENT, state 02 in the table; ports in hex).
static int PendingConnects(int nPort) {
    char szNeedle[16];
    std::snprintf(szNeedle, sizeof(szNeedle), ":%04X 02 ", nPort);
    std::ifstream table("/proc/net/tcp");
    int n = 0;
    for (std::string strLine; std::getline(table, strLine);)
        n += strLine.find(szNeedle) != std::string::npos ? 1 : 0;
    return n;
}

class ClientTest : public LoopbackServerTest {
protected:
    void Start(const CClientSettings& settings) {
        m_clientEvents.WaitFor([&] { // forget what an earlier run left
            m_clientEvents.m_clientEnds.clear();
            m_clientEvents.m_nSessionsStarted = 0;
            return true;
        });
        m_settings = settings;
        ASSERT_TRUE(m_client.StartClientTest(m_settings));
    }
    // Waits for the test's end and returns the one text it reported.
    std::string WaitEnded(std::chrono::milliseconds timeout = 30s) {
        EXPECT_TRUE(
            m_clientEvents.WaitFor([&] { return !m_clientEvents.m_clientEnds.empty(); }, timeout));
        m_client.WaitForTestEnd();
        auto ends = m_clientEvents.Get(m_clientEvents.m_clientEnds);
        EXPECT_EQ(ends.size(), 1u);
        return ends.empty() ? "(none)" : ends[0];
    }
    void TearDown() override {
        m_client.StopClientTest();
        m_client.WaitForTestEnd();
        LoopbackServerTest::TearDown();
    }

    CClientSettings m_settings;
    CRecordingEvents m_clientEvents;
    CKestrunEngine m_clientEngine{&m_clientEvents};
    CClientTest m_client{m_clientEngine};
};

// A stop ends the test without an error (the server's stop under load: the window scenarios).
TEST_F(ClientTest, EachDirectionCountsItsWaysAndAStopEndsTheTest) {
    for (const auto direction : {kDown, kUp, EClientDirection::kBoth}) {
        const bool bRecv = direction != kUp, bSend = direction != kDown;
        const int nSessions = bRecv && bSend ? 20 : 10; // ten each way
        SCOPED_TRACE(std::string(bRecv ? "recv " : "") + (bSend ? "send" : ""));
        uint64_t nLeftRecv = 0, nLeftSend = 0;
        m_clientEngine.TakeCounters(nLeftRecv, nLeftSend); // what the previous case left
        Start({"127.0.0.1", m_nPort, direction});
        EXPECT_FALSE(m_client.StartClientTest(m_settings)) << "a second test must not start";
        uint64_t nRecv = 0, nSend = 0; // until 1 MiB went each given way, ten seconds at most
        WaitUntil(
            [&] {
                uint64_t r = 0, s = 0;
                m_clientEngine.TakeCounters(r, s);
                nRecv += r;
                nSend += s;
                return (!bRecv || nRecv >= (1u << 20)) && (!bSend || nSend >= (1u << 20));
            },
            10s, 5);
        // Each given way moved 1 MiB; the other moved nothing at all.
        EXPECT_EQ(bRecv ? nRecv >= (1u << 20) : nRecv == 0, true) << nRecv;
        EXPECT_EQ(bSend ? nSend >= (1u << 20) : nSend == 0, true) << nSend;
        EXPECT_EQ(m_client.ActiveClientCount(), nSessions);
        m_client.StopClientTest();
        EXPECT_EQ(WaitEnded(), "") << "a stopped test reports no error";
        EXPECT_EQ(m_client.ActiveClientCount(), 0);
        EXPECT_EQ(m_clientEvents.Get(m_clientEvents.m_nSessionsStarted), nSessions);
    }
}

// A refused connection's code: cli_test; a failed lookup's is negative, so in hex.
TEST_F(ClientTest, AnUnknownHostIsReportedOnceWithTheLookupsCode) {
    Start({"no-such-host.invalid", 10001, kDown});
    const std::string strEnd = WaitEnded(120s);
    EXPECT_EQ(strEnd.rfind("(0x", 0), 0u) << strEnd;
    EXPECT_NE(strEnd.find("\xEF\xBC\x9A"), std::string::npos) << strEnd;
}

// Hand-made peers accept every session, let a little data flow, then reset or fall silent:
// either way the test ends by itself, with silent peers once the idle timeout cuts them.
TEST_F(ClientTest, PeersThatResetOrFallSilentEndTheTestCleanly) {
    CLoopbackPort listener(true);
    ASSERT_NE(listener.Port(), 0);
    for (const auto& [direction, bReset] : {std::pair(kUp, true), std::pair(kDown, true),
                                            std::pair(kUp, false), std::pair(kDown, false)}) {
        const char cMode = direction == kDown; // the mode byte: 1 downloads
        SCOPED_TRACE(std::string(cMode ? "download" : "upload") + (bReset ? " reset" : " silent"));
        Start({"127.0.0.1", listener.Port(), direction, 4, 10, 1}); // idle timeout: 1 s
        CRawSocket peers[4];
        for (auto& peer : peers) {
            peer.Adopt(::accept(listener.Fd(), nullptr, nullptr));
            ASSERT_GE(peer.Fd(), 0);
            EXPECT_EQ(peer.Recv(4), std::string("EST") + cMode);
            peer.Send(std::string(cMode * 8192, 'x'));
            if (bReset)
                peer.Reset();
        }
        EXPECT_EQ(WaitEnded(), "");
    }
}

// A stop cuts sessions whatever they are doing: connecting to a server that answers at
// once, or waiting for one that never answers (long before the connect timeout).
TEST_F(ClientTest, AStopDuringTheConnectsEndsEverySession) {
    CUnansweredPort unanswered;
    ASSERT_NE(unanswered.Port(), 0);
    for (int i = 0; i < 5; ++i) {
        Start({"127.0.0.1", m_nPort, kDown});
        m_client.StopClientTest(); // the sessions are still being looked up or connecting
        EXPECT_EQ(WaitEnded(), "") << "a late session kept streaming";
    }
    Start({"127.0.0.1", unanswered.Port(), kDown, 10, 120}); // connect timeout: 120 s
    ASSERT_TRUE(WaitUntil([&] { return PendingConnects(unanswered.Port()) >= 10; }));
    m_client.StopClientTest();
    EXPECT_EQ(WaitEnded(), "");
}
