// The client test: N sessions that each connect, send "EST" and the mode byte, and
// stream 8192-byte blocks one way until stopped or cut.
#include "server/engine.h"

#include "support/error_text.h"

#include <chrono>
#include <memory>
#include <thread>

bool ConnectTcpSocket(SOCKET s, const std::string& strHost, int nPort) {
    return ConnectIPv4(s, strHost, nPort);
}

void ClientThreadProc(CKestrunEngine* pEngine, std::shared_ptr<const CClientSettings> pSettings) {
    pEngine->m_pEvents->OnClientSessionStarted();
    std::string strErrorText;
    pEngine->RunClientSession(*pSettings, strErrorText);
    pEngine->ClientSessionDone(strErrorText);
}

bool CKestrunEngine::StartClientTest(int nSessions) {
    if (nSessions < 1)
        return false;
    // The count is taken for every session before any thread runs, so a second click
    // during the start-up can never see an idle client and start a second test.
    int nExpected = 0;
    if (!m_nActiveClients.compare_exchange_strong(nExpected, nSessions))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_csClientSockets);
        m_bClientStopRequested = false;
    }
    auto pSettings = std::make_shared<const CClientSettings>(
        CClientSettings{m_strServerAddr, m_nServerPort, m_strType});
    for (int i = 0; i < nSessions; ++i) {
        if (!StartWorker([this, pSettings] { ClientThreadProc(this, pSettings); }))
            ClientSessionDone(GetErrorText(0));
    }
    return true;
}

void CKestrunEngine::ClientSessionDone(const std::string& strErrorText) {
    if (m_nActiveClients.fetch_sub(1) == 1)
        m_pEvents->OnClientTestEnded(strErrorText);
}

size_t CKestrunEngine::ClientSessionCount() {
    std::lock_guard<std::mutex> lock(m_csClientSockets);
    return m_mapClientSockets.size();
}

void CKestrunEngine::StopClientTest() {
    std::lock_guard<std::mutex> lock(m_csClientSockets);
    if (m_nActiveClients.load() == 0)
        return;
    // Sessions still sleeping or connecting see the flag when they register.
    m_bClientStopRequested = true;
    for (const auto& entry : m_mapClientSockets)
        InterruptSocket(entry.second);
}

void CKestrunEngine::RunClientSession(const CClientSettings& settings, std::string& strErrorText) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SOCKET s = INVALID_SOCKET;
    if (!CreateTcpSocket(s, std::string(), 0, false)) {
        strErrorText = GetErrorText(0);
        return;
    }
    if (!ConnectTcpSocket(s, settings.strServerAddr, settings.nServerPort)) {
        strErrorText = GetErrorText(0);
        CloseSocket(s);
        return;
    }
    const SOCKET sRegistered = s;
    {
        std::lock_guard<std::mutex> lock(m_csClientSockets);
        if (m_bClientStopRequested) {
            // Connected after a stop walked the registry: stop here, as the walk would have.
            CloseSocket(s);
            return;
        }
        m_mapClientSockets[s] = s;
    }

    SendOnce(s, "EST", 3);
    const unsigned char chMode = settings.strType == "下载" ? 1 : 0;
    SendOnce(s, &chMode, 1);

    std::unique_ptr<char[]> pBlock(new char[kBlockSize]);
    for (;;) {
        int n = chMode == 1 ? RecvOnce(s, pBlock.get(), kBlockSize)
                            : SendOnce(s, pBlock.get(), kBlockSize);
        if (n <= 0)
            break;
        if (chMode == 1)
            AddRecvBytes(static_cast<uint64_t>(n));
        else
            AddSendBytes(static_cast<uint64_t>(n));
    }

    {
        std::lock_guard<std::mutex> lock(m_csClientSockets);
        m_mapClientSockets.erase(sRegistered);
    }
    pBlock.reset();
    CloseSocket(s);
}
