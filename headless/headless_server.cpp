// The headless test server: the engine's run with its figures printed once a second,
// until a stop signal or until the port cannot be opened.
#include "headless/headless_server.h"

#include "headless/stop_signal.h"
#include "meter/meter.h"
#include "server/test_server.h"
#include "support/ascii.h"
#include "support/format.h"

#include <cstdio>
#include <mutex>

namespace {

// Server mode: print what the engine reports, as text or as one JSON object per line.
class CServerPrinter : public CEngineEvents {
public:
    CServerPrinter(const char* pszProgram, bool bJsonStream, const std::string& strListenAddr)
        : m_strProgram(pszProgram), m_bJson(bJsonStream), m_strHost(BrowserHost(strListenAddr)) {}
    void SetServer(const CTestServer* pServer) { m_pServer = pServer; }
    void OnServerListening(int nPort) override {
        if (m_bJson) {
            PrintLine(stdout, FormatString("{\"event\": \"listening\", \"port\": %d}", nPort));
            return;
        }
        PrintLine(stdout, "Tachyra server listening on port " + std::to_string(nPort));
        const std::string strBase = "http://" + m_strHost + ":" + std::to_string(nPort) + "/";
        PrintLine(stdout, "Speed page: " + strBase);
        PrintLine(stdout, "Full test (download, upload, latency): " + strBase + "full");
    }
    void OnServerSessionStarted(const std::string& strPeer) override {
        if (m_bJson)
            PrintLine(stdout, "{\"event\": \"session_start\", \"peer\": " +
                                  QuoteEscaped(strPeer, true) + "}");
    }
    void OnServerSessionEnded(const CSessionRecord& session) override {
        if (!m_bJson)
            return;
        PrintLine(stdout,
                  "{\"event\": \"session_end\", \"peer\": " + QuoteEscaped(session.strPeer, true) +
                      FormatString(", \"mode\": \"%s\", \"bytes\": %llu, \"seconds\": %.3f",
                                   session.pszMode, static_cast<unsigned long long>(session.nBytes),
                                   session.dSeconds) +
                      (session.bUdp ? ", \"udp\": " + FormatUdpJson(session.udp) : std::string()) +
                      "}");
    }
    void OnServerError(const std::string& strErrorText) override {
        PrintLine(stderr, m_strProgram + ": cannot open the listening port: " + strErrorText);
        std::lock_guard<std::mutex> lock(m_cs);
        m_bFailed = true;
    }
    void OnServerAcceptFailed(const std::string& strErrorText) override {
        PrintLine(stderr,
                  m_strProgram + ": the server stopped accepting connections: " + strErrorText);
        std::lock_guard<std::mutex> lock(m_cs);
        m_bFailed = true;
    }
    void OnServerWarning(const std::string& strText) override {
        PrintLine(stderr, m_strProgram + ": warning: " + strText);
    }
    void OnServerStopped() override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_bEnded = true;
    }
    void OnMeterSample(uint64_t nRecv, uint64_t nSend, const std::string& strRecv,
                       const std::string& strSend) override {
        if (!m_bJson) {
            PrintLine(stdout, "recv " + strRecv + "  send " + strSend);
            return;
        }
        const size_t nSessions = m_pServer != nullptr ? m_pServer->ServerSessionCount() : 0;
        PrintLine(stdout, FormatString("{\"event\": \"interval\", \"recv_bytes\": %llu, "
                                       "\"send_bytes\": %llu, \"recv_MBps\": %.4f, "
                                       "\"send_MBps\": %.4f, \"sessions\": %llu}",
                                       static_cast<unsigned long long>(nRecv),
                                       static_cast<unsigned long long>(nSend),
                                       BytesToMegabytes(nRecv), BytesToMegabytes(nSend),
                                       static_cast<unsigned long long>(nSessions)));
    }
    bool Ended(bool& bFailed) {
        std::lock_guard<std::mutex> lock(m_cs);
        bFailed = m_bFailed;
        return m_bEnded;
    }

private:
    // The host part of the printed addresses: every interface is shown as this machine.
    static std::string BrowserHost(const std::string& strListenAddr) {
        if (strListenAddr.empty() || strListenAddr == "0.0.0.0" || strListenAddr == "::")
            return "127.0.0.1";
        if (strListenAddr.find(':') != std::string::npos)
            return "[" + strListenAddr + "]";
        return strListenAddr;
    }

    const std::string m_strProgram;
    const bool m_bJson;
    const std::string m_strHost;
    const CTestServer* m_pServer = nullptr;
    std::mutex m_cs;
    bool m_bEnded = false;
    bool m_bFailed = false;
};

} // namespace

int RunServerMode(const char* pszProgram, const CServerSettings& settings, bool bJsonStream) {
    CServerPrinter printer(pszProgram, bJsonStream, settings.strListenAddr);
    bool bFailed = false;
    {
        CKestrunEngine engine(&printer);
        CMeter meter(engine);
        CTestServer server(engine);
        printer.SetServer(&server);
        meter.StartMeter();
        server.StartServer(settings);
        while (!printer.Ended(bFailed)) {
            if (WaitForStopSignal(100))
                break;
        }
    } // the server stops and waits for its sessions, then the meter stops
    printer.Ended(bFailed);
    return bFailed ? 1 : 0;
}
