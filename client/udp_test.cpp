#include "client/udp_test.h"

#include "client/connect.h"
#include "engine/io_core.h"
#include "engine/udp_sender.h"
#include "support/error_text.h"
#include "support/socket_stream.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/ip/udp.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <optional>
#include <vector>

using asio::ip::tcp;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;
using namespace asio::experimental::awaitable_operators;

namespace {
const auto kReportPeriod = std::chrono::milliseconds(100);
const auto kHelloPeriod = std::chrono::milliseconds(100);
} // namespace

struct CUdpClientTest::CRun {
    CRun(CUdpClientTest& test, const CUdpTestSettings& s, asio::io_context& ctx)
        : owner(test), engine(test.m_engine), settings(s), lane(ctx), control(ctx), data(ctx),
          wake(ctx), tick(ctx) {}

    CUdpClientTest& owner;
    CKestrunEngine& engine;
    const CUdpTestSettings settings;
    asio::io_context& lane;
    std::vector<tcp::endpoint> vecEndpoints; // written before the run starts
    // Lane only:
    tcp::socket control;
    udp::socket data;
    asio::steady_timer wake; // the main loop's
    asio::steady_timer tick; // the sender's or the hello's
    udp::endpoint server;
    uint64_t nTestId = 0;
    bool bStopAsked = false;
    bool bFinal = false;
    bool bReaderDone = false;
    bool bGotData = false;
    int nHelpers = 0; // coroutines besides the main one still running
    std::optional<CUdpSender> sender;
    // Any thread, under cs:
    std::atomic<bool> bStopping{false};
    mutable std::mutex cs;
    bool bAccepted = false;
    CUdpReceiverStats stats;   // a download's
    CUdpFigures serverFigures; // the server's latest report
    uint64_t nSent = 0;        // an upload's

    CUdpFigures Figures() const {
        std::lock_guard<std::mutex> lock(cs);
        CUdpFigures figures = settings.bUpload ? serverFigures : stats.Totals();
        figures.nSentDatagrams = settings.bUpload ? nSent : serverFigures.nSentDatagrams;
        return figures;
    }
};

namespace {

using PRun = std::shared_ptr<CUdpClientTest::CRun>;

void HelperDone(CUdpClientTest::CRun& run) {
    --run.nHelpers;
    run.wake.cancel();
}

// The server's reports and its final figures.
asio::awaitable<void> ReadReports(PRun pRun) {
    unsigned char record[kUdpRecordSize];
    for (;;) {
        auto [ec, n] = co_await asio::async_read(pRun->control, asio::buffer(record), kAwaitTuple);
        (void)n;
        EUdpRecord kind;
        CUdpFigures figures;
        if (ec || !DecodeUdpRecord(record, kind, figures))
            break;
        {
            std::lock_guard<std::mutex> lock(pRun->cs);
            pRun->serverFigures = figures;
        }
        if (kind == EUdpRecord::kFinal) {
            pRun->bFinal = true;
            break;
        }
    }
    pRun->bReaderDone = true;
    HelperDone(*pRun);
}

// An upload: the datagrams due, every tick, until the stop.
asio::awaitable<void> SendDatagrams(PRun pRun) {
    while (!pRun->bStopAsked) {
        const asio::error_code ec = pRun->sender->SendDue(pRun->data, pRun->server, pRun->engine);
        {
            std::lock_guard<std::mutex> lock(pRun->cs);
            pRun->nSent = pRun->sender->Sent();
        }
        if (ec)
            break;
        pRun->tick.expires_after(CUdpSender::kTick);
        co_await pRun->tick.async_wait(kAwaitTuple);
    }
    HelperDone(*pRun);
}

// A download: hellos from the receiving socket until the first datagram arrives.
asio::awaitable<void> SendHellos(PRun pRun) {
    unsigned char header[kUdpHeaderSize];
    while (!pRun->bStopAsked && !pRun->bGotData) {
        EncodeUdpHeader(pRun->nTestId, 0, static_cast<uint32_t>(UdpNowMicros()), header);
        asio::error_code ec;
        pRun->data.send_to(asio::buffer(header), pRun->server, 0, ec);
        pRun->tick.expires_after(kHelloPeriod);
        co_await pRun->tick.async_wait(kAwaitTuple);
    }
    HelperDone(*pRun);
}

// A download: every datagram of this test that has arrived after each wake-up, until the
// socket closes.
asio::awaitable<void> ReceiveDatagrams(PRun pRun) {
    std::vector<unsigned char> vecBuf(kUdpMaxDatagram + 1);
    for (;;) {
        auto [ecWait] = co_await pRun->data.async_wait(udp::socket::wait_read, kAwaitTuple);
        if (ecWait || !pRun->data.is_open())
            break;
        std::unique_lock<std::mutex> lock(pRun->cs);
        uint64_t nBytes = 0;
        for (;;) {
            udp::endpoint from;
            asio::error_code ec;
            const size_t n = pRun->data.receive_from(asio::buffer(vecBuf), from, 0, ec);
            if (ec == asio::error::connection_reset || ec == asio::error::connection_refused)
                continue; // a port-unreachable report for a hello (Windows)
            if (ec)
                break;
            const uint64_t nArrival = UdpNowMicros();
            uint64_t nId = 0;
            uint32_t nSequence = 0, nSendMicros = 0;
            if (!DecodeUdpHeader(vecBuf.data(), n, nId, nSequence, nSendMicros) ||
                nId != pRun->nTestId)
                continue;
            pRun->stats.Add(nSequence, nSendMicros, nArrival);
            nBytes += n;
        }
        lock.unlock();
        if (nBytes != 0) {
            pRun->bGotData = true;
            pRun->engine.AddRecvBytes(nBytes);
        }
    }
    HelperDone(*pRun);
}

const char* RefusalText(EUdpStatus status) {
    switch (status) {
    case EUdpStatus::kBadVersion:
        return "the server speaks another version of the UDP test";
    case EUdpStatus::kBadParameters:
        return "the server refused the rate or the datagram size";
    case EUdpStatus::kUnavailable:
        return "the server has no UDP socket: it serves TCP tests only";
    default:
        return "the server refused the UDP test";
    }
}

// Connects, asks for the test and has the answer, all by tDeadline. Empty on success.
asio::awaitable<std::string> OpenTest(PRun pRun, Clock::time_point tDeadline) {
    CUdpClientTest::CRun& run = *pRun;
    const asio::error_code ecConnect =
        co_await ConnectAny(run.control, run.vecEndpoints, tDeadline, run.bStopping);
    if (ecConnect)
        co_return run.bStopping.load() ? std::string() : GetErrorText(ecConnect.value());
    asio::error_code ec;
    run.control.set_option(tcp::no_delay(true), ec);
    unsigned char hello[4 + kUdpRequestSize] = {'E', 'S', 'T', kUdpMode};
    CUdpRequest request;
    request.bServerSends = !run.settings.bUpload;
    request.nDatagramSize = run.settings.nDatagramSize;
    request.nRateBps = run.settings.nRateBps;
    EncodeUdpRequest(request, hello + 4);
    unsigned char answer[kUdpAnswerSize];
    run.wake.expires_at(tDeadline);
    auto result = co_await ((asio::async_write(run.control, asio::buffer(hello), kAwaitTuple) &&
                             asio::async_read(run.control, asio::buffer(answer), kAwaitTuple)) ||
                            run.wake.async_wait(kAwaitTuple));
    if (run.bStopping.load())
        co_return std::string();
    if (result.index() == 1)
        co_return "the server did not answer the UDP test's request in time";
    const auto& [ecWrite, nWritten, readResult] = std::get<0>(result);
    (void)nWritten;
    if (ecWrite || std::get<0>(readResult))
        co_return "the server does not serve UDP tests (it closed the control connection)";
    EUdpStatus status;
    DecodeUdpAnswer(answer, status, run.nTestId);
    if (status != EUdpStatus::kAccepted)
        co_return RefusalText(status);
    const tcp::endpoint peer = run.control.remote_endpoint(ec);
    if (ec)
        co_return GetErrorText(ec.value());
    run.server = udp::endpoint(peer.address(), peer.port());
    run.data.open(run.server.protocol(), ec);
    if (!ec)
        run.data.set_option(asio::socket_base::receive_buffer_size(4 << 20), ec);
    if (!ec)
        run.data.non_blocking(true, ec);
    if (ec)
        co_return GetErrorText(ec.value());
    std::lock_guard<std::mutex> lock(run.cs);
    run.bAccepted = true;
    co_return std::string();
}

asio::awaitable<void> RunTest(PRun pRun, Clock::time_point tDeadline) {
    CUdpClientTest::CRun& run = *pRun;
    std::string strError = co_await OpenTest(pRun, tDeadline);
    if (strError.empty() && !run.bStopping.load()) {
        run.nHelpers = 2;
        SpawnDetached(run.lane, ReadReports(pRun));
        if (run.settings.bUpload) {
            run.sender.emplace(run.nTestId, run.settings.nRateBps, run.settings.nDatagramSize);
            SpawnDetached(run.lane, SendDatagrams(pRun));
        } else {
            ++run.nHelpers;
            SpawnDetached(run.lane, ReceiveDatagrams(pRun));
            SpawnDetached(run.lane, SendHellos(pRun));
        }
        const auto tFirstData =
            Clock::now() + std::chrono::seconds(run.settings.nConnectTimeoutSeconds);
        unsigned char record[kUdpRecordSize];
        while (!run.bStopping.load() && !run.bReaderDone) {
            run.wake.expires_after(kReportPeriod);
            co_await run.wake.async_wait(kAwaitTuple);
            if (run.bStopping.load() || run.bReaderDone)
                break;
            const CUdpFigures mine = run.Figures();
            if (Clock::now() >= tFirstData && mine.nReceivedDatagrams == 0 &&
                (!run.settings.bUpload || mine.nSentDatagrams > 0)) {
                strError = run.settings.bUpload
                               ? "the server received none of the datagrams (is UDP blocked?)"
                               : "no datagram arrived from the server (is UDP blocked?)";
                break;
            }
            EncodeUdpRecord(EUdpRecord::kReport, mine, record);
            auto [ec, n] =
                co_await asio::async_write(run.control, asio::buffer(record), kAwaitTuple);
            (void)n;
            if (ec)
                break;
        }
        if (strError.empty() && run.bReaderDone && !run.bStopping.load())
            strError = "the server ended the UDP test";
        // The stop: no more sending, then the final figures.
        run.bStopAsked = true;
        run.tick.cancel();
        if (!run.bReaderDone) {
            EncodeUdpRecord(EUdpRecord::kStop, run.Figures(), record);
            auto [ec, n] =
                co_await asio::async_write(run.control, asio::buffer(record), kAwaitTuple);
            (void)n;
            const auto tGiveUp = Clock::now() + CUdpClientTest::kFinalWait;
            while (!ec && !run.bReaderDone && Clock::now() < tGiveUp) {
                run.wake.expires_at(tGiveUp);
                co_await run.wake.async_wait(kAwaitTuple);
            }
        }
        asio::error_code ec;
        run.control.close(ec);
        run.data.close(ec);
        run.tick.cancel();
        while (run.nHelpers > 0) {
            run.wake.expires_at(Clock::time_point::max());
            co_await run.wake.async_wait(kAwaitTuple);
        }
    }
    asio::error_code ec;
    if (run.control.is_open())
        run.control.close(ec);
    if (run.data.is_open())
        run.data.close(ec);
    PRun pEnded = pRun;
    asio::post(run.engine.Core().Hooks(), [pEnded, strError] { pEnded->owner.Ended(strError); });
}

} // namespace

CUdpClientTest::~CUdpClientTest() {
    Stop();
}

bool CUdpClientTest::Start(const CUdpTestSettings& settings) {
    std::shared_ptr<CRun> pRun;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_pRun && !m_bEnded)
            return false;
        const size_t nLane = m_engine.Core().NextLaneIndex();
        pRun = std::make_shared<CRun>(*this, settings, m_engine.Core().Lane(nLane));
        m_pRun = pRun;
        m_bEnded = false;
        m_strError.clear();
    }
    m_engine.Core().Hold();
    // The lookup may wait for the system's resolver: the hook thread does it.
    asio::post(m_engine.Core().Hooks(), [pRun] {
        const int nTimeout = pRun->settings.nConnectTimeoutSeconds;
        const auto tDeadline = Clock::now() + std::chrono::seconds(nTimeout);
        const int nError =
            ResolveHost(pRun->settings.strHost, pRun->settings.nPort, pRun->vecEndpoints);
        if (nError != 0) {
            pRun->owner.Ended(GetErrorText(nError));
            return;
        }
        SpawnDetached(pRun->lane, RunTest(pRun, tDeadline));
    });
    return true;
}

std::shared_ptr<CUdpClientTest::CRun> CUdpClientTest::CurrentRun() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_pRun;
}

CUdpFigures CUdpClientTest::Figures() const {
    const std::shared_ptr<CRun> pRun = CurrentRun();
    return pRun ? pRun->Figures() : CUdpFigures();
}

bool CUdpClientTest::Accepted() const {
    const std::shared_ptr<CRun> pRun = CurrentRun();
    if (!pRun)
        return false;
    std::lock_guard<std::mutex> lock(pRun->cs);
    return pRun->bAccepted;
}

bool CUdpClientTest::WaitEnded(int nTimeoutMs) {
    std::unique_lock<std::mutex> lock(m_cs);
    return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [this] { return m_bEnded; });
}

void CUdpClientTest::Stop() {
    const std::shared_ptr<CRun> pRun = CurrentRun();
    if (pRun && !pRun->bStopping.exchange(true)) {
        asio::post(pRun->lane, [pRun] {
            pRun->wake.cancel();
            asio::error_code ec;
            if (!pRun->bAccepted)
                pRun->control.cancel(ec); // a connect or the request under way
        });
    }
    std::unique_lock<std::mutex> lock(m_cs);
    m_cv.wait(lock, [this] { return m_bEnded; });
}

std::string CUdpClientTest::ErrorText() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_strError;
}

// The hook thread, once the test's coroutines have all ended.
void CUdpClientTest::Ended(const std::string& strError) {
    m_engine.Events().OnClientTestEnded(strError);
    m_engine.Core().Release();
    std::lock_guard<std::mutex> lock(m_cs);
    m_strError = strError;
    m_bEnded = true;
    // Figures() keeps answering with the final figures until the next Start.
    m_cv.notify_all();
}
