// tachyra-cli: the test server or a bounded client test, without a window.
#include "cli/report.h"
#include "headless/headless_server.h"
#include "headless/stop_signal.h"
#include "client/client_test.h"
#include "meter/meter.h"
#include "support/version.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void PrintLine(FILE* pOut, const std::string& strLine) {
    std::fprintf(pOut, "%s\n", strLine.c_str());
    std::fflush(pOut);
}

// Client mode: collect the meter's intervals and the test's outcome.
class CClientCollector : public CEngineEvents {
public:
    explicit CClientCollector(bool bQuiet) : m_bQuiet(bQuiet) {}
    void Begin() { m_t0 = Clock::now(); }
    void OnMeterSample(uint64_t nRecv, uint64_t nSend, const std::string&,
                       const std::string&) override {
        std::lock_guard<std::mutex> lock(m_cs);
        AddLocked(nRecv, nSend);
    }
    void OnClientTestEnded(const std::string& strErrorText) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_strError = strErrorText;
        m_dEnded = SecondsSince(m_t0);
        m_bEnded = true;
        m_cv.notify_all();
    }
    // Waits until the test ends or nTimeoutMs passes; true when it has ended.
    bool WaitEnded(int nTimeoutMs) {
        std::unique_lock<std::mutex> lock(m_cs);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                             [this] { return m_bEnded; });
    }
    // The bytes counted after the last sample: nothing moved is left out of the totals.
    void AddRemainder(uint64_t nRecv, uint64_t nSend) {
        std::lock_guard<std::mutex> lock(m_cs);
        if (nRecv != 0 || nSend != 0)
            AddLocked(nRecv, nSend);
    }
    void Fill(CClientReport& report) {
        std::lock_guard<std::mutex> lock(m_cs);
        report.intervals = m_intervals;
        report.strError = m_strError;
        report.dElapsed = m_bEnded ? m_dEnded : SecondsSince(m_t0);
        if (!m_intervals.empty() && m_intervals.back().dEnd > report.dElapsed)
            report.dElapsed = m_intervals.back().dEnd;
    }

private:
    void AddLocked(uint64_t nRecv, uint64_t nSend) {
        CIntervalSample sample;
        sample.dStart = m_intervals.empty() ? 0.0 : m_intervals.back().dEnd;
        sample.dEnd = SecondsSince(m_t0);
        sample.nRecvBytes = nRecv;
        sample.nSendBytes = nSend;
        m_intervals.push_back(sample);
        if (!m_bQuiet)
            PrintLine(stdout, FormatIntervalLine(sample));
    }

    const bool m_bQuiet;
    Clock::time_point m_t0 = Clock::now();
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::vector<CIntervalSample> m_intervals;
    std::string m_strError;
    bool m_bEnded = false;
    double m_dEnded = 0;
};

int RunClientMode(const std::string& strHost, int nPort, int nSeconds, int nConnections,
                  bool bUpload, bool bJson) {
    CClientCollector collector(bJson);
    CKestrunEngine engine(&collector);
    CMeter meter(engine);
    CClientTest test(engine);
    CClientSettings settings;
    settings.strServerAddr = strHost;
    settings.nServerPort = nPort;
    settings.strType = bUpload ? "上传" : "下载";
    settings.nSessions = nConnections;
    if (!bJson) {
        PrintLine(stdout, "Connecting to " + strHost + " port " + std::to_string(nPort) + ": " +
                              (bUpload ? "upload" : "download") + ", " +
                              std::to_string(nConnections) + " connections, " +
                              (nSeconds > 0 ? std::to_string(nSeconds) + " s"
                                            : std::string("until stopped")));
    }
    collector.Begin();
    meter.StartMeter();
    test.StartClientTest(settings);

    const auto tDeadline = Clock::now() + std::chrono::seconds(nSeconds);
    for (;;) {
        if (collector.WaitEnded(50) || WaitForStopSignal(50))
            break;
        if (nSeconds > 0 && Clock::now() >= tDeadline)
            break;
    }
    test.StopClientTest();
    collector.WaitEnded(24 * 3600 * 1000);
    meter.StopMeter();
    uint64_t nRecv = 0, nSend = 0;
    engine.TakeCounters(nRecv, nSend);
    collector.AddRemainder(nRecv, nSend);

    CClientReport report;
    report.strHost = strHost;
    report.nPort = nPort;
    report.bUpload = bUpload;
    report.nConnections = nConnections;
    report.nSeconds = nSeconds;
    collector.Fill(report);
    if (bJson) {
        std::fputs(FormatJsonReport(report).c_str(), stdout);
    } else if (report.strError.empty()) {
        PrintLine(stdout, FormatSummary(report));
    }
    if (!report.strError.empty()) {
        PrintLine(stderr,
                  "tachyra-cli: " + strHost + ":" + std::to_string(nPort) + ": " + report.strError);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{std::string(kProductName) +
                 " command-line tester: a throughput test server, or a client test against one"};
    app.set_version_flag("-v,--version", std::string("tachyra-cli ") + kProductVersion);

    bool bServer = false;
    std::string strHost;
    int nPort = 10001;
    std::string strBind;
    int nSeconds = 10;
    int nConnections = CKestrunEngine::kClientSessions;
    bool bUpload = false;
    bool bJson = false;

    auto* pServer = app.add_flag("-s,--server", bServer, "Run the test server");
    auto* pClient =
        app.add_option("-c,--client", strHost, "Run a client test against HOST")->type_name("HOST");
    pServer->excludes(pClient);
    app.add_option("-p,--port", nPort, "Server port (default 10001; 0 = any free port, server)")
        ->check(CLI::Range(0, 65535));
    app.add_option("-B,--bind", strBind, "Server: listen on this IPv4 address only")
        ->type_name("ADDR");
    app.add_option("-t,--time", nSeconds, "Client: test length in seconds (0 = until stopped)")
        ->check(CLI::Range(0, 86400));
    app.add_option("-P,--parallel", nConnections, "Client: connections (default 10)")
        ->check(CLI::Range(1, 1000));
    app.add_flag("--upload", bUpload, "Client: upload instead of download");
    app.add_flag("-J,--json", bJson, "Client: print one JSON document and nothing else");

    CLI11_PARSE(app, argc, argv);

    if (!bServer && strHost.empty()) {
        std::fprintf(stderr, "tachyra-cli: choose -s (server) or -c HOST (client); see --help\n");
        return 2;
    }
    if (!bServer && nPort == 0) {
        std::fprintf(stderr, "tachyra-cli: a client needs a port from 1 to 65535\n");
        return 2;
    }
    InstallStopSignal();
    if (!InitSocketLibrary()) {
        std::fprintf(stderr, "tachyra-cli: the socket library cannot start\n");
        return 1;
    }
    return bServer ? RunServerMode("tachyra-cli", strBind, nPort)
                   : RunClientMode(strHost, nPort, nSeconds, nConnections, bUpload, bJson);
}
