// What a hostile or broken peer can do to the server, and what a stuck or dead server
// can do to the client: limits, idle timeouts, clean ends. Peers are second processes
// or raw sockets over loopback; every wait is bounded.
#include "testkit/child_process.h"
#include "testkit/loopback_server.h"

#include <csignal>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string kDownload = std::string("EST") + '\x01';
const char* const kPingAnswer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                "Content-Length: 0\r\nCache-Control: no-store\r\n"
                                "Connection: keep-alive\r\n\r\n";

TEST(Hardening, RunningOutOfDescriptorsPausesAcceptingInsteadOfEndingTheServer) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtimes need more descriptors than the limit leaves";
#endif
    CChildProcess server;
    const int nPort =
        StartCliServer(server, {"--max-sessions", "1000", "--max-sessions-per-host", "0"},
                       {"/usr/bin/prlimit", "--nofile=256"});
    ASSERT_NE(nPort, 0) << server.Stderr();
    {
        std::vector<CRawSocket> silent(400);
        for (CRawSocket& peer : silent)
            ASSERT_TRUE(peer.Connect(nPort));
        std::this_thread::sleep_for(500ms); // let accepting run into the limit
        EXPECT_TRUE(server.Running()) << server.Stderr();
    }
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(nPort) && peer.Send(kDownload));
    EXPECT_EQ(peer.Recv(1 << 20).size(), 1u << 20) << server.Stderr();
    EXPECT_NE(server.Stderr().find("accepting paused"), std::string::npos) << server.Stderr();
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0) << server.Stderr();
}

// Beyond a host's cap, and beyond the cap of all, a connection is closed at once, not left
// waiting; another address of this machine is a host of its own.
TEST(Hardening, ConnectionsBeyondTheCapsAreClosedAtOnce) {
    CChildProcess server;
    const int nPort =
        StartCliServer(server, {"--max-sessions", "3", "--max-sessions-per-host", "2"});
    ASSERT_NE(nPort, 0);
    CRawSocket peers[5];
    const char* from[] = {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.2", "127.0.0.3"};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(peers[i].Connect(nPort, "127.0.0.1", from[i]));
        peers[i].Send(kDownload); // a refused one may be closed already
        bool bClosed = false;
        const bool bServed = i != 2 && i != 4;
        EXPECT_EQ(peers[i].Recv(8192, &bClosed).size(), bServed ? 8192u : 0u) << i;
        EXPECT_NE(bClosed, bServed) << i;
    }
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0);
}

// The in-process server and hostile peers that each send one text, on a connection of its
// own with a small receive buffer, and then read nothing until the server has ended them all.
struct CHostile {
    const char* pszName;
    std::string strSend;
    const char* pszAnswer; // what the server sent before its close; null: not compared
};

class HostilePeers : public LoopbackServerTest {
protected:
    void ExpectAnswersBeforeClose(const std::vector<CHostile>& cases) {
        std::vector<CRawSocket> peers(cases.size());
        for (size_t i = 0; i < cases.size(); ++i)
            EXPECT_TRUE(peers[i].Connect(m_nPort, "127.0.0.1", "", 4096) &&
                        peers[i].Send(cases[i].strSend));
        ASSERT_TRUE(
            m_events.WaitFor([&] { return m_events.m_sessionEnds.size() == cases.size(); }));
        EXPECT_TRUE(WaitSessions(0));
        for (size_t i = 0; i < cases.size(); ++i) {
            bool bClosed = false;
            const std::string strAnswer = peers[i].Recv(1 << 20, &bClosed);
            EXPECT_TRUE(bClosed) << cases[i].pszName;
            if (cases[i].pszAnswer != nullptr) {
                EXPECT_EQ(strAnswer, cases[i].pszAnswer) << cases[i].pszName;
            }
        }
    }
};

// A one-second idle timeout.
class IdleTimeout : public HostilePeers {
protected:
    IdleTimeout() { m_nIdleTimeout = 1; }
};

TEST_F(IdleTimeout, ClosesEveryConnectionThatStopsMovingBytes) {
    ExpectAnswersBeforeClose({
        {"silent", "", ""},
        {"a stalled token", "GE", ""},
        {"a head without its blank line", "GET / HTTP/1.1\r\nHost: x\r\n", ""},
        {"a huge Content-Length", "GET / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", ""},
        {"a stalled upload", std::string("EST") + '\x00' + "abc", ""},
        {"a stalled HTTP upload", "POST /upload HTTP/1.1\r\nContent-Length: 1000\r\n\r\nbbbbb", ""},
        {"a kept connection after its answer", "GET /ping HTTP/1.1\r\n\r\n", kPingAnswer},
        // Their sessions are stuck in a send until the timeout.
        {"a download never read", kDownload, nullptr},
        {"an HTTP download never read", "GET /download?size=1073741824 HTTP/1.1\r\n\r\n", nullptr},
    });
}

// Bytes that keep coming, but fewer than the least a window must carry, are no reprieve.
TEST_F(IdleTimeout, EndsASessionThatMovesTooFewBytes) {
    CRawSocket peer;
    ASSERT_TRUE(peer.Connect(m_nPort) && peer.Send(std::string("EST") + '\x00'));
    bool bClosed = false;
    for (int i = 0; i < 100 && !bClosed; ++i) { // ten bytes a second, for ten seconds at most
        peer.Send("u");
        peer.Recv(1, &bClosed, 100ms);
    }
    EXPECT_TRUE(bClosed);
    EXPECT_TRUE(WaitSessions(0));
}

TEST(ClientEnds, AConnectThatIsNeverAnsweredStopsOnCtrlCOrTimesOut) {
    const CUnansweredPort unanswered;
    const std::string strPort = std::to_string(unanswered.Port());
    CChildProcess stopped, timedOut;
    ASSERT_TRUE(stopped.Start({CliPath(), "-c", "127.0.0.1", "-p", strPort, "-P", "4", "-t", "0",
                               "--connect-timeout", "3600"}));
    ASSERT_TRUE(timedOut.Start({CliPath(), "-c", "127.0.0.1", "-p", strPort, "-P", "4", "-t",
                                "3600", "--connect-timeout", "2"}));
    ASSERT_FALSE(stopped.WaitForLine("Connecting").empty());
    std::this_thread::sleep_for(300ms);
    stopped.Signal(SIGINT);
    // Neither limit nor test length ends it: only the stop can, within the wait.
    EXPECT_EQ(stopped.Wait(20s), 0) << stopped.Stderr();
    EXPECT_EQ(timedOut.Wait(60s), 1);
    const std::string strErr = timedOut.Stderr();
    EXPECT_NE(strErr.find("(" + std::to_string(ETIMEDOUT) + ")"), std::string::npos) << strErr;
    EXPECT_EQ(strErr.find('\n'), strErr.rfind('\n')) << "reported more than once: " << strErr;
}

TEST(ClientEnds, AServerThatDiesMidTestIsReportedAsAnEarlyEnd) {
    CChildProcess server, client;
    const int nPort = StartCliServer(server);
    ASSERT_NE(nPort, 0);
    ASSERT_TRUE(
        client.Start({CliPath(), "-c", "127.0.0.1", "-p", std::to_string(nPort), "-t", "300"}));
    ASSERT_FALSE(client.WaitForLine("MB/s").empty()) << client.Stderr();
    server.Signal(SIGKILL);
    server.Wait();
    EXPECT_EQ(client.Wait(20s), 1);
    EXPECT_NE(client.Stderr().find("the server ended the test after "), std::string::npos)
        << client.Stderr();
    EXPECT_NE(client.Stderr().find(" s of 300 s"), std::string::npos) << client.Stderr();
}

using InProcess = HostilePeers;

// However long the idle timeout, a first token or a request head that has not come ten
// seconds after it began is cut.
TEST_F(InProcess, AHeadThatDoesNotComeInTimeIsCut) {
    ExpectAnswersBeforeClose({{"silent", "", ""},
                              {"a token", "E", ""},
                              {"a head", "GET / HTTP/1.1\r\nHost: x", ""},
                              {"a second head", "GET /ping HTTP/1.1\r\n\r\nGET /pi", kPingAnswer}});
}

TEST_F(InProcess, AFinishedDownloadLeavesNoSessionOnTheServer) {
    CChildProcess client;
    ASSERT_TRUE(
        client.Start({CliPath(), "-c", "127.0.0.1", "-p", std::to_string(m_nPort), "-t", "2"}));
    EXPECT_EQ(client.Wait(30s), 0) << client.Stderr();
    // Well below the minute and more an orderly close left a blocked sender waiting.
    EXPECT_TRUE(WaitSessions(0, 5s));
}

} // namespace
