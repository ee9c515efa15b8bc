#include "client/client_test.h"

#include "client/connect.h"
#include "engine/io_core.h"
#include "engine/rate_pacer.h"
#include "engine/raw_stream.h"
#include "support/error_text.h"
#include "support/socket.h"
#include "support/socket_stream.h"

#include <asio/steady_timer.hpp>

#include <optional>

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

const auto kWatchPeriod = std::chrono::milliseconds(250);

// "EST" and the mode byte.
const size_t kHelloSize = 4;

// One session's socket and what the others may know of it.
struct CClientSession {
    CClientSession(asio::io_context& ctx, size_t nLaneIndex, bool bDownloads)
        : socket(ctx), watch(ctx), nLane(nLaneIndex), bDownload(bDownloads) {}
    tcp::socket socket;
    asio::steady_timer watch;
    std::optional<CSocketStream> stream;
    size_t nLane;
    const bool bDownload;
    // The connected socket's handle, for the round-trip sampler; guarded by the test's
    // lock and cleared before the socket closes.
    SOCKET hConnected = INVALID_SOCKET;
    bool bDone = false;

    void Cut() {
        asio::error_code ec;
        if (stream)
            stream->Cut(false);
        else
            socket.cancel(ec);
    }
};

} // namespace

struct CClientTest::CTest {
    CTest(CClientTest& test, CKestrunEngine& eng, const CClientSettings& s)
        : owner(test), engine(eng), core(eng.Core()), settings(s) {}

    CClientTest& owner;
    CKestrunEngine& engine;
    CIoCore& core;
    const CClientSettings settings;
    std::vector<tcp::endpoint> vecEndpoints; // written before the sessions start
    std::atomic<bool> bStopping{false};
    std::atomic<int> nLeft{0};
    mutable std::mutex cs;
    std::vector<CClientSession*> vecSessions;
    std::string strError; // the first session failure
    // Of the upload sessions that have ended: the bytes their peer acknowledged, and
    // whether every one of them could tell.
    uint64_t nAckedByEnded = 0;
    bool bAckedKnown = true;

    void NoteConnected() { owner.m_nConnected.fetch_add(1); }
    void SessionLeft() { owner.m_nActiveClients.fetch_sub(1); }
    void Ended(const std::string& strText) { owner.TestEnded(strText); }
};

namespace {

using PTest = std::shared_ptr<CClientTest::CTest>;

void SessionDone(const PTest& pTest, const std::string& strError) {
    if (!strError.empty()) {
        std::lock_guard<std::mutex> lock(pTest->cs);
        if (pTest->strError.empty())
            pTest->strError = strError;
    }
    pTest->SessionLeft();
    if (pTest->nLeft.fetch_sub(1) != 1)
        return;
    PTest pEnded = pTest;
    asio::post(pTest->core.Hooks(), [pEnded] {
        std::string strText;
        {
            std::lock_guard<std::mutex> lock(pEnded->cs);
            strText = pEnded->strError;
        }
        pEnded->Ended(strText);
    });
}

// Ends a connected session that moves no byte for the idle timeout (a server that vanished
// without a word).
asio::awaitable<void> WatchSession(PTest pTest, std::shared_ptr<CClientSession> pSession) {
    const std::chrono::seconds idle(pTest->settings.nIdleTimeoutSeconds);
    while (!pSession->bDone) {
        pSession->watch.expires_after(kWatchPeriod);
        co_await pSession->watch.async_wait(kAwaitTuple);
        if (pSession->bDone)
            break;
        if (pSession->stream && idle.count() > 0 &&
            Clock::now() - pSession->stream->Progress().tLastMove >= idle)
            pSession->Cut();
    }
}

// The payload bytes the peer of an upload session acknowledged, when the system tells.
std::optional<uint64_t> AckedPayload(const CTcpFigures& figures) {
    const std::optional<uint64_t>& nAcked = figures.nBytesAcked;
    if (!nAcked)
        return std::nullopt;
    return *nAcked > kHelloSize ? *nAcked - kHelloSize : 0;
}

asio::awaitable<void> RunSession(PTest pTest, size_t nLane, bool bDownload,
                                 Clock::time_point tConnectDeadline) {
    auto pSession = std::make_shared<CClientSession>(pTest->core.Lane(nLane), nLane, bDownload);
    {
        std::lock_guard<std::mutex> lock(pTest->cs);
        pTest->vecSessions.push_back(pSession.get());
    }
    SpawnDetached(pTest->core.Lane(nLane), WatchSession(pTest, pSession));
    std::string strError;
    const asio::error_code ec = co_await ConnectAny(pSession->socket, pTest->vecEndpoints,
                                                    tConnectDeadline, pTest->bStopping);
    if (!ec && !pTest->bStopping.load()) {
        pTest->NoteConnected();
        pSession->stream.emplace(pSession->socket);
        {
            std::lock_guard<std::mutex> lock(pTest->cs);
            pSession->hConnected = pSession->socket.native_handle();
        }
        const unsigned char szHello[kHelloSize] = {'E', 'S', 'T',
                                                   static_cast<unsigned char>(bDownload)};
        std::optional<CRatePacer> pacer;
        if (pTest->settings.nRateBitsPerSecond > 0) {
            pacer.emplace(pTest->core.Lane(nLane),
                          static_cast<double>(pTest->settings.nRateBitsPerSecond) / 8.0 /
                              pTest->settings.nSessions);
        }
        CRatePacer* pPacer = pacer ? &*pacer : nullptr;
        if (co_await SendAll(*pSession->stream, szHello, sizeof(szHello))) {
            if (bDownload)
                co_await ReceiveCountedStream(pTest->engine, *pSession->stream, pPacer);
            else
                co_await SendPatternStream(pTest->engine, *pSession->stream, pPacer);
        }
    } else if (ec && !pTest->bStopping.load()) {
        strError = GetErrorText(ec.value());
    }
    {
        std::lock_guard<std::mutex> lock(pTest->cs);
        std::erase(pTest->vecSessions, pSession.get());
        if (!bDownload && pSession->hConnected != INVALID_SOCKET) {
            const std::optional<uint64_t> nAcked =
                AckedPayload(GetTcpFigures(pSession->hConnected));
            pTest->nAckedByEnded += nAcked.value_or(0);
            pTest->bAckedKnown = pTest->bAckedKnown && nAcked.has_value();
        }
        pSession->hConnected = INVALID_SOCKET;
    }
    asio::error_code ecClose;
    // A download's server side may be waiting to send into this socket: a reset ends it
    // at once, where an orderly close could leave it waiting for a minute or more.
    if (bDownload && pSession->socket.is_open())
        pSession->socket.set_option(asio::socket_base::linger(true, 0), ecClose);
    pSession->socket.close(ecClose);
    pSession->bDone = true;
    pSession->watch.cancel();
    SessionDone(pTest, strError);
}

} // namespace

CClientTest::~CClientTest() {
    StopClientTest();
    WaitForTestEnd();
}

bool CClientTest::StartClientTest(const CClientSettings& settings) {
    if (settings.nSessions < 1)
        return false;
    const int nSessions =
        settings.direction == EClientDirection::kBoth ? 2 * settings.nSessions : settings.nSessions;
    // The count is taken for every session before anything runs, so a second click
    // during the start-up can never see an idle client and start a second test.
    int nExpected = 0;
    if (!m_nActiveClients.compare_exchange_strong(nExpected, nSessions))
        return false;
    m_nConnected.store(0);
    m_bTestActive.store(true);
    auto pTest = std::make_shared<CTest>(*this, m_engine, settings);
    pTest->nLeft.store(nSessions);
    {
        std::lock_guard<std::mutex> lock(m_cs);
        m_pTest = pTest;
        m_ended = CTcpSample();
    }
    m_engine.Core().Hold();
    // The lookup may wait for the system's resolver: the hook thread does it.
    asio::post(m_engine.Core().Hooks(), [pTest, nSessions] {
        for (int i = 0; i < nSessions; ++i)
            pTest->engine.Events().OnClientSessionStarted();
        const int nError = ResolveHost(pTest->settings.strServerAddr, pTest->settings.nServerPort,
                                       pTest->vecEndpoints);
        if (nError != 0 || pTest->bStopping.load()) {
            const std::string strError =
                nError != 0 && !pTest->bStopping.load() ? GetErrorText(nError) : std::string();
            for (int i = 0; i < nSessions; ++i)
                SessionDone(pTest, strError);
            return;
        }
        const CClientSettings& s = pTest->settings;
        auto tDeadline = s.tConnectDeadline;
        if (tDeadline == Clock::time_point{}) {
            tDeadline = s.nConnectTimeoutSeconds > 0
                            ? Clock::now() + std::chrono::seconds(s.nConnectTimeoutSeconds)
                            : Clock::time_point::max();
        }
        for (int i = 0; i < nSessions; ++i) {
            // Both ways: the first half downloads, the second uploads.
            const bool bDownload = s.direction == EClientDirection::kDownload ||
                                   (s.direction == EClientDirection::kBoth && i < s.nSessions);
            const size_t nLane = pTest->core.NextLaneIndex();
            SpawnDetached(pTest->core.Lane(nLane), RunSession(pTest, nLane, bDownload, tDeadline));
        }
    });
    return true;
}

void CClientTest::StopClientTest() {
    std::shared_ptr<CTest> pTest;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        pTest = m_pTest;
    }
    if (!pTest || pTest->bStopping.exchange(true))
        return;
    for (size_t i = 0; i < pTest->core.LaneCount(); ++i) {
        asio::post(pTest->core.Lane(i), [pTest, i] {
            std::lock_guard<std::mutex> lock(pTest->cs);
            for (CClientSession* pSession : pTest->vecSessions) {
                if (pSession->nLane == i)
                    pSession->Cut();
            }
        });
    }
}

CClientTest::CTcpSample CClientTest::SampleTcp() const {
    std::shared_ptr<CTest> pTest;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        if (!m_pTest)
            return m_ended;
        pTest = m_pTest;
    }
    CTcpSample sample;
    std::lock_guard<std::mutex> lock(pTest->cs);
    uint64_t nAcked = pTest->nAckedByEnded;
    bool bAckedKnown = pTest->bAckedKnown;
    for (const CClientSession* pSession : pTest->vecSessions) {
        if (pSession->hConnected == INVALID_SOCKET)
            continue;
        const CTcpFigures figures = GetTcpFigures(pSession->hConnected);
        // A receiving socket's own round trip stands still: it sends nothing to time.
        const std::optional<double> dRtt =
            pSession->bDownload ? figures.dReceiverRttMs : figures.dRttMs;
        if (dRtt)
            sample.vecRttMs.push_back(*dRtt);
        if (!pSession->bDownload) {
            const std::optional<uint64_t> nSessionAcked = AckedPayload(figures);
            nAcked += nSessionAcked.value_or(0);
            bAckedKnown = bAckedKnown && nSessionAcked.has_value();
        }
    }
    if (bAckedKnown)
        sample.nAckedSendBytes = nAcked;
    return sample;
}

void CClientTest::WaitForTestEnd() {
    std::unique_lock<std::mutex> lock(m_cs);
    m_cvEnded.wait(lock, [this] { return !m_pTest; });
}

// The hook thread, once the last session has ended.
void CClientTest::TestEnded(const std::string& strErrorText) {
    std::shared_ptr<CTest> pTest;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        pTest = m_pTest;
    }
    CIoCore& core = m_engine.Core();
    {
        // Every session has ended: what they left behind is the test's final count.
        CTcpSample ended = SampleTcp();
        std::lock_guard<std::mutex> lock(m_cs);
        m_ended = std::move(ended);
    }
    m_engine.Events().OnClientTestEnded(strErrorText);
    // Let go before the waiters wake: one of them may destroy the engine and its core.
    const std::weak_ptr<CTest> pEnded = pTest; // names the test even once it is gone
    pTest.reset();
    core.Release();
    {
        // Whoever waits may destroy this object as soon as the lock is given back.
        std::lock_guard<std::mutex> lock(m_cs);
        // A click after the hook may have started the next test already.
        if (!m_pTest.owner_before(pEnded) && !pEnded.owner_before(m_pTest)) {
            m_pTest.reset();
            m_bTestActive.store(false);
        }
        m_cvEnded.notify_all();
    }
}
