// tachyra-cli: the test server or a bounded client test, without a window.
#include "cli/report.h"
#include "headless/headless_server.h"
#include "headless/stop_signal.h"
#include "client/client_test.h"
#include "meter/meter.h"
#include "support/format.h"
#include "support/platform.h"
#include "support/version.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
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

struct CClientOptions {
    std::string strHost;
    int nPort = 10001;
    int nSeconds = 10;
    int nConnections = CKestrunEngine::kClientSessions;
    int nConnectTimeout = 10;
    bool bUpload = false;
    bool bJson = false;
};

// Prints the outcome; the exit status.
int Report(const CClientOptions& opt, CClientCollector& collector, const std::string& strEarlyEnd) {
    CClientReport report;
    report.strHost = opt.strHost;
    report.nPort = opt.nPort;
    report.bUpload = opt.bUpload;
    report.nConnections = opt.nConnections;
    report.nSeconds = opt.nSeconds;
    collector.Fill(report);
    const bool bEarly = report.strError.empty() && !strEarlyEnd.empty();
    if (bEarly)
        report.strError = strEarlyEnd;
    if (opt.bJson) {
        std::fputs(FormatJsonReport(report).c_str(), stdout);
    } else if (report.strError.empty() || bEarly) {
        PrintLine(stdout, FormatSummary(report));
    }
    std::fflush(stdout);
    if (report.strError.empty())
        return 0;
    PrintLine(stderr, bEarly ? "tachyra-cli: " + report.strError
                             : "tachyra-cli: " + opt.strHost + ":" + std::to_string(opt.nPort) +
                                   ": " + report.strError);
    return 1;
}

int RunClientMode(const CClientOptions& opt) {
    CClientCollector collector(opt.bJson);
    CKestrunEngine engine(&collector);
    CMeter meter(engine);
    CClientTest test(engine);
    CClientSettings settings;
    settings.strServerAddr = opt.strHost;
    settings.nServerPort = opt.nPort;
    settings.strType = opt.bUpload ? "上传" : "下载";
    settings.nSessions = opt.nConnections;
    settings.nConnectTimeoutSeconds = opt.nConnectTimeout;
    if (!opt.bJson) {
        PrintLine(stdout, "Connecting to " + opt.strHost + " port " + std::to_string(opt.nPort) +
                              ": " + (opt.bUpload ? "upload" : "download") + ", " +
                              std::to_string(opt.nConnections) + " connections, " +
                              (opt.nSeconds > 0 ? std::to_string(opt.nSeconds) + " s"
                                                : std::string("until stopped")));
    }
    collector.Begin();
    const auto tStart = Clock::now();
    meter.StartMeter();
    test.StartClientTest(settings);

    const auto tDeadline = tStart + std::chrono::seconds(opt.nSeconds);
    bool bEndedByItself = false;
    for (;;) {
        if (collector.WaitEnded(50)) {
            bEndedByItself = true;
            break;
        }
        if (WaitForStopSignal(50))
            break;
        if (opt.nSeconds > 0 && Clock::now() >= tDeadline)
            break;
    }
    std::string strEarlyEnd;
    if (bEndedByItself && opt.nSeconds > 0) {
        // Every connection ended before the time was up, and not for a stop of ours.
        strEarlyEnd = FormatString("the server ended the test after %.1f s of %d s",
                                   SecondsSince(tStart), opt.nSeconds);
    }
    test.StopClientTest();
    // Sessions end within moments of the stop; the summary never waits longer than a
    // second for them, and a second Ctrl-C leaves at once.
    const auto tGiveUp = Clock::now() + std::chrono::seconds(1);
    while (!collector.WaitEnded(20)) {
        if (WaitForAnotherStopSignal(0) >= 2)
            std::_Exit(130);
        if (Clock::now() >= tGiveUp) {
            uint64_t nRecv = 0, nSend = 0;
            engine.TakeCounters(nRecv, nSend);
            collector.AddRemainder(nRecv, nSend);
            const int nStatus = Report(opt, collector, strEarlyEnd);
            std::fflush(stderr);
            std::_Exit(nStatus); // sessions still blocked somewhere must not hold the exit
        }
    }
    meter.StopMeter();
    uint64_t nRecv = 0, nSend = 0;
    engine.TakeCounters(nRecv, nSend);
    collector.AddRemainder(nRecv, nSend);
    test.WaitForWorkers();
    return Report(opt, collector, strEarlyEnd);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{std::string(kProductName) +
                 " command-line tester: a throughput test server, or a client test against one"};
    app.set_version_flag("-v,--version", std::string("tachyra-cli ") + kProductVersion);

    bool bServer = false;
    CClientOptions client;
    CServerSettings server;
    int nPort = 10001;

    auto* pServer = app.add_flag("-s,--server", bServer, "Run the test server");
    auto* pClient = app.add_option("-c,--client", client.strHost, "Run a client test against HOST")
                        ->type_name("HOST");
    pServer->excludes(pClient);
    app.add_option("-p,--port", nPort, "Server port (default 10001; 0 = any free port, server)")
        ->check(CLI::Range(0, 65535));
    app.add_option("-B,--bind", server.strListenAddr, "Server: listen on this IPv4 address only")
        ->type_name("ADDR");
    app.add_option("--max-sessions", server.nMaxSessions,
                   "Server: sessions at once (default: what the descriptor limit allows)")
        ->check(CLI::Range(1, 10000000));
    app.add_option("--idle-timeout", server.nIdleTimeoutSeconds,
                   "Server: close a connection that moves nothing for this long (default 60 s)")
        ->check(CLI::Range(1, 86400));
    app.add_option("-t,--time", client.nSeconds,
                   "Client: test length in seconds (0 = until stopped)")
        ->check(CLI::Range(0, 86400));
    app.add_option("-P,--parallel", client.nConnections, "Client: connections (default 10)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--connect-timeout", client.nConnectTimeout,
                   "Client: give up a connect after this long (default 10 s)")
        ->check(CLI::Range(1, 3600));
    app.add_flag("--upload", client.bUpload, "Client: upload instead of download");
    app.add_flag("-J,--json", client.bJson, "Client: print one JSON document and nothing else");

    CLI11_PARSE(app, argc, argv);

    if (!bServer && client.strHost.empty()) {
        std::fprintf(stderr, "tachyra-cli: choose -s (server) or -c HOST (client); see --help\n");
        return 2;
    }
    if (!bServer && nPort == 0) {
        std::fprintf(stderr, "tachyra-cli: a client needs a port from 1 to 65535\n");
        return 2;
    }
    InstallStopSignal();
    RaiseDescriptorLimit();
    if (!InitSocketLibrary()) {
        std::fprintf(stderr, "tachyra-cli: the socket library cannot start\n");
        return 1;
    }
    server.nListenPort = nPort;
    client.nPort = nPort;
    return bServer ? RunServerMode("tachyra-cli", server) : RunClientMode(client);
}
