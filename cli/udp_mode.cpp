#include "cli/udp_mode.h"

#include "cli/report.h"
#include "cli/verdict.h"
#include "client/udp_test.h"
#include "headless/stop_signal.h"
#include "support/format.h"
#include "support/version.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct CUdpInterval {
    double dStart = 0;
    double dEnd = 0;
    uint64_t nRecvBytes = 0;
    uint64_t nSendBytes = 0;
    CUdpFigures udp;
};

std::string IntervalLine(const CUdpInterval& iv) {
    const double dSpan = iv.dEnd - iv.dStart;
    return FormatString(
        "[%6.2f-%6.2f s]  recv %10.2f MB/s  send %10.2f MB/s  loss %6.2f %% "
        "(%llu/%llu)  jitter %.3f ms",
        iv.dStart, iv.dEnd, MeanMegabytesPerSecond(iv.nRecvBytes, dSpan),
        MeanMegabytesPerSecond(iv.nSendBytes, dSpan), iv.udp.LossPercent(),
        static_cast<unsigned long long>(iv.udp.nLostDatagrams),
        static_cast<unsigned long long>(iv.udp.nLostDatagrams + iv.udp.nReceivedDatagrams),
        iv.udp.dJitterMs);
}

std::string BytesJson(double dStart, double dEnd, uint64_t nRecv, uint64_t nSend) {
    const double dSpan = dEnd - dStart;
    return FormatString("\"recv_bytes\": %llu, \"send_bytes\": %llu, \"recv_MBps\": %.4f, "
                        "\"send_MBps\": %.4f",
                        static_cast<unsigned long long>(nRecv),
                        static_cast<unsigned long long>(nSend),
                        MeanMegabytesPerSecond(nRecv, dSpan), MeanMegabytesPerSecond(nSend, dSpan));
}

std::string IntervalJson(const CUdpInterval& iv) {
    return FormatString("{\"start\": %.3f, \"end\": %.3f, ", iv.dStart, iv.dEnd) +
           BytesJson(iv.dStart, iv.dEnd, iv.nRecvBytes, iv.nSendBytes) +
           ", \"udp\": " + FormatUdpJson(iv.udp) + "}";
}

class CUdpRunner {
public:
    CUdpRunner(const CClientOptions& opt, uint64_t nRateBps, uint32_t nSize)
        : m_opt(opt), m_bUpload(opt.direction == EClientDirection::kUpload), m_nRateBps(nRateBps),
          m_nSize(nSize), m_test(m_engine) {}

    int Run() {
        CUdpTestSettings settings;
        settings.strHost = m_opt.strHost;
        settings.nPort = m_opt.nPort;
        settings.bUpload = m_bUpload;
        settings.nRateBps = m_nRateBps;
        settings.nDatagramSize = m_nSize;
        settings.nConnectTimeoutSeconds = m_opt.nConnectTimeout;
        if (!m_opt.bJson && !m_opt.bJsonStream) {
            PrintLine(stdout, FormatString("Connecting to %s port %d: UDP %s at %.2f Mbit/s, "
                                           "%u-byte datagrams, ",
                                           m_opt.strHost.c_str(), m_opt.nPort,
                                           m_bUpload ? "upload" : "download",
                                           static_cast<double>(m_nRateBps) / 1e6, m_nSize) +
                                  (m_opt.nSeconds > 0 ? std::to_string(m_opt.nSeconds) + " s"
                                                      : std::string("until stopped")));
        }
        m_test.Start(settings);
        // The clock starts once the server has taken the test.
        bool bEnded = false;
        while (!m_test.Accepted() && !(bEnded = m_test.WaitEnded(10))) {
            if (WaitForStopSignal(10)) {
                m_test.Stop();
                return Finish(0);
            }
        }
        if (!m_test.Accepted()) {
            m_test.Stop();
            return Finish(1);
        }
        m_t0 = Clock::now();
        const auto tDeadline = m_t0 + std::chrono::seconds(m_opt.nSeconds);
        const auto interval = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(m_opt.dInterval));
        auto tNext = m_t0 + interval;
        bool bStopped = false;
        while (!bEnded) {
            if (m_test.WaitEnded(20)) {
                bEnded = true;
                break;
            }
            if (WaitForStopSignal(20)) {
                bStopped = true;
                break;
            }
            const auto tNow = Clock::now();
            if (m_opt.nSeconds > 0 && tNow >= tDeadline)
                break;
            if (tNow >= tNext) {
                AddInterval(m_test.Figures());
                tNext += interval;
            }
        }
        m_test.Stop();
        // The last part: what moved since the last interval, with the final figures.
        AddInterval(m_test.Figures());
        std::string strEarly;
        if (bEnded && !bStopped && m_test.ErrorText().empty() && m_opt.nSeconds > 0)
            strEarly = "the server ended the test early";
        return Finish(strEarly.empty() ? 0 : 1, strEarly);
    }

private:
    void AddInterval(const CUdpFigures& now) {
        CUdpInterval iv;
        iv.dStart = m_intervals.empty() ? 0.0 : m_intervals.back().dEnd;
        iv.dEnd = std::chrono::duration<double>(Clock::now() - m_t0).count();
        m_engine.TakeCounters(iv.nRecvBytes, iv.nSendBytes);
        iv.udp = now.Since(m_totalUdp);
        m_totalUdp = now;
        m_intervals.push_back(iv);
        if (m_opt.bJsonStream)
            PrintLine(stdout, "{\"event\": \"interval\", " + IntervalJson(iv).substr(1));
        else if (!m_opt.bJson)
            PrintLine(stdout, IntervalLine(iv));
    }

    std::string TotalsJson(double dSeconds) const {
        uint64_t nRecv = 0, nSend = 0;
        for (const CUdpInterval& iv : m_intervals)
            nRecv += iv.nRecvBytes, nSend += iv.nSendBytes;
        return FormatString("{\"seconds\": %.3f, ", dSeconds) +
               BytesJson(0, dSeconds, nRecv, nSend) + ", \"udp\": " + FormatUdpJson(m_totalUdp) +
               "}";
    }

    int Finish(int nStatus, const std::string& strEarly = std::string()) {
        std::string strError = m_test.ErrorText();
        if (strError.empty())
            strError = strEarly;
        const double dSeconds = m_intervals.empty() ? 0.0 : m_intervals.back().dEnd;
        const std::string strErrorJson = strError.empty() ? "null" : JsonQuote(strError);
        std::optional<CVerdict> verdict;
        if (strError.empty() && nStatus == 0 && m_opt.thresholds.Any() && !m_intervals.empty()) {
            // The thresholds: the received rate and the loss (no latency is measured here).
            CMeasuredFigures measured;
            const double dBits = static_cast<double>(m_totalUdp.nReceivedDatagrams) * m_nSize * 8;
            measured.vecRates.emplace_back("received", dSeconds > 0 ? dBits / dSeconds : 0.0);
            measured.dLossPercent = m_totalUdp.LossPercent();
            verdict = JudgeTest(m_opt.thresholds, measured);
        }
        const std::string strVerdictJson = FormatVerdictJson(verdict);
        if (m_opt.bJsonStream) {
            PrintLine(stdout, "{\"event\": \"end\", \"totals\": " + TotalsJson(dSeconds) +
                                  ", \"verdict\": " + strVerdictJson +
                                  ", \"error\": " + strErrorJson + "}");
        } else if (m_opt.bJson) {
            std::string s = "{\n";
            s += FormatString("  \"version\": %s,\n", JsonQuote(kProductVersion).c_str());
            s += FormatString("  \"settings\": {\"host\": %s, \"port\": %d, \"direction\": "
                              "\"%s\", \"protocol\": \"udp\", \"rate_bps\": %llu, "
                              "\"length\": %u, \"seconds\": %d},\n",
                              JsonQuote(m_opt.strHost).c_str(), m_opt.nPort,
                              m_bUpload ? "upload" : "download",
                              static_cast<unsigned long long>(m_nRateBps), m_nSize, m_opt.nSeconds);
            s += "  \"intervals\": [";
            for (size_t i = 0; i < m_intervals.size(); ++i)
                s += std::string(i == 0 ? "" : ",") + "\n    " + IntervalJson(m_intervals[i]);
            s += m_intervals.empty() ? "],\n" : "\n  ],\n";
            s += "  \"totals\": " + TotalsJson(dSeconds) + ",\n";
            s += "  \"verdict\": " + strVerdictJson + ",\n";
            s += "  \"error\": " + strErrorJson + "\n}\n";
            std::fputs(s.c_str(), stdout);
        } else if (!m_intervals.empty()) {
            const CUdpFigures& t = m_totalUdp;
            PrintLine(stdout,
                      FormatString("Summary: %.2f s, %llu datagrams sent, %llu received, %llu "
                                   "lost (%.2f %%), %llu out of order, %llu duplicates, jitter "
                                   "%.3f ms",
                                   dSeconds, static_cast<unsigned long long>(t.nSentDatagrams),
                                   static_cast<unsigned long long>(t.nReceivedDatagrams),
                                   static_cast<unsigned long long>(t.nLostDatagrams),
                                   t.LossPercent(), static_cast<unsigned long long>(t.nOutOfOrder),
                                   static_cast<unsigned long long>(t.nDuplicates), t.dJitterMs));
        }
        std::fflush(stdout);
        if (verdict) {
            for (const std::string& strLine : verdict->vecMessages)
                PrintLine(stderr, "tachyra-cli: threshold missed: " + strLine);
            return verdict->bPassed ? 0 : 3;
        }
        if (strError.empty())
            return nStatus;
        const bool bBare =
            m_opt.strHost.find(':') != std::string::npos && m_opt.strHost.front() != '[';
        const std::string strHost = bBare ? "[" + m_opt.strHost + "]" : m_opt.strHost;
        PrintLine(stderr,
                  "tachyra-cli: " + strHost + ":" + std::to_string(m_opt.nPort) + ": " + strError);
        return 1;
    }

    const CClientOptions& m_opt;
    const bool m_bUpload;
    const uint64_t m_nRateBps;
    const uint32_t m_nSize;
    CKestrunEngine m_engine;
    CUdpClientTest m_test;
    Clock::time_point m_t0 = Clock::now();
    std::vector<CUdpInterval> m_intervals;
    CUdpFigures m_totalUdp; // the cumulative figures at the last interval
};

} // namespace

int RunUdpClientMode(const CClientOptions& opt, uint64_t nRateBps, uint32_t nDatagramSize) {
    CUdpRunner runner(opt, nRateBps, nDatagramSize);
    return runner.Run();
}
