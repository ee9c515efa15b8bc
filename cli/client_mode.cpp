#include "cli/client_mode.h"

#include "cli/report.h"
#include "client/client_test.h"
#include "client/latency.h"
#include "headless/stop_signal.h"
#include "meter/meter.h"
#include "support/error_text.h"
#include "support/format.h"

#include <asio/error.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Collects the meter's intervals, with the latency of each, and the test's outcome.
class CClientCollector : public CEngineEvents {
public:
    CClientCollector(const CClientOptions& opt) : m_opt(opt) {}
    void Begin(CClientTest* pTest, CHandshakeProber* pProber) {
        std::lock_guard<std::mutex> lock(m_cs);
        m_pTest = pTest;
        m_pProber = pProber;
        m_t0 = Clock::now();
    }
    void OnMeterSample(uint64_t nRecv, uint64_t nSend, const std::string&,
                       const std::string&) override {
        std::lock_guard<std::mutex> lock(m_cs);
        AddLocked(nRecv, nSend, true);
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
    // No connection ever connected: the test failed as a connect that timed out does.
    void NoteNeverConnected() {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_strError.empty())
            m_strError = GetErrorText(asio::error_code(asio::error::timed_out).value());
    }
    // The bytes counted after the last sample: nothing moved is left out of the totals.
    void AddRemainder(uint64_t nRecv, uint64_t nSend) {
        std::lock_guard<std::mutex> lock(m_cs);
        if (nRecv != 0 || nSend != 0)
            AddLocked(nRecv, nSend, false);
        m_pTest = nullptr;
        m_pProber = nullptr;
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
    void AddLocked(uint64_t nRecv, uint64_t nSend, bool bSampleLatency) {
        CIntervalSample sample;
        sample.dStart = m_intervals.empty() ? 0.0 : m_intervals.back().dEnd;
        sample.dEnd = SecondsSince(m_t0);
        sample.nRecvBytes = nRecv;
        sample.nSendBytes = nSend;
        if (bSampleLatency && m_pTest != nullptr)
            sample.rtt = SummarizeLatency(m_pTest->SampleRttMs());
        if (bSampleLatency && m_pProber != nullptr)
            sample.handshake = m_pProber->Latest();
        m_intervals.push_back(sample);
        if (m_opt.bJsonStream) {
            const std::string strJson = FormatJsonInterval(sample);
            PrintLine(stdout, "{\"event\": \"interval\", " + strJson.substr(1));
        } else if (!m_opt.bJson) {
            PrintLine(stdout, FormatIntervalLine(sample));
        }
    }

    const CClientOptions& m_opt;
    Clock::time_point m_t0 = Clock::now();
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::vector<CIntervalSample> m_intervals;
    std::string m_strError;
    bool m_bEnded = false;
    double m_dEnded = 0;
    CClientTest* m_pTest = nullptr;
    CHandshakeProber* m_pProber = nullptr;
};

// Handshakes before the transfer; stops at the first that fails (the test itself then
// says why) or at a stop signal.
CLatencySummary MeasureIdleLatency(CKestrunEngine& engine, const CClientOptions& opt) {
    std::vector<double> vecMs;
    const int nTimeoutMs = std::min(opt.nConnectTimeout, 3) * 1000;
    for (int i = 0; i < 5 && !WaitForStopSignal(0); ++i) {
        COptionalMs ms = MeasureHandshakeMs(engine, opt.strHost, opt.nPort, nTimeoutMs,
                                            [] { return WaitForStopSignal(0); });
        if (!ms)
            break;
        vecMs.push_back(*ms);
    }
    return SummarizeLatency(vecMs);
}

// Prints the outcome; the exit status.
int Report(const CClientOptions& opt, CClientCollector& collector, const CLatencySummary& idle,
           const CLatencySummary& loaded, const std::string& strEarlyEnd) {
    CClientReport report;
    report.strHost = opt.strHost;
    report.nPort = opt.nPort;
    report.bUpload = opt.bUpload;
    report.nConnections = opt.nConnections;
    report.nSeconds = opt.nSeconds;
    report.idle = idle;
    report.loaded = loaded;
    collector.Fill(report);
    const bool bEarly = report.strError.empty() && !strEarlyEnd.empty();
    if (bEarly)
        report.strError = strEarlyEnd;
    if (opt.bJsonStream) {
        PrintLine(stdout,
                  "{\"event\": \"end\", \"totals\": " + FormatJsonTotals(report) + ", \"error\": " +
                      (report.strError.empty() ? "null" : JsonQuote(report.strError)) + "}");
    } else if (opt.bJson) {
        std::fputs(FormatJsonReport(report).c_str(), stdout);
    } else if (report.strError.empty() || bEarly) {
        PrintLine(stdout, FormatSummary(report));
        PrintLine(stdout, FormatLatencyLine(report));
    }
    std::fflush(stdout);
    if (report.strError.empty())
        return 0;
    // An IPv6 address is written in brackets before its port.
    const bool bBare = opt.strHost.find(':') != std::string::npos && opt.strHost.front() != '[';
    const std::string strHost = bBare ? "[" + opt.strHost + "]" : opt.strHost;
    PrintLine(stderr, bEarly ? "tachyra-cli: " + report.strError
                             : "tachyra-cli: " + strHost + ":" + std::to_string(opt.nPort) + ": " +
                                   report.strError);
    return 1;
}

} // namespace

int RunClientMode(const CClientOptions& opt) {
    CClientCollector collector(opt);
    CKestrunEngine engine(&collector);
    CMeter meter(engine);
    CClientTest test(engine);
    CClientSettings settings;
    settings.strServerAddr = opt.strHost;
    settings.nServerPort = opt.nPort;
    settings.strType = opt.bUpload ? "上传" : "下载";
    settings.nSessions = opt.nConnections;
    settings.nConnectTimeoutSeconds = opt.nConnectTimeout;
    if (!opt.bJson && !opt.bJsonStream) {
        PrintLine(stdout, "Connecting to " + opt.strHost + " port " + std::to_string(opt.nPort) +
                              ": " + (opt.bUpload ? "upload" : "download") + ", " +
                              std::to_string(opt.nConnections) + " connections, " +
                              (opt.nSeconds > 0 ? std::to_string(opt.nSeconds) + " s"
                                                : std::string("until stopped")));
    }
    const CLatencySummary idle = MeasureIdleLatency(engine, opt);
    CHandshakeProber prober(engine, opt.strHost, opt.nPort);
    collector.Begin(&test, &prober);
    const auto tStart = Clock::now();
    meter.StartMeter();
    test.StartClientTest(settings);

    const auto tDeadline = tStart + std::chrono::seconds(opt.nSeconds);
    bool bEndedByItself = false;
    bool bStoppedByUser = false;
    for (;;) {
        if (collector.WaitEnded(50)) {
            bEndedByItself = true;
            break;
        }
        if (WaitForStopSignal(50)) {
            bStoppedByUser = true;
            break;
        }
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
            const int nStatus =
                Report(opt, collector, idle, SummarizeLatency(prober.All()), strEarlyEnd);
            std::fflush(stderr);
            std::_Exit(nStatus); // sessions still blocked somewhere must not hold the exit
        }
    }
    meter.StopMeter();
    prober.Stop();
    uint64_t nRecv = 0, nSend = 0;
    engine.TakeCounters(nRecv, nSend);
    collector.AddRemainder(nRecv, nSend);
    test.WaitForTestEnd();
    if (test.ConnectedCount() == 0 && !bStoppedByUser)
        collector.NoteNeverConnected(); // a -t shorter than the connect timeout ran out first
    return Report(opt, collector, idle, SummarizeLatency(prober.All()), strEarlyEnd);
}
