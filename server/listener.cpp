// The test server's run: listen, accept into the registry, and on stop cut every
// session and wait until the registry is empty.
#include "server/engine.h"

#include "support/error_text.h"

#include <chrono>
#include <thread>

struct CONN_THREAD_PARAM {
    SOCKET socket;
    CKestrunEngine* window;
};

void ConnectionThreadProc(CONN_THREAD_PARAM* pParam) {
    pParam->window->HandleConnection(pParam->socket);
    delete pParam;
}

void ServerThreadProc(CKestrunEngine* pEngine, int nListenPort) {
    pEngine->m_pEvents->OnServerStarted();
    pEngine->RunServer(nListenPort);
    pEngine->m_bServerRunActive.store(false);
    pEngine->m_pEvents->OnServerStopped();
}

bool CKestrunEngine::StartServer() {
    bool bExpected = false;
    if (!m_bServerRunActive.compare_exchange_strong(bExpected, true))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_csListen);
        m_bServerStopPending = false;
    }
    const int nPort = m_nListenPort; // the run keeps its own copy
    if (!StartWorker([this, nPort] { ServerThreadProc(this, nPort); })) {
        m_bServerRunActive.store(false);
        return false;
    }
    return true;
}

void CKestrunEngine::StopServer() {
    std::lock_guard<std::mutex> lock(m_csListen);
    if (m_sockListen != INVALID_SOCKET) {
        int nError = GetLastSocketError();
        InterruptSocket(m_sockListen);
        SetLastSocketError(nError);
        m_sockListen = INVALID_SOCKET;
    } else if (m_bServerRunActive.load()) {
        m_bServerStopPending = true;
    }
}

bool CKestrunEngine::IsServerListening() const {
    std::lock_guard<std::mutex> lock(m_csListen);
    return m_sockListen != INVALID_SOCKET;
}

size_t CKestrunEngine::ServerSessionCount() {
    std::lock_guard<std::mutex> lock(m_csServerSockets);
    return m_mapServerSockets.size();
}

bool CKestrunEngine::RunServer(int nListenPort) {
    SOCKET sListen = INVALID_SOCKET;
    if (!CreateTcpSocket(sListen, m_strListenAddr, nListenPort, true)) {
        m_pEvents->OnServerError(GetErrorText(0));
        return false;
    }
    bool bStopped;
    {
        std::lock_guard<std::mutex> lock(m_csListen);
        bStopped = m_bServerStopPending;
        m_bServerStopPending = false;
        if (!bStopped)
            m_sockListen = sListen;
    }
    if (!bStopped) {
        m_pEvents->OnServerListening(GetBoundPort(sListen));
        for (;;) {
            SOCKET s = AcceptSocket(sListen);
            if (s == INVALID_SOCKET)
                break;
            {
                std::lock_guard<std::mutex> lock(m_csServerSockets);
                m_mapServerSockets[s] = s;
            }
            auto* pParam = new CONN_THREAD_PARAM{s, this};
            if (!StartWorker([pParam] { ConnectionThreadProc(pParam); })) {
                // No thread for it: undo the registration, or the drain would never end.
                delete pParam;
                {
                    std::lock_guard<std::mutex> lock(m_csServerSockets);
                    m_mapServerSockets.erase(s);
                }
                CloseSocket(s);
            }
        }
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
    {
        std::lock_guard<std::mutex> lock(m_csServerSockets);
        for (const auto& entry : m_mapServerSockets) {
            SetAbortiveClose(entry.second);
            InterruptSocket(entry.second);
        }
    }
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (ServerSessionCount() == 0)
            break;
    }
    if (bAcceptFailed)
        m_pEvents->OnServerAcceptFailed(strAcceptError);
    return true;
}
