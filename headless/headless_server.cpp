// The headless test server: the engine's run with its figures printed for each second that
// moved bytes and a line for each test's end, until a stop signal or until the port cannot
// be opened.
#include "headless/headless_server.h"

#include "headless/stop_signal.h"
#include "headless/test_ends.h"
#include "meter/meter.h"
#include "server/test_server.h"
#include "support/ascii.h"
#include "support/format.h"
#include "support/socket_stream.h"

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// Server mode: print what the engine reports, as text or as one JSON object per line.
class CServerPrinter : public CEngineEvents {
public:
    CServerPrinter(const char* pszProgram, bool bJsonStream, const std::string& strListenAddr,
                   FQrText qrText)
        : m_strProgram(pszProgram), m_bJson(bJsonStream), m_strListenAddr(strListenAddr),
          m_strHost(BrowserHost(strListenAddr)), m_qrText(std::move(qrText)) {}
    void SetServer(const CTestServer* pServer) { m_pServer = pServer; }
    void OnServerListening(int nPort) override {
        const std::string strPort = std::to_string(nPort);
        std::vector<std::string> vecBases;
        for (const std::string& strHost : ShareableHosts(m_strListenAddr))
            vecBases.push_back("http://" + strHost + ":" + strPort + "/");
        if (m_bJson) {
            std::string strList;
            for (const std::string& strBase : vecBases)
                strList += (strList.empty() ? "\"" : ", \"") + strBase + "\"";
            PrintLine(stdout, FormatString("{\"event\": \"listening\", \"port\": %d, "
                                           "\"addresses\": [%s]}",
                                           nPort, strList.c_str()));
            return;
        }
        PrintLine(stdout, "Tachyra server listening on port " + strPort);
        const std::string strBase = "http://" + m_strHost + ":" + strPort + "/";
        PrintLine(stdout, "Speed page: " + strBase);
        PrintLine(stdout, "Full test (download, upload, latency): " + strBase + "full");
        // A server on one address has told it above; on every interface, these are the
        // addresses other devices open.
        if (IsEveryInterface(m_strListenAddr)) {
            for (const std::string& strOther : vecBases)
                PrintLine(stdout, "From other devices: " + strOther + "  " + strOther + "full");
            if (vecBases.empty())
                PrintLine(stdout, "From other devices: none (this machine has no network "
                                  "address besides loopback)");
        }
        if (m_qrText) {
            const std::string strFull = (vecBases.empty() ? strBase : vecBases[0]) + "full";
            PrintLine(stdout, "QR code of " + strFull + ":");
            std::fputs(m_qrText(strFull).c_str(), stdout);
            std::fflush(stdout);
        }
    }
    void OnServerSessionStarted(const std::string& strPeer) override {
        if (m_bJson)
            PrintLine(stdout, "{\"event\": \"session_start\", \"peer\": " +
                                  QuoteEscaped(strPeer, true) + "}");
        else
            m_testEnds.Started(strPeer);
    }
    void OnServerSessionEnded(const CSessionRecord& session) override {
        if (!m_bJson) {
            for (const std::string& strLine : m_testEnds.Ended(session, CTestEnds::Clock::now()))
                PrintLine(stdout, strLine);
            return;
        }
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
            // An idle server stays silent: a week of empty seconds is no log to keep.
            if (nRecv != 0 || nSend != 0)
                PrintLine(stdout, "recv " + strRecv + "  send " + strSend);
            for (const std::string& strLine : m_testEnds.Flush(CTestEnds::Clock::now()))
                PrintLine(stdout, strLine);
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
    // "", "0.0.0.0", "::" and "[::]".
    static bool IsEveryInterface(const std::string& strListenAddr) {
        asio::ip::address address;
        return ParseListenAddress(strListenAddr, address) && address.is_unspecified();
    }
    // The host part of the first printed addresses: every interface is shown as this
    // machine, one address as it is written in an address ("[::1]" for "::1" or "[::1]").
    static std::string BrowserHost(const std::string& strListenAddr) {
        const std::vector<std::string> vecHosts = ShareableHosts(strListenAddr, {});
        if (IsEveryInterface(strListenAddr) || vecHosts.empty())
            return "127.0.0.1";
        return vecHosts[0];
    }

    const std::string m_strProgram;
    const bool m_bJson;
    const std::string m_strListenAddr;
    const std::string m_strHost;
    const FQrText m_qrText;
    CTestEnds m_testEnds;
    const CTestServer* m_pServer = nullptr;
    std::mutex m_cs;
    bool m_bEnded = false;
    bool m_bFailed = false;
};

} // namespace

int RunServerMode(const char* pszProgram, const CServerSettings& settings, bool bJsonStream,
                  FQrText qrText) {
    CServerPrinter printer(pszProgram, bJsonStream, settings.strListenAddr, std::move(qrText));
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
