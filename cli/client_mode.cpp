#include "cli/client_mode.h"

#include "cli/bit_rate.h"
#include "cli/interval_plan.h"
#include "cli/report.h"
#include "client/client_test.h"
#include "client/latency.h"
#include "headless/stop_signal.h"
#include "support/error_text.h"
#include "support/format.h"

#include <asio/error.hpp>

#include <algorithm>
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

// Takes the test's intervals, with the latency of each, and learns the test's outcome.
class CClientCollector : public CEngineEvents {
public:
    CClientCollector(const CClientOptions& opt) : m_opt(opt), m_plan{opt.dInterval, opt.dOmit} {}
    void Begin(CKestrunEngine* pEngine, CClientTest* pTest, CHandshakeProber* pProber) {
        std::lock_guard<std::mutex> lock(m_cs);
        m_pEngine = pEngine;
        m_pTest = pTest;
        m_pProber = pProber;
        m_t0 = Clock::now();
    }
    Clock::time_point Start() const { return m_t0; }
    const CIntervalPlan& Plan() const { return m_plan; }
    void OnClientTestEnded(const std::string& strErrorText) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_strError = strErrorText;
        m_dEnded = SecondsSince(m_t0);
        m_bEnded = true;
        m_cv.notify_all();
    }
    // Waits until the test ends or tUntil; true when it has ended.
    bool WaitEnded(Clock::time_point tUntil) {
        std::unique_lock<std::mutex> lock(m_cs);
        return m_cv.wait_until(lock, tUntil, [this] { return m_bEnded; });
    }
    // No connection ever connected: the test failed as a connect that timed out does.
    void NoteNeverConnected() {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_strError.empty())
            m_strError = GetErrorText(asio::error_code(asio::error::timed_out).value());
    }
    // One interval ends now.
    void TakeInterval() {
        std::lock_guard<std::mutex> lock(m_cs);
        AddLocked(true);
    }
    // The bytes counted after the last interval: nothing moved is left out of the totals.
    // The test is over; nothing is sampled after this.
    void TakeRemainder() {
        std::lock_guard<std::mutex> lock(m_cs);
        AddLocked(false);
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
        report.loaded = SummarizeLatency(m_vecLoadedMs);
    }

private:
    void AddLocked(bool bFullInterval) {
        CIntervalSample sample;
        sample.dStart = m_intervals.empty() ? 0.0 : m_intervals.back().dEnd;
        sample.dEnd = SecondsSince(m_t0);
        sample.bOmitted = m_plan.IsOmitted(sample.dStart);
        uint64_t nSend = 0;
        m_pEngine->TakeCounters(sample.nRecvBytes, nSend);
        const CClientTest::CTcpSample tcp = m_pTest->SampleTcp();
        // An upload counts what the server acknowledged: bytes still queued in this
        // host when the test ends never reached it.
        if (tcp.nAckedSendBytes) {
            nSend =
                *tcp.nAckedSendBytes > m_nAckedBefore ? *tcp.nAckedSendBytes - m_nAckedBefore : 0;
            m_nAckedBefore = std::max(m_nAckedBefore, *tcp.nAckedSendBytes);
        }
        sample.nSendBytes = nSend;
        if (!bFullInterval && sample.nRecvBytes == 0 && sample.nSendBytes == 0)
            return;
        if (bFullInterval) {
            sample.rtt = SummarizeLatency(tcp.vecRttMs);
            const std::vector<double> vecNew = m_pProber->Since(m_nHandshakesSeen);
            m_nHandshakesSeen += vecNew.size();
            sample.handshake = SummarizeLatency(vecNew).median;
            if (!sample.bOmitted)
                m_vecLoadedMs.insert(m_vecLoadedMs.end(), vecNew.begin(), vecNew.end());
        }
        m_intervals.push_back(sample);
        if (m_opt.bJsonStream) {
            const std::string strJson = FormatJsonInterval(sample);
            PrintLine(stdout, "{\"event\": \"interval\", " + strJson.substr(1));
        } else if (!m_opt.bJson) {
            PrintLine(stdout, FormatIntervalLine(sample));
        }
    }

    const CClientOptions& m_opt;
    const CIntervalPlan m_plan;
    Clock::time_point m_t0 = Clock::now();
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::vector<CIntervalSample> m_intervals;
    std::vector<double> m_vecLoadedMs;
    uint64_t m_nAckedBefore = 0;
    size_t m_nHandshakesSeen = 0;
    std::string m_strError;
    bool m_bEnded = false;
    double m_dEnded = 0;
    CKestrunEngine* m_pEngine = nullptr;
    CClientTest* m_pTest = nullptr;
    CHandshakeProber* m_pProber = nullptr;
};

// Handshakes before the transfer, each within what is left of the connect timeout; stops
// at the first that fails (the test itself then says why) or at a stop signal.
CLatencySummary MeasureIdleLatency(CKestrunEngine& engine, const CClientOptions& opt,
                                   Clock::time_point tConnectDeadline) {
    std::vector<double> vecMs;
    for (int i = 0; i < 5 && !WaitForStopSignal(0); ++i) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(tConnectDeadline - Clock::now());
        if (left.count() <= 0)
            break;
        const int nTimeoutMs = static_cast<int>(std::min<long long>(left.count(), 3000));
        COptionalMs ms = MeasureHandshakeMs(engine, opt.strHost, opt.nPort, nTimeoutMs,
                                            [] { return WaitForStopSignal(0); });
        if (!ms)
            break;
        vecMs.push_back(*ms);
    }
    return SummarizeLatency(vecMs);
}

CMeasuredFigures MeasuredFigures(const CClientReport& report) {
    CMeasuredFigures figures;
    const double dSeconds = report.MeasuredSeconds();
    const auto bits = [dSeconds](uint64_t nBytes) {
        return dSeconds > 0 ? static_cast<double>(nBytes) * 8.0 / dSeconds : 0.0;
    };
    if (report.direction != EClientDirection::kUpload)
        figures.vecRates.emplace_back("received", bits(report.TotalRecv()));
    if (report.direction != EClientDirection::kDownload)
        figures.vecRates.emplace_back("sent", bits(report.TotalSend()));
    figures.dLoadedLatencyMs = LoadedLatencyFigure(report);
    return figures;
}

// Prints the outcome; the exit status.
int Report(const CClientOptions& opt, CClientCollector& collector, const CLatencySummary& idle,
           const std::string& strEarlyEnd) {
    CClientReport report;
    report.strHost = opt.strHost;
    report.nPort = opt.nPort;
    report.direction = opt.direction;
    report.nConnections = opt.nConnections;
    report.nSeconds = opt.nSeconds;
    report.dInterval = opt.dInterval;
    report.dOmit = opt.dOmit;
    report.nRateBitsPerSecond = opt.nRateBitsPerSecond;
    report.idle = idle;
    collector.Fill(report);
    const bool bEarly = report.strError.empty() && !strEarlyEnd.empty();
    if (bEarly)
        report.strError = strEarlyEnd;
    if (opt.thresholds.Any() && report.strError.empty())
        report.verdict = JudgeTest(opt.thresholds, MeasuredFigures(report));
    if (opt.bJsonStream) {
        PrintLine(stdout,
                  "{\"event\": \"end\", \"totals\": " + FormatJsonTotals(report) +
                      ", \"verdict\": " + FormatVerdictJson(report.verdict) + ", \"error\": " +
                      (report.strError.empty() ? "null" : JsonQuote(report.strError)) + "}");
    } else if (opt.bJson) {
        std::fputs(FormatJsonReport(report).c_str(), stdout);
    } else if (report.strError.empty() || bEarly) {
        PrintLine(stdout, FormatSummary(report));
        PrintLine(stdout, FormatLatencyLine(report));
    }
    std::fflush(stdout);
    if (report.verdict && !report.verdict->bPassed) {
        for (const auto& strMessage : report.verdict->vecMessages)
            PrintLine(stderr, "tachyra-cli: threshold missed: " + strMessage);
        return 3;
    }
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

std::string StartLine(const CClientOptions& opt) {
    std::string strLine =
        "Connecting to " + opt.strHost + " port " + std::to_string(opt.nPort) + ": " +
        DirectionName(opt.direction) + ", " + std::to_string(opt.nConnections) + " connections" +
        (opt.direction == EClientDirection::kBoth ? " each way, " : ", ") +
        (opt.nSeconds > 0 ? std::to_string(opt.nSeconds) + " s" : std::string("until stopped"));
    if (opt.dOmit > 0)
        strLine += FormatString(" after %.1f s of warm-up", opt.dOmit);
    if (opt.nRateBitsPerSecond > 0)
        strLine += ", at most " + FormatBitRate(static_cast<double>(opt.nRateBitsPerSecond)) +
                   (opt.direction == EClientDirection::kBoth ? " each way" : "");
    return strLine;
}

} // namespace

int RunClientMode(const CClientOptions& opt) {
    CClientCollector collector(opt);
    CKestrunEngine engine(&collector);
    CClientTest test(engine);
    // One connect timeout covers the whole way in: the idle handshakes and the test's
    // own connects.
    const auto tConnectDeadline = Clock::now() + std::chrono::seconds(opt.nConnectTimeout);
    CClientSettings settings;
    settings.strServerAddr = opt.strHost;
    settings.nServerPort = opt.nPort;
    settings.direction = opt.direction;
    settings.nSessions = opt.nConnections;
    settings.nConnectTimeoutSeconds = opt.nConnectTimeout;
    settings.tConnectDeadline = tConnectDeadline;
    settings.nRateBitsPerSecond = opt.nRateBitsPerSecond;
    if (!opt.bJson && !opt.bJsonStream)
        PrintLine(stdout, StartLine(opt));
    const CLatencySummary idle = MeasureIdleLatency(engine, opt, tConnectDeadline);
    CHandshakeProber prober(engine, opt.strHost, opt.nPort);
    collector.Begin(&engine, &test, &prober);
    const auto tStart = collector.Start();
    test.StartClientTest(settings);

    const double dRunSeconds = opt.nSeconds + opt.dOmit;
    const auto At = [tStart](double dSeconds) {
        return tStart +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
    };
    const auto tDeadline = opt.nSeconds > 0 ? At(dRunSeconds) : Clock::time_point::max();
    double dNextEnd = collector.Plan().NextEnd(0);
    bool bEndedByItself = false;
    bool bStoppedByUser = false;
    for (;;) {
        const auto tNext = std::min(At(dNextEnd), tDeadline);
        if (collector.WaitEnded(std::min(tNext, Clock::now() + std::chrono::milliseconds(50)))) {
            bEndedByItself = true;
            break;
        }
        if (WaitForStopSignal(0)) {
            bStoppedByUser = true;
            break;
        }
        if (Clock::now() >= tNext) {
            collector.TakeInterval();
            dNextEnd = collector.Plan().NextEnd(dNextEnd);
        }
        if (Clock::now() >= tDeadline)
            break;
    }
    std::string strEarlyEnd;
    if (bEndedByItself && opt.nSeconds > 0) {
        // Every connection ended before the time was up, and not for a stop of ours.
        strEarlyEnd = FormatString("the server ended the test after %.1f s of %g s",
                                   SecondsSince(tStart), dRunSeconds);
    }
    test.StopClientTest();
    // Sessions end within moments of the stop; the summary never waits longer than a
    // second for them, and a second Ctrl-C leaves at once.
    const auto tGiveUp = Clock::now() + std::chrono::seconds(1);
    while (!collector.WaitEnded(Clock::now() + std::chrono::milliseconds(20))) {
        if (WaitForAnotherStopSignal(0) >= 2)
            std::_Exit(130);
        if (Clock::now() >= tGiveUp) {
            collector.TakeRemainder();
            const int nStatus = Report(opt, collector, idle, strEarlyEnd);
            std::fflush(stderr);
            std::_Exit(nStatus); // sessions still blocked somewhere must not hold the exit
        }
    }
    prober.Stop();
    test.WaitForTestEnd();
    collector.TakeRemainder();
    if (test.ConnectedCount() == 0 && !bStoppedByUser)
        collector.NoteNeverConnected(); // a -t shorter than the connect timeout ran out first
    return Report(opt, collector, idle, strEarlyEnd);
}
