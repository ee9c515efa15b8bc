#include "client/client_test.h"

#include "support/error_text.h"

#include <chrono>
#include <thread>

void ClientThreadProc(CClientTest* pTest, std::shared_ptr<const CClientSettings> pSettings) {
    pTest->m_engine.Events().OnClientSessionStarted();
    std::string strErrorText;
    pTest->RunClientSession(*pSettings, strErrorText);
    pTest->ClientSessionDone(strErrorText);
}

CClientTest::~CClientTest() {
    StopClientTest();
    m_workers.Wait();
}

bool CClientTest::StartClientTest(const CClientSettings& settings) {
    if (settings.nSessions < 1)
        return false;
    // The count is taken for every session before any thread runs, so a second click
    // during the start-up can never see an idle client and start a second test.
    int nExpected = 0;
    if (!m_nActiveClients.compare_exchange_strong(nExpected, settings.nSessions))
        return false;
    m_sessions.Reset();
    auto pSettings = std::make_shared<const CClientSettings>(settings);
    for (int i = 0; i < settings.nSessions; ++i) {
        if (!m_workers.Start([this, pSettings] { ClientThreadProc(this, pSettings); }))
            ClientSessionDone(GetErrorText(0));
    }
    return true;
}

void CClientTest::ClientSessionDone(const std::string& strErrorText) {
    if (m_nActiveClients.fetch_sub(1) == 1)
        m_engine.Events().OnClientTestEnded(strErrorText);
}

void CClientTest::StopClientTest() {
    if (m_nActiveClients.load() == 0)
        return;
    // Sessions still sleeping or connecting see the stop when they register.
    m_sessions.StopAll(false);
}

void CClientTest::RunClientSession(const CClientSettings& settings, std::string& strErrorText) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SOCKET s = INVALID_SOCKET;
    if (!CreateTcpSocket(s, std::string(), 0, false)) {
        strErrorText = GetErrorText(0);
        return;
    }
    if (!ConnectIPv4(s, settings.strServerAddr, settings.nServerPort)) {
        strErrorText = GetErrorText(0);
        CloseSocket(s);
        return;
    }
    const SOCKET sRegistered = s;
    if (!m_sessions.Add(s)) {
        // Connected after a stop walked the registry: stop here, as the walk would have.
        CloseSocket(s);
        return;
    }

    SendOnce(s, "EST", 3);
    const unsigned char chMode = settings.strType == "下载" ? 1 : 0;
    SendOnce(s, &chMode, 1);

    const int kBlockSize = CKestrunEngine::kBlockSize;
    std::unique_ptr<char[]> pBlock(new char[kBlockSize]);
    for (;;) {
        int n = chMode == 1 ? RecvOnce(s, pBlock.get(), kBlockSize)
                            : SendOnce(s, pBlock.get(), kBlockSize);
        if (n <= 0)
            break;
        if (chMode == 1)
            m_engine.AddRecvBytes(static_cast<uint64_t>(n));
        else
            m_engine.AddSendBytes(static_cast<uint64_t>(n));
    }

    m_sessions.Remove(sRegistered);
    pBlock.reset();
    CloseSocket(s);
}
