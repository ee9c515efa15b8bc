#include "client/client_test.h"

#include "engine/send_pattern.h"
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

std::vector<double> CClientTest::SampleRttMs() const {
    std::vector<double> vecRtt;
    m_sessions.ForEach([&vecRtt](SOCKET s) {
        double dRtt = 0;
        if (GetSmoothedRttMs(s, dRtt))
            vecRtt.push_back(dRtt);
    });
    return vecRtt;
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
    // Registered before it connects, so that a stop cuts a connect still under way.
    const SOCKET sRegistered = s;
    if (!m_sessions.Add(s)) {
        CloseSocket(s); // the test was stopped before this session got going
        return;
    }
    const bool bDownload = settings.strType == "下载";
    const int nTimeoutMs =
        settings.nConnectTimeoutSeconds > 0 ? settings.nConnectTimeoutSeconds * 1000 : -1;
    if (ConnectIPv4(s, settings.strServerAddr, settings.nServerPort, nTimeoutMs,
                    [this] { return m_sessions.StopRequested(); })) {
        SetIdleTimeout(s, settings.nIdleTimeoutSeconds);
        SendOnce(s, "EST", 3);
        const unsigned char chMode = bDownload ? 1 : 0;
        SendOnce(s, &chMode, 1);
        StreamBlocks(s, bDownload);
    } else if (!m_sessions.StopRequested()) {
        strErrorText = GetErrorText(0);
    }
    m_sessions.Remove(sRegistered);
    // A download's server side may be blocked sending into this socket: a reset ends it
    // at once, where an orderly close could leave it waiting for a minute or more.
    if (bDownload)
        SetAbortiveClose(s);
    CloseSocket(s);
}

void CClientTest::StreamBlocks(SOCKET s, bool bDownload) {
    if (bDownload) {
        std::unique_ptr<char[]> pBuffer(new char[CKestrunEngine::kRecvBufferSize]);
        for (;;) {
            const int n = RecvOnce(s, pBuffer.get(), CKestrunEngine::kRecvBufferSize);
            if (n <= 0)
                break;
            m_engine.AddRecvBytes(static_cast<uint64_t>(n));
        }
        return;
    }
    LimitSendBufferForLocalPeer(s);
    const char* pBlock = SendPattern();
    for (;;) {
        const int n = SendOnce(s, pBlock, CKestrunEngine::kBlockSize);
        if (n <= 0)
            break;
        m_engine.AddSendBytes(static_cast<uint64_t>(n));
    }
}
