// Sends that the system cuts short (a signal landing in a blocked send makes it return the
// part already copied) over a real socket. Linux only: it uses signals and socket buffer
// sizes to provoke the short sends; the other cases run in memory (stream_test.cpp).
#include "server/websocket.h"
#include "testkit/raw_socket.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

void OnSignal(int) {}

// A socket stream that counts the sends that came back short.
class CCountingStream final : public CByteStream {
public:
    explicit CCountingStream(SOCKET s) : m_inner(s) {}
    int Send(const void* p, size_t n) override {
        const int nSent = m_inner.Send(p, n);
        m_nShort += nSent > 0 && static_cast<size_t>(nSent) < n ? 1 : 0;
        return nSent;
    }
    int Recv(void* p, size_t n) override { return m_inner.Recv(p, n); }
    int PollReadableNow() override { return m_inner.PollReadableNow(); }
    CSocketStream m_inner;
    int m_nShort = 0;
};

} // namespace

TEST(ShortSendOverASocket, FramesArriveWholeAndSendsWereCut) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer defers signals, so sends are not cut short";
#endif
    ASSERT_TRUE(InitSocketLibrary());
    struct sigaction sa = {}, oldAction = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask); // no SA_RESTART: the signal ends the blocked send early
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &oldAction), 0);
    SOCKET sListen = INVALID_SOCKET;
    ASSERT_TRUE(CreateTcpSocket(sListen, "127.0.0.1", 0, true));
    SOCKET sSend = OpenTcpSocket();
    int nSmall = 4096;
    setsockopt(sSend, SOL_SOCKET, SO_SNDBUF, &nSmall, sizeof(nSmall));
    ASSERT_TRUE(ConnectIPv4(sSend, "127.0.0.1", GetBoundPort(sListen)));
    CRawSocket receiver;
    receiver.Adopt(AcceptSocket(sListen));
    CloseSocket(sListen);
    ASSERT_NE(receiver.Fd(), INVALID_SOCKET);
    setsockopt(receiver.Fd(), SOL_SOCKET, SO_RCVBUF, &nSmall, sizeof(nSmall));

    // The sender runs on its own thread while this one keeps signalling it and reads
    // slowly, then reads what is left (bounded).
    std::atomic<bool> bDone{false};
    bool bOk = true;
    int nShort = 0;
    std::thread sender([&] {
        CCountingStream stream(sSend);
        for (int i = 0; i < 8 && bOk; ++i)
            bOk = SendWebSocketFrame(g_nFramePayloadLen, stream);
        nShort = stream.m_nShort;
        bDone.store(true);
    });
    std::string strReceived;
    const auto tSignalEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!bDone.load() && std::chrono::steady_clock::now() < tSignalEnd) {
        pthread_kill(sender.native_handle(), SIGUSR1);
        strReceived += receiver.Recv(512, nullptr, std::chrono::milliseconds(2)); // a moment
    }
    const std::string strFrame = std::string("\x81\x7E\xFE\x67") + g_szFramePayload;
    strReceived += receiver.Recv(8 * strFrame.size() - strReceived.size());
    receiver.Close(); // a sender still blocked fails instead of waiting for ever
    sender.join();
    CloseSocket(sSend);
    sigaction(SIGUSR1, &oldAction, nullptr);
    EXPECT_TRUE(bOk);
    EXPECT_GT(nShort, 0) << "no send was cut short: the setting did not work";
    ASSERT_EQ(strReceived.size(), 8 * strFrame.size());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(strReceived.compare(i * strFrame.size(), strFrame.size(), strFrame), 0) << i;
}
