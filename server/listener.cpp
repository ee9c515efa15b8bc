// The test server's run: listen, accept into the registry, and on stop cut every
// session and wait until the registry is empty.
#include "server/test_server.h"

#include "server/assets.h"
#include "support/accept_errors.h"
#include "support/error_text.h"
#include "support/format.h"
#include "support/platform.h"

#include <chrono>
#include <thread>

namespace {
// Sessions after which the last one to end hands free memory back to the system.
const size_t kReleaseAfterSessions = 256;
} // namespace

struct CONN_THREAD_PARAM {
    SOCKET socket;
    CTestServer* pServer;
};

void ConnectionThreadProc(CONN_THREAD_PARAM* pParam) {
    pParam->pServer->HandleConnection(pParam->socket);
    delete pParam;
}

void ServerThreadProc(CTestServer* pServer) {
    pServer->m_engine.Events().OnServerStarted();
    pServer->RunServer(pServer->m_settings);
    pServer->m_bRunActive.store(false);
    pServer->m_engine.Events().OnServerStopped();
}

CTestServer::~CTestServer() {
    StopServer();
    m_workers.Wait();
}

bool CTestServer::StartServer(const CServerSettings& settings) {
    bool bExpected = false;
    if (!m_bRunActive.compare_exchange_strong(bExpected, true))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_csListen);
        m_bStopPending = false;
    }
    // Texts the front end left empty (the window programs load only the page's three)
    // are the built-in copies.
    m_settings = settings;
    auto pTexts = std::make_shared<CPageTexts>(*settings.pPageTexts);
    LoadPageTexts(*pTexts);
    m_settings.pPageTexts = pTexts;
    if (!m_workers.Start([this] { ServerThreadProc(this); })) {
        m_bRunActive.store(false);
        return false;
    }
    return true;
}

void CTestServer::StopServer() {
    std::lock_guard<std::mutex> lock(m_csListen);
    if (m_sockListen != INVALID_SOCKET) {
        int nError = GetLastSocketError();
        InterruptSocket(m_sockListen);
        SetLastSocketError(nError);
        m_sockListen = INVALID_SOCKET;
    } else if (m_bRunActive.load()) {
        m_bStopPending = true;
    }
    std::lock_guard<std::mutex> lockRoom(m_csRoom);
    m_cvRoom.notify_all();
}

bool CTestServer::IsServerListening() const {
    std::lock_guard<std::mutex> lock(m_csListen);
    return m_sockListen != INVALID_SOCKET;
}

bool CTestServer::RunServer(const CServerSettings& settings) {
    SOCKET sListen = INVALID_SOCKET;
    if (!CreateTcpSocket(sListen, settings.strListenAddr, settings.nListenPort, true,
                         CKestrunEngine::kListenBacklog)) {
        m_engine.Events().OnServerError(GetErrorText(0));
        return false;
    }
    bool bStopped;
    {
        std::lock_guard<std::mutex> lock(m_csListen);
        bStopped = m_bStopPending;
        m_bStopPending = false;
        if (!bStopped)
            m_sockListen = sListen;
    }
    m_sessions.Reset();
    if (!bStopped) {
        m_pump.Start(settings.nIdleTimeoutSeconds, [this](const CPumpedDownload& download) {
            CSessionRecord record;
            record.strPeer = download.strPeer;
            record.pszMode = "download";
            record.nBytes = download.nBytes;
            record.dSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - download.tStart)
                    .count();
            EndSession(download.s, record);
        });
        m_engine.Events().OnServerListening(GetBoundPort(sListen));
        AcceptLoop(sListen, settings);
    }
    // Whatever ended the loop (a stop or a failing accept), the run owns the listening
    // socket and closes it; the stopper only ever interrupts it under m_csListen.
    bool bAcceptFailed;
    {
        std::lock_guard<std::mutex> lock(m_csListen);
        bAcceptFailed = !bStopped && m_sockListen == sListen; // nobody asked for this stop
        m_sockListen = INVALID_SOCKET;
    }
    std::string strAcceptError = bAcceptFailed ? GetErrorText(0) : std::string();
    CloseSocket(sListen);

    // Cut every session. Their owners close the sockets: a descriptor closed here could
    // be handed out again while its session still uses the number. The close becomes a
    // reset, so that a peer still uploading is not left waiting on a dead connection.
    m_sessions.StopAll(true);
    while (m_sessions.Count() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_pump.Stop();
    if (bAcceptFailed)
        m_engine.Events().OnServerAcceptFailed(strAcceptError);
    return true;
}

void CTestServer::AcceptLoop(SOCKET sListen, const CServerSettings& settings) {
    const size_t nCap = static_cast<size_t>(settings.nMaxSessions > 0 ? settings.nMaxSessions
                                                                      : DefaultSessionCap());
    m_bAcceptPaused.store(false);
    for (;;) {
        SOCKET s = AcceptSocket(sListen);
        if (s == INVALID_SOCKET) {
            const int nError = GetLastSocketError();
            bool bStopped;
            {
                std::lock_guard<std::mutex> lock(m_csListen);
                bStopped = m_sockListen != sListen;
            }
            // Out of descriptors or memory, or one connection that failed on its way
            // in: the listening socket is fine, so wait for room and go on. A peer must
            // never be able to end the server.
            if (bStopped || !IsTransientAcceptError(nError)) {
                SetLastSocketError(nError);
                return;
            }
            if (!m_bAcceptPaused.load())
                TraceDebug("accepting paused: %s", GetErrorText(nError).c_str());
            m_bAcceptPaused.store(true);
            std::unique_lock<std::mutex> lock(m_csRoom);
            m_cvRoom.wait_for(lock, std::chrono::milliseconds(100));
            continue;
        }
        m_bAcceptPaused.store(false);
        if (m_sessions.Count() >= nCap) {
            // Closed at once: the peer learns now instead of waiting in the backlog.
            CloseSocket(s);
            continue;
        }
        SetIdleTimeout(s, settings.nIdleTimeoutSeconds);
        m_sessions.Add(s);
        m_nSessionsSinceRelease.fetch_add(1);
        auto* pParam = new CONN_THREAD_PARAM{s, this};
        if (!m_workers.Start([pParam] { ConnectionThreadProc(pParam); })) {
            // No thread for it: undo the registration, or the drain would never end.
            delete pParam;
            m_sessions.Remove(s);
            CloseSocket(s);
        }
    }
}

void CTestServer::HandleConnection(SOCKET s) {
    CSessionRecord record;
    record.strPeer = GetPeerAddress(s);
    m_engine.Events().OnServerSessionStarted(record.strPeer);
    const auto tStart = std::chrono::steady_clock::now();
    {
        CSocketStream stream(s);
        const CSessionOutcome outcome =
            ServeConnection(m_engine, stream, *m_settings.pPageTexts, [&] {
                return m_pump.Add(CPumpedDownload{s, record.strPeer, tStart});
            });
        if (outcome.bHandedOver)
            return; // the pump ends it
        record.pszMode = outcome.pszMode;
        record.nBytes = outcome.nBytes;
    }
    record.dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    EndSession(s, record);
}

void CTestServer::EndSession(SOCKET s, const CSessionRecord& record) {
    m_engine.Events().OnServerSessionEnded(record);
    m_sessions.Remove(s);
    CloseSocket(s);
    if (m_sessions.Count() == 0 && m_nSessionsSinceRelease.load() >= kReleaseAfterSessions &&
        m_nSessionsSinceRelease.exchange(0) >= kReleaseAfterSessions)
        ReleaseFreeMemory();
    if (m_bAcceptPaused.load()) {
        std::lock_guard<std::mutex> lock(m_csRoom);
        m_cvRoom.notify_all();
    }
}
