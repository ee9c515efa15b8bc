// The test server's run on the I/O core: the listening sockets, the accept loops, each
// session's coroutine, the watch that ends idle and slow sessions, and the stop.
#include "server/test_server.h"

#include "engine/io_core.h"
#include "engine/results_history.h"
#include "engine/test_tracker.h"
#include "engine/results_db.h"
#include "server/assets.h"
#include "server/session.h"
#include "server/udp_session.h"
#include "support/accept_errors.h"
#include "support/error_text.h"
#include "support/format.h"
#include "support/socket_stream.h"

#include <asio/ip/v6_only.hpp>
#include <asio/steady_timer.hpp>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// How often each core thread's watch looks at its sessions.
const auto kWatchPeriod = std::chrono::milliseconds(250);
// How long accepting pauses when descriptors or memory have run out, unless a session
// ends first.
const auto kAcceptPause = std::chrono::milliseconds(100);

// One accepted connection, alive as long as its session's coroutine.
struct CServerConnection {
    explicit CServerConnection(tcp::socket s) : socket(std::move(s)), stream(socket) {}
    tcp::socket socket;
    CSocketStream stream;
    // The watch's current window: when it began and the bytes moved by then.
    Clock::time_point tWindowStart = Clock::now();
    uint64_t nWindowStartBytes = 0;
};

// A lane with more sessions than one look at its readiness events reports (Asio takes
// 128 a time) is crowded: its senders take turns.
const size_t kCrowdedLane = 128;

// The sessions of one core thread; touched only on that thread.
struct CLaneSessions {
    explicit CLaneSessions(asio::io_context& ctx) : watch(ctx) {}
    std::unordered_set<CServerConnection*> sessions;
    bool bCrowded = false;
    asio::steady_timer watch;
};

} // namespace

struct CTestServer::CRun {
    CRun(CTestServer& owner, CKestrunEngine& eng, const CServerSettings& s)
        : server(owner), engine(eng), core(eng.Core()), settings(s), acceptPause(core.Lane(0)) {
        nCap = static_cast<size_t>(s.nMaxSessions > 0 ? s.nMaxSessions : DefaultSessionCap());
        for (size_t i = 0; i < core.LaneCount(); ++i)
            lanes.push_back(std::make_unique<CLaneSessions>(core.Lane(i)));
        if (s.bKeepResults) {
            const std::string strPath =
                s.strResultsDb.empty() ? DefaultResultsPath() : s.strResultsDb;
            CEngineEvents& events = eng.Events();
            auto fnWarn = [&events](const std::string& strText) {
                events.OnServerWarning(strText);
            };
            if (strPath.empty())
                fnWarn("the results history is off: no folder for it (set HOME, or name a file)");
            else
                pHistory = std::make_unique<CResultsHistory>(strPath, fnWarn);
        }
        results.pTracker = &tracker;
        results.pHistory = pHistory.get();
        results.strToken = s.strResultsToken;
        results.pSessions = &nSessions;
    }

    CTestServer& server;
    CKestrunEngine& engine;
    CIoCore& core;
    const CServerSettings settings;
    size_t nCap = 0;
    std::vector<std::unique_ptr<CLaneSessions>> lanes;
    // The listening sockets and the accept pause: only on lane 0's thread.
    std::vector<tcp::acceptor> acceptors;
    // The UDP sockets beside them, for UDP tests; lane 0 too.
    std::unique_ptr<CUdpPort> pUdp;
    asio::steady_timer acceptPause;
    std::atomic<bool> bStopping{false};
    std::atomic<bool> bListening{false};
    std::atomic<bool> bAcceptPaused{false};
    bool bAcceptFailed = false; // written before the last pending item ends
    std::string strAcceptError;
    std::atomic<size_t> nSessions{0};
    // The run's start, its accept loops and its sessions; the run ends when none is left.
    std::atomic<int> nPending{1};
    std::mutex csHosts;
    std::unordered_map<std::string, int> mapHostSessions;
    // The history and the tests running now; the tracker's ended tests go to the history.
    // The lock keeps a late sweep of lane 0's watch from adding while the run's end
    // closes the history; adding only queues.
    std::mutex csHistory;
    std::unique_ptr<CResultsHistory> pHistory;
    CTestTracker tracker{[this](CTestResult result) {
        std::lock_guard<std::mutex> lock(csHistory);
        if (pHistory)
            pHistory->Add(std::move(result));
    }};
    CResultsContext results;
};

namespace {

using PRun = std::shared_ptr<CTestServer::CRun>;

void PendingDone(const PRun& pRun);

// Cuts everything of the run, from any thread: the listening sockets close, every
// session is cut with a reset, the watches end.
void StopRun(const PRun& pRun) {
    if (pRun->bStopping.exchange(true))
        return;
    asio::post(pRun->core.Lane(0), [pRun] {
        asio::error_code ec;
        for (tcp::acceptor& acceptor : pRun->acceptors)
            acceptor.close(ec);
        if (pRun->pUdp)
            pRun->pUdp->Close();
        pRun->bListening.store(false);
        pRun->acceptPause.cancel();
    });
    for (size_t i = 0; i < pRun->lanes.size(); ++i) {
        asio::post(pRun->core.Lane(i), [pRun, i] {
            CLaneSessions& lane = *pRun->lanes[i];
            for (CServerConnection* pConnection : lane.sessions)
                pConnection->stream.Cut(true);
            lane.watch.cancel();
        });
    }
}

// A session's place in the run, given back however its coroutine ends.
class CSessionSlot {
public:
    CSessionSlot(PRun pRun, size_t nLane, CServerConnection& connection, std::string strHost)
        : m_pRun(std::move(pRun)), m_lane(*m_pRun->lanes[nLane]), m_connection(connection),
          m_strHost(std::move(strHost)) {
        m_lane.sessions.insert(&m_connection);
        m_lane.bCrowded = m_lane.sessions.size() > kCrowdedLane;
        m_connection.stream.TakeTurnsWhen(&m_lane.bCrowded);
        if (m_pRun->bStopping.load())
            m_connection.stream.Cut(true); // the stop's walk came before this session
    }
    ~CSessionSlot() {
        m_lane.sessions.erase(&m_connection);
        m_lane.bCrowded = m_lane.sessions.size() > kCrowdedLane;
        asio::error_code ec;
        m_connection.socket.close(ec);
        if (!m_strHost.empty()) {
            std::lock_guard<std::mutex> lock(m_pRun->csHosts);
            auto it = m_pRun->mapHostSessions.find(m_strHost);
            if (it != m_pRun->mapHostSessions.end() && --it->second == 0)
                m_pRun->mapHostSessions.erase(it);
        }
        m_pRun->nSessions.fetch_sub(1);
        if (m_pRun->bAcceptPaused.load()) {
            PRun pRun = m_pRun;
            asio::post(pRun->core.Lane(0), [pRun] { pRun->acceptPause.cancel(); });
        }
        PendingDone(m_pRun);
    }
    CSessionSlot(const CSessionSlot&) = delete;
    CSessionSlot& operator=(const CSessionSlot&) = delete;

private:
    PRun m_pRun;
    CLaneSessions& m_lane;
    CServerConnection& m_connection;
    std::string m_strHost;
};

// The session's place in a test, given back however its coroutine ends.
class CTestMembership {
public:
    CTestMembership(CTestTracker& tracker, CSessionContext& context)
        : m_tracker(tracker), m_context(context) {}
    ~CTestMembership() {
        if (m_context.nMember != 0)
            m_tracker.Leave(m_context.nMember);
        m_tracker.SessionEnded(m_context.nMember != 0);
    }
    CTestMembership(const CTestMembership&) = delete;
    CTestMembership& operator=(const CTestMembership&) = delete;

private:
    CTestTracker& m_tracker;
    CSessionContext& m_context;
};

asio::awaitable<void> ServeSession(PRun pRun, size_t nLane, tcp::socket socket, tcp::endpoint peer,
                                   std::string strHost) {
    CServerConnection connection(std::move(socket));
    CSessionSlot slot(pRun, nLane, connection, std::move(strHost));
    CSessionContext context;
    context.pRun = &pRun->results;
    context.strPeer = FormatHostAddress(peer.address());
    context.bLocalPeer = PlainAddress(peer.address()).is_loopback();
    CTestMembership membership(pRun->tracker, context);
    CSessionRecord record;
    record.strPeer = FormatEndpoint(peer);
    pRun->engine.Events().OnServerSessionStarted(record.strPeer);
    const auto tStart = Clock::now();
    CUdpServerLink udpLink;
    udpLink.pPort = pRun->pUdp.get();
    udpLink.peer = peer.address();
    const CSessionOutcome outcome = co_await ServeConnection(
        pRun->engine, connection.stream, *pRun->settings.pPageTexts, &udpLink, &context);
    if (outcome.bLinger && !connection.stream.IsCut())
        co_await connection.stream.LingerClose();
    record.pszMode = outcome.pszMode;
    record.nBytes = outcome.nBytes;
    record.bUdp = outcome.bUdp;
    record.udp = outcome.udp;
    record.dSeconds = std::chrono::duration<double>(Clock::now() - tStart).count();
    pRun->engine.Events().OnServerSessionEnded(record);
}

// A peer address as the key of its host: its bytes, an IPv4-mapped address as IPv4.
std::string HostKey(const asio::ip::address& address) {
    const asio::ip::address plain = PlainAddress(address);
    if (plain.is_v4()) {
        const auto bytes = plain.to_v4().to_bytes();
        return std::string(bytes.begin(), bytes.end());
    }
    const auto bytes = plain.to_v6().to_bytes();
    return std::string(bytes.begin(), bytes.end());
}

// Takes an accepted connection into the run, or closes it at once when a cap is full.
// Lane 0's thread.
void Admit(const PRun& pRun, size_t nLane, tcp::socket socket, const tcp::endpoint& peer) {
    asio::error_code ec;
    if (pRun->nSessions.load() >= pRun->nCap) {
        socket.close(ec); // the peer learns now instead of waiting in the backlog
        return;
    }
    std::string strHost;
    if (pRun->settings.nMaxSessionsPerHost > 0) {
        strHost = HostKey(peer.address());
        std::lock_guard<std::mutex> lock(pRun->csHosts);
        int& nHostSessions = pRun->mapHostSessions[strHost];
        if (nHostSessions >= pRun->settings.nMaxSessionsPerHost) {
            socket.close(ec);
            return;
        }
        ++nHostSessions;
    }
    pRun->nSessions.fetch_add(1);
    pRun->nPending.fetch_add(1);
    SpawnDetached(pRun->core.Lane(nLane),
                  ServeSession(pRun, nLane, std::move(socket), peer, std::move(strHost)));
}

// Accepts until a stop or a failure of the listening socket itself; after each wake-up,
// until the queue is empty. Lane 0's thread.
asio::awaitable<void> AcceptLoop(PRun pRun, size_t nAcceptor) {
    tcp::acceptor& acceptor = pRun->acceptors[nAcceptor];
    CIoCore& core = pRun->core;
    while (!pRun->bStopping.load()) {
        size_t nLane = core.NextLaneIndex();
        tcp::endpoint peer;
        auto [ec, socket] = co_await acceptor.async_accept(core.Lane(nLane), peer, kAwaitTuple);
        if (pRun->bStopping.load())
            break;
        if (ec) {
            // Out of descriptors or memory, or one connection that failed on its way in:
            // the listening socket is fine, so wait for room and go on. A peer must never
            // be able to end the server.
            if (!IsTransientAcceptError(ec.value())) {
                pRun->bAcceptFailed = true;
                pRun->strAcceptError = GetErrorText(ec.value());
                StopRun(pRun);
                break;
            }
            if (!pRun->bAcceptPaused.exchange(true)) {
                pRun->tracker.AcceptPaused();
                TraceDebug("accepting paused: %s", GetErrorText(ec.value()).c_str());
            }
            pRun->acceptPause.expires_after(kAcceptPause);
            co_await pRun->acceptPause.async_wait(kAwaitTuple);
            continue;
        }
        pRun->bAcceptPaused.store(false);
        Admit(pRun, nLane, std::move(socket), peer);
        for (;;) {
            nLane = core.NextLaneIndex();
            tcp::socket next(core.Lane(nLane));
            acceptor.accept(next, peer, ec);
            if (ec)
                break; // the queue is empty, or the next accept says why
            Admit(pRun, nLane, std::move(next), peer);
        }
    }
    PendingDone(pRun);
}

// Ends the sessions of one core thread that stay silent for the idle timeout, move fewer
// than kMinWindowBytes in one, or do not complete a head in time.
asio::awaitable<void> WatchLane(PRun pRun, size_t nLane) {
    CLaneSessions& lane = *pRun->lanes[nLane];
    const std::chrono::seconds idle(pRun->settings.nIdleTimeoutSeconds);
    while (!pRun->bStopping.load()) {
        lane.watch.expires_after(kWatchPeriod);
        co_await lane.watch.async_wait(kAwaitTuple);
        if (pRun->bStopping.load())
            break;
        if (nLane == 0)
            pRun->tracker.Sweep(); // full tests past their grace end, live rates
        const auto tNow = Clock::now();
        for (CServerConnection* p : lane.sessions) {
            const CStreamProgress& progress = p->stream.Progress();
            bool bCut = tNow >= progress.tHeadDeadline;
            if (!bCut && idle.count() > 0) {
                bCut = tNow - progress.tLastMove >= idle;
                if (!bCut && tNow - p->tWindowStart >= idle) {
                    bCut =
                        progress.nMoved - p->nWindowStartBytes < CServerSettings::kMinWindowBytes;
                    p->tWindowStart = tNow;
                    p->nWindowStartBytes = progress.nMoved;
                }
            }
            if (bCut)
                p->stream.Cut(true);
        }
    }
}

// Opens one listening socket on lane 0; bDualStack lets an IPv6 socket take IPv4 too.
asio::error_code OpenAcceptor(const PRun& pRun, const tcp::endpoint& endpoint, bool bDualStack) {
    tcp::acceptor acceptor(pRun->core.Lane(0));
    asio::error_code ec;
    acceptor.open(endpoint.protocol(), ec);
    if (ec)
        return ec;
    if (endpoint.protocol() == tcp::v6()) {
        acceptor.set_option(asio::ip::v6_only(!bDualStack), ec);
        if (ec)
            return ec;
    }
#if !defined(_WIN32)
    // A port a previous run left in TIME_WAIT can be taken again. Not on Windows, where
    // the option would let other programs steal the port.
    acceptor.set_option(asio::socket_base::reuse_address(true), ec);
#endif
    acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(CKestrunEngine::kListenBacklog, ec);
    if (!ec)
        acceptor.non_blocking(true, ec);
    if (ec)
        return ec;
    pRun->acceptors.push_back(std::move(acceptor));
    return ec;
}

// Every interface: one dual-stack IPv6 socket, or where the system has none, an IPv6 and
// an IPv4 socket on one port, or IPv4 alone where there is no IPv6.
asio::error_code OpenListeners(const PRun& pRun) {
    asio::ip::address address;
    if (!ParseListenAddress(pRun->settings.strListenAddr, address))
        return asio::error::invalid_argument;
    const int nPort = pRun->settings.nListenPort;
    const auto nPortValue = static_cast<unsigned short>(nPort);
    if (!pRun->settings.strListenAddr.empty())
        return OpenAcceptor(pRun, tcp::endpoint(address, nPortValue), false);
    asio::error_code ec = OpenAcceptor(pRun, tcp::endpoint(tcp::v6(), nPortValue), true);
    if (!ec || ec == asio::error::address_in_use || ec == asio::error::access_denied)
        return ec;
    ec = OpenAcceptor(pRun, tcp::endpoint(tcp::v6(), nPortValue), false);
    if (!ec) {
        const auto nBound = pRun->acceptors[0].local_endpoint(ec).port();
        ec = OpenAcceptor(pRun, tcp::endpoint(tcp::v4(), nBound), false);
        if (ec)
            pRun->acceptors.clear();
        return ec;
    }
    return OpenAcceptor(pRun, tcp::endpoint(tcp::v4(), nPortValue), false);
}

// The UDP sockets beside the listening ones; without them TCP still serves, and the
// front end hears why UDP tests will be refused.
void OpenUdp(const PRun& pRun) {
    auto pUdp = std::make_unique<CUdpPort>(pRun->engine, pRun->core.Lane(0));
    const asio::error_code ec = pUdp->Open(pRun->acceptors);
    if (ec) {
        const std::string strText =
            (pUdp->IsOpen() ? "UDP tests are served on some addresses only: "
                            : "UDP tests are not served: ") +
            GetErrorText(ec.value());
        asio::post(pRun->core.Hooks(),
                   [pRun, strText] { pRun->engine.Events().OnServerWarning(strText); });
    }
    if (!pUdp->IsOpen())
        return;
    pRun->pUdp = std::move(pUdp);
    pRun->nPending.fetch_add(1);
    PRun pHeld = pRun;
    pRun->pUdp->Start([pHeld] { PendingDone(pHeld); });
}

asio::awaitable<void> Listen(PRun pRun) {
    CEngineEvents& events = pRun->engine.Events();
    const asio::error_code ec = OpenListeners(pRun);
    if (ec) {
        const std::string strError = GetErrorText(ec.value());
        asio::post(pRun->core.Hooks(),
                   [pRun, strError] { pRun->engine.Events().OnServerError(strError); });
    } else if (pRun->bStopping.load()) {
        asio::error_code ecClose;
        for (tcp::acceptor& acceptor : pRun->acceptors)
            acceptor.close(ecClose);
    } else {
        asio::error_code ecPort;
        const int nPort = pRun->acceptors[0].local_endpoint(ecPort).port();
        OpenUdp(pRun);
        pRun->bListening.store(true);
        asio::post(pRun->core.Hooks(), [&events, nPort] { events.OnServerListening(nPort); });
        for (size_t i = 0; i < pRun->lanes.size(); ++i)
            SpawnDetached(pRun->core.Lane(i), WatchLane(pRun, i));
        for (size_t i = 0; i < pRun->acceptors.size(); ++i) {
            pRun->nPending.fetch_add(1);
            SpawnDetached(pRun->core.Lane(0), AcceptLoop(pRun, i));
        }
    }
    PendingDone(pRun);
    co_return;
}

void PendingDone(const PRun& pRun) {
    if (pRun->nPending.fetch_sub(1) != 1)
        return;
    PRun pEnded = pRun;
    asio::post(pRun->core.Hooks(), [pEnded] { pEnded->server.RunEnded(); });
}

} // namespace

CTestServer::~CTestServer() {
    StopServer();
    WaitForRunEnd();
}

bool CTestServer::StartServer(const CServerSettings& settings) {
    bool bExpected = false;
    if (!m_bRunActive.compare_exchange_strong(bExpected, true))
        return false;
    // Texts the front end left empty (the window programs load only the page's three)
    // are the built-in copies.
    CServerSettings copy = settings;
    auto pTexts = std::make_shared<CPageTexts>(*settings.pPageTexts);
    LoadPageTexts(*pTexts);
    pTexts->strListenAddr = settings.strListenAddr;
    copy.pPageTexts = pTexts;
    auto pRun = std::make_shared<CRun>(*this, m_engine, copy);
    {
        std::lock_guard<std::mutex> lock(m_cs);
        m_pRun = pRun;
    }
    m_engine.Core().Hold();
    CEngineEvents& events = m_engine.Events();
    asio::post(m_engine.Core().Hooks(), [&events] { events.OnServerStarted(); });
    SpawnDetached(m_engine.Core().Lane(0), Listen(pRun));
    return true;
}

void CTestServer::StopServer() {
    std::shared_ptr<CRun> pRun;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        pRun = m_pRun;
    }
    if (pRun)
        StopRun(pRun);
}

bool CTestServer::IsServerListening() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_pRun && m_pRun->bListening.load();
}

bool CTestServer::HasServerRun() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_pRun != nullptr;
}

size_t CTestServer::ServerSessionCount() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_pRun ? m_pRun->nSessions.load() : 0;
}

void CTestServer::WaitForRunEnd() {
    std::unique_lock<std::mutex> lock(m_cs);
    m_cvEnded.wait(lock, [this] { return !m_pRun; });
}

// The hook thread, once the run's last session and accept loop have ended.
void CTestServer::RunEnded() {
    std::shared_ptr<CRun> pRun;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        pRun = m_pRun;
    }
    CEngineEvents& events = m_engine.Events();
    CIoCore& core = m_engine.Core();
    const std::weak_ptr<CRun> pEnded = pRun; // names the run even once it is gone
    // Tests still counted end now, and the history writes them before the run lets go.
    pRun->tracker.EndAll();
    std::unique_ptr<CResultsHistory> pHistory;
    {
        std::lock_guard<std::mutex> lock(pRun->csHistory);
        pHistory = std::move(pRun->pHistory);
    }
    pHistory.reset();
    if (pRun->bAcceptFailed)
        events.OnServerAcceptFailed(pRun->strAcceptError);
    m_bRunActive.store(false);
    events.OnServerStopped();
    // Nothing of the run is left on the core. Let go before the waiters wake: one of them
    // may destroy the engine and its core.
    pRun.reset();
    core.Release();
    {
        // Whoever waits may destroy this object as soon as the lock is given back.
        std::lock_guard<std::mutex> lock(m_cs);
        // A click after OnServerStopped may have started the next run already.
        if (!m_pRun.owner_before(pEnded) && !pEnded.owner_before(m_pRun))
            m_pRun.reset();
        m_cvEnded.notify_all();
    }
}
