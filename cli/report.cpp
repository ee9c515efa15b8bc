#include "cli/report.h"

#include "support/ascii.h"

#include "meter/meter.h"
#include "support/format.h"
#include "support/platform.h"
#include "support/version.h"

uint64_t CClientReport::TotalRecv() const {
    uint64_t n = 0;
    for (const auto& s : intervals)
        n += s.bOmitted ? 0 : s.nRecvBytes;
    return n;
}

uint64_t CClientReport::TotalSend() const {
    uint64_t n = 0;
    for (const auto& s : intervals)
        n += s.bOmitted ? 0 : s.nSendBytes;
    return n;
}

double CClientReport::MeasuredSeconds() const {
    double dWarmUp = 0;
    for (const auto& s : intervals) {
        if (s.bOmitted)
            dWarmUp = s.dEnd;
    }
    return dElapsed > dWarmUp ? dElapsed - dWarmUp : 0.0;
}

const char* DirectionName(EClientDirection direction) {
    switch (direction) {
    case EClientDirection::kUpload:
        return "upload";
    case EClientDirection::kBoth:
        return "bidir";
    default:
        return "download";
    }
}

double MeanMegabytesPerSecond(uint64_t nBytes, double dSeconds) {
    return dSeconds > 0 ? BytesToMegabytes(nBytes) / dSeconds : 0.0;
}

namespace {

std::string MsText(const COptionalMs& ms) {
    return ms ? FormatString("%.2f ms", *ms) : std::string("n/a");
}

std::string MsJson(const COptionalMs& ms) {
    return ms ? FormatString("%.3f", *ms) : std::string("null");
}

std::string SummaryJson(const CLatencySummary& l) {
    if (!l.median)
        return "null";
    return "{\"min\": " + MsJson(l.min) + ", \"median\": " + MsJson(l.median) +
           ", \"max\": " + MsJson(l.max) + "}";
}

} // namespace

COptionalMs LoadedLatencyFigure(const CClientReport& r) {
    if (r.loaded.median)
        return r.loaded.median;
    std::vector<double> vecRtt;
    for (const auto& iv : r.intervals) {
        if (iv.rtt.mean && !iv.bOmitted)
            vecRtt.push_back(*iv.rtt.mean);
    }
    return SummarizeLatency(vecRtt).mean;
}

std::string FormatIntervalLine(const CIntervalSample& sample) {
    double dSpan = sample.dEnd - sample.dStart;
    return FormatString(
        "[%6.2f-%6.2f s]  recv %10.2f MB/s  send %10.2f MB/s  rtt %s  "
        "handshake %s%s",
        sample.dStart, sample.dEnd, MeanMegabytesPerSecond(sample.nRecvBytes, dSpan),
        MeanMegabytesPerSecond(sample.nSendBytes, dSpan), MsText(sample.rtt.mean).c_str(),
        MsText(sample.handshake).c_str(), sample.bOmitted ? "  (omitted)" : "");
}

std::string FormatSummary(const CClientReport& report) {
    const double dSeconds = report.MeasuredSeconds();
    std::string strSummary =
        FormatString("Summary: %.2f s, received %llu bytes (%.2f MB/s), sent %llu bytes "
                     "(%.2f MB/s)",
                     dSeconds, static_cast<unsigned long long>(report.TotalRecv()),
                     MeanMegabytesPerSecond(report.TotalRecv(), dSeconds),
                     static_cast<unsigned long long>(report.TotalSend()),
                     MeanMegabytesPerSecond(report.TotalSend(), dSeconds));
    if (report.dElapsed > dSeconds)
        strSummary += FormatString(", the first %.2f s omitted", report.dElapsed - dSeconds);
    return strSummary;
}

std::string FormatLatencyLine(const CClientReport& report) {
    const COptionalMs idle = report.idle.median;
    const COptionalMs loaded = LoadedLatencyFigure(report);
    std::string strLine = "latency idle " + MsText(idle) + ", under load " + MsText(loaded);
    if (idle && loaded)
        strLine += FormatString(" (%+.2f ms)", *loaded - *idle);
    return strLine;
}

std::string JsonQuote(const std::string& strText) {
    return QuoteEscaped(Utf8FromProgramText(strText), true);
}

std::string FormatJsonInterval(const CIntervalSample& iv) {
    const double dSpan = iv.dEnd - iv.dStart;
    return FormatString("{\"start\": %.3f, \"end\": %.3f, \"omitted\": %s, \"recv_bytes\": %llu, "
                        "\"send_bytes\": %llu, \"recv_MBps\": %.4f, \"send_MBps\": %.4f, ",
                        iv.dStart, iv.dEnd, iv.bOmitted ? "true" : "false",
                        static_cast<unsigned long long>(iv.nRecvBytes),
                        static_cast<unsigned long long>(iv.nSendBytes),
                        MeanMegabytesPerSecond(iv.nRecvBytes, dSpan),
                        MeanMegabytesPerSecond(iv.nSendBytes, dSpan)) +
           "\"latency_ms\": {\"rtt_min\": " + MsJson(iv.rtt.min) +
           ", \"rtt_mean\": " + MsJson(iv.rtt.mean) + ", \"rtt_max\": " + MsJson(iv.rtt.max) +
           ", \"handshake\": " + MsJson(iv.handshake) + "}}";
}

std::string FormatJsonTotals(const CClientReport& r) {
    return FormatString("{\"seconds\": %.3f, \"recv_bytes\": %llu, \"send_bytes\": %llu, "
                        "\"recv_MBps\": %.4f, \"send_MBps\": %.4f, ",
                        r.MeasuredSeconds(), static_cast<unsigned long long>(r.TotalRecv()),
                        static_cast<unsigned long long>(r.TotalSend()),
                        MeanMegabytesPerSecond(r.TotalRecv(), r.MeasuredSeconds()),
                        MeanMegabytesPerSecond(r.TotalSend(), r.MeasuredSeconds())) +
           "\"latency_ms\": {\"idle\": " + SummaryJson(r.idle) +
           ", \"loaded\": " + SummaryJson(r.loaded) +
           ", \"loaded_figure\": " + MsJson(LoadedLatencyFigure(r)) + "}}";
}

std::string FormatJsonReport(const CClientReport& r) {
    std::string s = "{\n";
    s += FormatString("  \"version\": %s,\n", JsonQuote(kProductVersion).c_str());
    s += FormatString("  \"settings\": {\"host\": %s, \"port\": %d, \"direction\": \"%s\", "
                      "\"connections\": %d, \"seconds\": %d, \"interval\": %.3f, "
                      "\"omit\": %.3f, \"rate_bps\": %s},\n",
                      JsonQuote(r.strHost).c_str(), r.nPort, DirectionName(r.direction),
                      r.nConnections, r.nSeconds, r.dInterval, r.dOmit,
                      r.nRateBitsPerSecond > 0 ? std::to_string(r.nRateBitsPerSecond).c_str()
                                               : "null");
    s += "  \"intervals\": [";
    for (size_t i = 0; i < r.intervals.size(); ++i)
        s += std::string(i == 0 ? "" : ",") + "\n    " + FormatJsonInterval(r.intervals[i]);
    s += r.intervals.empty() ? "],\n" : "\n  ],\n";
    s += "  \"totals\": " + FormatJsonTotals(r) + ",\n";
    s += "  \"verdict\": " + FormatVerdictJson(r.verdict) + ",\n";
    s += FormatString("  \"error\": %s\n",
                      r.strError.empty() ? "null" : JsonQuote(r.strError).c_str());
    s += "}\n";
    return s;
}
