#include "client/latency.h"

#include "client/connect.h"
#include "engine/io_core.h"
#include "support/socket_stream.h"

#include <asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <numeric>

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// One handshake on socket's lane: connect, note the time, close. A stop sets bStop and
// cancels the socket on its lane.
asio::awaitable<COptionalMs> Handshake(tcp::socket& socket,
                                       const std::vector<tcp::endpoint>& vecEndpoints,
                                       std::chrono::milliseconds timeout,
                                       const std::atomic<bool>& bStop) {
    const auto t0 = Clock::now();
    const asio::error_code ec = co_await ConnectAny(socket, vecEndpoints, t0 + timeout, bStop);
    const auto t1 = Clock::now();
    asio::error_code ecClose;
    socket.close(ecClose);
    if (ec)
        co_return std::nullopt;
    co_return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

} // namespace

struct CHandshakeProber::CState {
    explicit CState(asio::io_context& ctx) : timer(ctx), socket(ctx) {}
    std::vector<tcp::endpoint> vecEndpoints;
    asio::steady_timer timer; // lane 0, like the socket
    tcp::socket socket;
    std::atomic<bool> bStop{false};
    mutable std::mutex cs;
    std::condition_variable cv;
    bool bDone = false;
    std::vector<double> vecAll;
};

COptionalMs MeasureHandshakeMs(CKestrunEngine& engine, const std::string& strHost, int nPort,
                               int nTimeoutMs, const std::function<bool()>& fnCancelled) {
    std::vector<tcp::endpoint> vecEndpoints;
    if (ResolveHost(strHost, nPort, vecEndpoints) != 0)
        return std::nullopt;
    CIoCore& core = engine.Core();
    const size_t nLane = core.NextLaneIndex();
    struct CShared {
        explicit CShared(asio::io_context& ctx) : socket(ctx) {}
        tcp::socket socket; // used on its lane only
        std::atomic<bool> bStop{false};
        std::mutex cs;
        std::condition_variable cv;
        bool bDone = false;
        COptionalMs result;
    };
    auto pShared = std::make_shared<CShared>(core.Lane(nLane));
    core.Hold();
    SpawnDetached(core.Lane(nLane),
                  [](std::shared_ptr<CShared> p, std::vector<tcp::endpoint> vec,
                     int nMs) -> asio::awaitable<void> {
                      COptionalMs ms = co_await Handshake(p->socket, vec,
                                                          std::chrono::milliseconds(nMs), p->bStop);
                      std::lock_guard<std::mutex> lock(p->cs);
                      p->result = ms;
                      p->bDone = true;
                      p->cv.notify_all();
                  }(pShared, vecEndpoints, nTimeoutMs));
    std::unique_lock<std::mutex> lock(pShared->cs);
    while (!pShared->cv.wait_for(lock, std::chrono::milliseconds(50),
                                 [&] { return pShared->bDone; })) {
        if (fnCancelled && fnCancelled()) {
            pShared->bStop.store(true);
            asio::post(core.Lane(nLane), [pShared] {
                asio::error_code ec;
                pShared->socket.cancel(ec);
            });
            pShared->cv.wait(lock, [&] { return pShared->bDone; });
            break;
        }
    }
    COptionalMs result = pShared->bStop.load() ? std::nullopt : pShared->result;
    lock.unlock();
    core.Release();
    return result;
}

CHandshakeProber::CHandshakeProber(CKestrunEngine& engine, const std::string& strHost, int nPort)
    : m_engine(engine), m_pState(std::make_shared<CState>(engine.Core().Lane(0))) {
    ResolveHost(strHost, nPort, m_pState->vecEndpoints);
    m_engine.Core().Hold();
    SpawnDetached(m_engine.Core().Lane(0), [](std::shared_ptr<CState> p) -> asio::awaitable<void> {
        auto tNext = Clock::now();
        for (;;) {
            tNext = std::max(tNext + kPeriod, Clock::now());
            p->timer.expires_at(tNext);
            co_await p->timer.async_wait(kAwaitTuple);
            if (p->bStop.load())
                break;
            const COptionalMs ms =
                co_await Handshake(p->socket, p->vecEndpoints, std::chrono::seconds(1), p->bStop);
            if (ms && !p->bStop.load()) {
                std::lock_guard<std::mutex> lock(p->cs);
                p->vecAll.push_back(*ms);
            }
        }
        std::lock_guard<std::mutex> lock(p->cs);
        p->bDone = true;
        p->cv.notify_all();
    }(m_pState));
}

void CHandshakeProber::Stop() {
    if (m_pState->bStop.exchange(true))
        return;
    std::shared_ptr<CState> p = m_pState;
    asio::post(m_engine.Core().Lane(0), [p] {
        p->timer.cancel();
        asio::error_code ec;
        p->socket.cancel(ec);
    });
    {
        std::unique_lock<std::mutex> lock(p->cs);
        p->cv.wait(lock, [&] { return p->bDone; });
    }
    m_engine.Core().Release();
}

std::vector<double> CHandshakeProber::Since(size_t nFrom) const {
    std::lock_guard<std::mutex> lock(m_pState->cs);
    const auto& vecAll = m_pState->vecAll;
    return std::vector<double>(
        vecAll.begin() + static_cast<std::ptrdiff_t>(std::min(nFrom, vecAll.size())), vecAll.end());
}

CLatencySummary SummarizeLatency(std::vector<double> vecMs) {
    CLatencySummary summary;
    if (vecMs.empty())
        return summary;
    std::sort(vecMs.begin(), vecMs.end());
    const size_t n = vecMs.size();
    summary.min = vecMs.front();
    summary.max = vecMs.back();
    summary.median = n % 2 == 1 ? vecMs[n / 2] : (vecMs[n / 2 - 1] + vecMs[n / 2]) / 2;
    summary.mean = std::accumulate(vecMs.begin(), vecMs.end(), 0.0) / static_cast<double>(n);
    return summary;
}
