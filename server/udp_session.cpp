#include "server/udp_session.h"

#include "engine/io_core.h"
#include "engine/udp_sender.h"
#include "engine/udp_wire.h"
#include "server/session_context.h"
#include "support/format.h"
#include "support/socket_stream.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/this_coro.hpp>

#include <atomic>
#include <optional>

using asio::ip::udp;

// One UDP test, shared by its control session (its lane) and the port (lane 0).
struct CUdpFlow {
    CUdpFlow(uint64_t nTestId, bool bSends, uint64_t nRateBps, uint32_t nSize,
             const asio::ip::address& peer)
        : nId(nTestId), bServerSends(bSends), nDatagramSize(nSize), peerHost(PlainAddress(peer)),
          sender(nTestId, nRateBps, nSize) {}

    const uint64_t nId;
    const bool bServerSends;
    const uint32_t nDatagramSize;
    const asio::ip::address peerHost;
    std::atomic<bool> bLive{true};
    std::atomic<uint64_t> nSent{0};
    std::atomic<uint64_t> nBytes{0};
    mutable std::mutex cs;
    CUdpReceiverStats stats; // under cs
    // Lane 0 only: where the download goes (learned from the client's hello), from which
    // socket, and its pacing.
    std::optional<udp::endpoint> dest;
    size_t nSocket = 0;
    CUdpSender sender;
};

CUdpPort::CUdpPort(CKestrunEngine& engine, asio::io_context& lane0)
    : m_engine(engine), m_lane0(lane0), m_pacer(lane0), m_random(std::random_device{}()) {}

CUdpPort::~CUdpPort() = default;

asio::error_code CUdpPort::Open(const std::vector<asio::ip::tcp::acceptor>& acceptors) {
    asio::error_code ecFirst;
    for (const asio::ip::tcp::acceptor& acceptor : acceptors) {
        asio::error_code ec;
        const asio::ip::tcp::endpoint local = acceptor.local_endpoint(ec);
        udp::socket socket(m_lane0);
        const udp::endpoint endpoint(local.address(), local.port());
        if (!ec)
            socket.open(endpoint.protocol(), ec);
        if (!ec && endpoint.protocol() == udp::v6()) {
            asio::ip::v6_only v6Only;
            acceptor.get_option(v6Only, ec);
            if (!ec)
                socket.set_option(v6Only, ec);
        }
        if (!ec)
            socket.bind(endpoint, ec);
        if (!ec) // a larger buffer rides out a slow wake-up at high rates
            socket.set_option(asio::socket_base::receive_buffer_size(4 << 20), ec);
        if (!ec)
            socket.non_blocking(true, ec);
        if (ec) {
            if (!ecFirst)
                ecFirst = ec;
            continue;
        }
        m_vecSockets.push_back(std::move(socket));
    }
    return ecFirst;
}

void CUdpPort::Start(std::function<void()> fnEnded) {
    m_fnEnded = std::move(fnEnded);
    m_nLoops = static_cast<int>(m_vecSockets.size()) + 1;
    for (size_t i = 0; i < m_vecSockets.size(); ++i)
        SpawnDetached(m_lane0, ReceiveLoop(i));
    SpawnDetached(m_lane0, PaceLoop());
}

void CUdpPort::Close() {
    if (m_bClosed)
        return;
    m_bClosed = true;
    asio::error_code ec;
    for (udp::socket& socket : m_vecSockets)
        socket.close(ec);
    m_pacer.cancel();
}

void CUdpPort::LoopEnded() {
    if (--m_nLoops == 0 && m_fnEnded) {
        auto fnEnded = std::move(m_fnEnded);
        fnEnded();
    }
}

std::shared_ptr<CUdpFlow> CUdpPort::Register(bool bServerSends, uint64_t nRateBps,
                                             uint32_t nDatagramSize,
                                             const asio::ip::address& peer) {
    std::lock_guard<std::mutex> lock(m_cs);
    uint64_t nId = 0;
    do {
        nId = m_random();
    } while (nId == 0 || m_mapFlows.count(nId) != 0);
    auto pFlow = std::make_shared<CUdpFlow>(nId, bServerSends, nRateBps, nDatagramSize, peer);
    m_mapFlows.emplace(nId, pFlow);
    return pFlow;
}

void CUdpPort::Unregister(const std::shared_ptr<CUdpFlow>& pFlow) {
    pFlow->bLive.store(false);
    std::lock_guard<std::mutex> lock(m_cs);
    m_mapFlows.erase(pFlow->nId);
}

std::shared_ptr<CUdpFlow> CUdpPort::Find(uint64_t nId) {
    std::lock_guard<std::mutex> lock(m_cs);
    auto it = m_mapFlows.find(nId);
    return it == m_mapFlows.end() ? nullptr : it->second;
}

CUdpFigures CUdpPort::Figures(const CUdpFlow& flow) {
    CUdpFigures figures;
    if (!flow.bServerSends) {
        std::lock_guard<std::mutex> lock(flow.cs);
        figures = flow.stats.Totals();
    }
    figures.nSentDatagrams = flow.nSent.load();
    return figures;
}

uint64_t CUdpPort::Bytes(const CUdpFlow& flow) {
    return flow.nBytes.load();
}

uint64_t CUdpPort::TestId(const CUdpFlow& flow) {
    return flow.nId;
}

// Takes every datagram that has arrived after each wake-up; those of no live test, or
// from another host than its control connection's, are dropped without a word.
asio::awaitable<void> CUdpPort::ReceiveLoop(size_t nSocket) {
    udp::socket& socket = m_vecSockets[nSocket];
    std::vector<unsigned char> vecBuf(kUdpMaxDatagram + 1);
    std::shared_ptr<CUdpFlow> pLast; // the flow of the previous datagram, looked up once
    while (!m_bClosed) {
        auto [ecWait] = co_await socket.async_wait(udp::socket::wait_read, kAwaitTuple);
        if (ecWait || m_bClosed)
            break;
        for (;;) {
            udp::endpoint from;
            asio::error_code ec;
            const size_t n = socket.receive_from(asio::buffer(vecBuf), from, 0, ec);
            if (ec == asio::error::would_block || ec == asio::error::try_again)
                break;
            // A port-unreachable report for an earlier send (Windows): not this socket's.
            if (ec == asio::error::connection_reset || ec == asio::error::connection_refused)
                continue;
            if (ec)
                break;
            const uint64_t nArrival = UdpNowMicros();
            uint64_t nId = 0;
            uint32_t nSequence = 0, nSendMicros = 0;
            if (!DecodeUdpHeader(vecBuf.data(), n, nId, nSequence, nSendMicros))
                continue;
            if (!pLast || pLast->nId != nId || !pLast->bLive.load())
                pLast = Find(nId);
            if (!pLast || PlainAddress(from.address()) != pLast->peerHost)
                continue;
            CUdpFlow& flow = *pLast;
            if (flow.bServerSends) {
                const bool bFirst = !flow.dest;
                flow.dest = from;
                flow.nSocket = nSocket;
                if (bFirst)
                    m_pacer.cancel(); // a download to start
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(flow.cs);
                flow.stats.Add(nSequence, nSendMicros, nArrival);
            }
            flow.nBytes.fetch_add(n);
            m_engine.AddRecvBytes(n);
        }
    }
    LoopEnded();
}

// Every tick, each download with a known address gets the datagrams due by now; with no
// download the pacer sleeps until a hello wakes it.
asio::awaitable<void> CUdpPort::PaceLoop() {
    std::vector<std::shared_ptr<CUdpFlow>> vecSending;
    while (!m_bClosed) {
        vecSending.clear();
        {
            std::lock_guard<std::mutex> lock(m_cs);
            for (const auto& [nId, pFlow] : m_mapFlows) {
                if (pFlow->bServerSends && pFlow->dest)
                    vecSending.push_back(pFlow);
            }
        }
        for (const auto& pFlow : vecSending) {
            if (!pFlow->bLive.load() || pFlow->nSocket >= m_vecSockets.size())
                continue;
            const uint64_t nBefore = pFlow->sender.Sent();
            const asio::error_code ec =
                pFlow->sender.SendDue(m_vecSockets[pFlow->nSocket], *pFlow->dest, m_engine);
            const uint64_t nNew = pFlow->sender.Sent() - nBefore;
            pFlow->nBytes.fetch_add(nNew * pFlow->nDatagramSize);
            pFlow->nSent.store(pFlow->sender.Sent());
            if (ec)
                TraceDebug("UDP send: %s", ec.message().c_str());
        }
        if (vecSending.empty())
            m_pacer.expires_at(asio::steady_timer::time_point::max());
        else
            m_pacer.expires_after(CUdpSender::kTick);
        co_await m_pacer.async_wait(kAwaitTuple);
    }
    LoopEnded();
}

namespace {

// The control connection's reader: the client's reports, its stop, then its close.
struct CControlState {
    bool bStopAsked = false;
    bool bReaderDone = false;
    CUdpFigures peerFigures;
};

asio::awaitable<void> ReadControl(CByteStream& stream, std::shared_ptr<CControlState> pState,
                                  asio::steady_timer& wake) {
    unsigned char record[kUdpRecordSize];
    while (co_await RecvAll(stream, record, sizeof(record))) {
        EUdpRecord kind;
        CUdpFigures figures;
        if (!DecodeUdpRecord(record, kind, figures))
            break;
        pState->peerFigures = figures;
        if (kind == EUdpRecord::kStop && !pState->bStopAsked) {
            pState->bStopAsked = true;
            wake.cancel();
        }
    }
    pState->bReaderDone = true;
    wake.cancel();
}

} // namespace

asio::awaitable<uint64_t> ServeUdpTest(CByteStream& stream, const CUdpServerLink* pLink,
                                       CUdpFigures& figures, CSessionContext* pContext) {
    unsigned char request[kUdpRequestSize];
    if (!co_await RecvAll(stream, request, sizeof(request)))
        co_return 0;
    stream.StopHeadClock();
    CUdpRequest params;
    DecodeUdpRequest(request, params);
    EUdpStatus status = CheckUdpRequest(params);
    if (status == EUdpStatus::kAccepted && (pLink == nullptr || pLink->pPort == nullptr))
        status = EUdpStatus::kUnavailable;
    unsigned char answer[kUdpAnswerSize];
    if (status != EUdpStatus::kAccepted) {
        EncodeUdpAnswer(status, 0, answer);
        co_await SendAll(stream, answer, sizeof(answer));
        co_return 0;
    }
    CUdpPort& port = *pLink->pPort;
    const std::shared_ptr<CUdpFlow> pFlow =
        port.Register(params.bServerSends, params.nRateBps, params.nDatagramSize, pLink->peer);
    EncodeUdpAnswer(status, CUdpPort::TestId(*pFlow), answer);
    if (pContext != nullptr)
        pContext->Join(kKindUdp, params.bServerSends ? "download" : "upload", stream.Tally());
    if (co_await SendAll(stream, answer, sizeof(answer))) {
        auto executor = co_await asio::this_coro::executor;
        asio::steady_timer wake(executor);
        auto pState = std::make_shared<CControlState>();
        asio::co_spawn(executor, ReadControl(stream, pState, wake), asio::detached);
        unsigned char record[kUdpRecordSize];
        while (!pState->bReaderDone && !pState->bStopAsked) {
            wake.expires_after(std::chrono::milliseconds(100));
            co_await wake.async_wait(kAwaitTuple);
            if (pState->bReaderDone || pState->bStopAsked)
                break;
            EncodeUdpRecord(EUdpRecord::kReport, CUdpPort::Figures(*pFlow), record);
            if (!co_await SendAll(stream, record, sizeof(record)))
                break;
        }
        port.Unregister(pFlow);
        if (pState->bStopAsked && !pState->bReaderDone) {
            EncodeUdpRecord(EUdpRecord::kFinal, CUdpPort::Figures(*pFlow), record);
            co_await SendAll(stream, record, sizeof(record));
        }
        // The reader ends when the client closes (or the watch cuts the connection).
        while (!pState->bReaderDone) {
            wake.expires_at(asio::steady_timer::time_point::max());
            co_await wake.async_wait(kAwaitTuple);
        }
        // The whole test: this side's figures with the client's side's.
        const CUdpFigures mine = CUdpPort::Figures(*pFlow);
        figures = params.bServerSends ? pState->peerFigures : mine;
        figures.nSentDatagrams =
            params.bServerSends ? mine.nSentDatagrams : pState->peerFigures.nSentDatagrams;
    } else {
        port.Unregister(pFlow);
    }
    const uint64_t nBytes = CUdpPort::Bytes(*pFlow);
    params.bServerSends ? stream.CountSent(nBytes) : stream.CountRecv(nBytes);
    co_return nBytes;
}
