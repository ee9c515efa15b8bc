// Sends that the system cuts short (a signal landing in a blocked send makes it return the
// part already copied) over a real socket. Linux only: it uses signals and socket buffer
// sizes to provoke the short sends; the other cases run in memory (stream_test.cpp).
#include "server/websocket.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

void OnSignal(int) {}

class ShortSendTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "the thread sanitizer defers signals, so sends are not cut short";
#endif
        ASSERT_TRUE(InitSocketLibrary());
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the signal ends the blocked send early
        ASSERT_EQ(sigaction(SIGUSR1, &sa, &m_oldAction), 0);

        SOCKET sListen = INVALID_SOCKET;
        ASSERT_TRUE(CreateTcpSocket(sListen, "127.0.0.1", 0, true));
        const int nPort = GetBoundPort(sListen);
        m_sSend = OpenTcpSocket();
        int nSmall = 4096;
        setsockopt(m_sSend, SOL_SOCKET, SO_SNDBUF, &nSmall, sizeof(nSmall));
        ASSERT_TRUE(ConnectIPv4(m_sSend, "127.0.0.1", nPort));
        m_sRecv = AcceptSocket(sListen);
        CloseSocket(sListen);
        ASSERT_NE(m_sRecv, INVALID_SOCKET);
        setsockopt(m_sRecv, SOL_SOCKET, SO_RCVBUF, &nSmall, sizeof(nSmall));
    }
    void TearDown() override {
        CloseSocket(m_sSend);
        CloseSocket(m_sRecv);
        sigaction(SIGUSR1, &m_oldAction, nullptr);
    }

    // Runs fnSend on its own thread while this one keeps signalling it and reads slowly.
    // Once the sender is done, reads on until *pnExpected bytes (read after the sender
    // finished, so it may depend on its result) have arrived or 20 s have passed.
    std::string RunInterrupted(const std::function<void(SOCKET)>& fnSend,
                               const size_t* pnExpected) {
        std::atomic<bool> bDone{false};
        std::thread sender([&] {
            fnSend(m_sSend);
            bDone.store(true);
        });
        std::string strReceived;
        char buf[512];
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!bDone.load() && std::chrono::steady_clock::now() < tEnd) {
            pthread_kill(sender.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (PollReadableNow(m_sRecv) == 1) {
                int n = RecvOnce(m_sRecv, buf, sizeof(buf));
                if (n <= 0)
                    break;
                strReceived.append(buf, static_cast<size_t>(n));
            }
        }
        sender.join();
        const auto tDrainEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (strReceived.size() < *pnExpected && std::chrono::steady_clock::now() < tDrainEnd) {
            if (PollReadableNow(m_sRecv) != 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            int n = RecvOnce(m_sRecv, buf, sizeof(buf));
            if (n <= 0)
                break;
            strReceived.append(buf, static_cast<size_t>(n));
        }
        return strReceived;
    }

    SOCKET m_sSend = INVALID_SOCKET;
    SOCKET m_sRecv = INVALID_SOCKET;
    struct sigaction m_oldAction {};
};

} // namespace

// A real socket whose sends a signal cuts short: the frames still arrive whole, and the
// stream did see short sends (or the check would prove nothing).
class CCountingStream final : public CByteStream {
public:
    explicit CCountingStream(SOCKET s) : m_inner(s) {}
    int Send(const void* p, size_t n) override {
        int nSent = m_inner.Send(p, n);
        if (nSent > 0 && static_cast<size_t>(nSent) < n)
            ++m_nShort;
        return nSent;
    }
    int Recv(void* p, size_t n) override { return m_inner.Recv(p, n); }
    int PollReadableNow() override { return m_inner.PollReadableNow(); }
    int m_nShort = 0;

private:
    CSocketStream m_inner;
};

TEST_F(ShortSendTest, FramesArriveWholeOverASocket) {
    const std::string strFrame = std::string("\x81\x7E\xFE\x67") + g_szFramePayload;
    std::string strExpected;
    for (int i = 0; i < 8; ++i)
        strExpected += strFrame;
    const size_t nExpected = strExpected.size();
    bool bOk = true;
    int nShort = 0;
    std::string strReceived = RunInterrupted(
        [&](SOCKET s) {
            CCountingStream stream(s);
            for (int i = 0; i < 8 && bOk; ++i)
                bOk = SendWebSocketFrame(g_nFramePayloadLen, stream);
            nShort = stream.m_nShort;
        },
        &nExpected);
    EXPECT_TRUE(bOk);
    EXPECT_GT(nShort, 0) << "no send was cut short: the setting did not work";
    ASSERT_EQ(strReceived.size(), nExpected);
    EXPECT_TRUE(strReceived == strExpected) << "the frames arrived altered";
}
