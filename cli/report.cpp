#include "cli/report.h"

#include "support/ascii.h"

#include "meter/meter.h"
#include "support/format.h"
#include "support/version.h"

uint64_t CClientReport::TotalRecv() const {
    uint64_t n = 0;
    for (const auto& s : intervals)
        n += s.nRecvBytes;
    return n;
}

uint64_t CClientReport::TotalSend() const {
    uint64_t n = 0;
    for (const auto& s : intervals)
        n += s.nSendBytes;
    return n;
}

double MeanMegabytesPerSecond(uint64_t nBytes, double dSeconds) {
    return dSeconds > 0 ? BytesToMegabytes(nBytes) / dSeconds : 0.0;
}

std::string FormatIntervalLine(const CIntervalSample& sample) {
    double dSpan = sample.dEnd - sample.dStart;
    return FormatString("[%6.2f-%6.2f s]  recv %10.2f MB/s  send %10.2f MB/s", sample.dStart,
                        sample.dEnd, MeanMegabytesPerSecond(sample.nRecvBytes, dSpan),
                        MeanMegabytesPerSecond(sample.nSendBytes, dSpan));
}

std::string FormatSummary(const CClientReport& report) {
    return FormatString("Summary: %.2f s, received %llu bytes (%.2f MB/s), sent %llu bytes "
                        "(%.2f MB/s)",
                        report.dElapsed, static_cast<unsigned long long>(report.TotalRecv()),
                        MeanMegabytesPerSecond(report.TotalRecv(), report.dElapsed),
                        static_cast<unsigned long long>(report.TotalSend()),
                        MeanMegabytesPerSecond(report.TotalSend(), report.dElapsed));
}

std::string JsonQuote(const std::string& strText) {
    return QuoteEscaped(strText, true);
}

std::string FormatJsonReport(const CClientReport& r) {
    std::string s = "{\n";
    s += FormatString("  \"version\": %s,\n", JsonQuote(kProductVersion).c_str());
    s += FormatString("  \"settings\": {\"host\": %s, \"port\": %d, \"direction\": \"%s\", "
                      "\"connections\": %d, \"seconds\": %d},\n",
                      JsonQuote(r.strHost).c_str(), r.nPort, r.bUpload ? "upload" : "download",
                      r.nConnections, r.nSeconds);
    s += "  \"intervals\": [";
    for (size_t i = 0; i < r.intervals.size(); ++i) {
        const CIntervalSample& iv = r.intervals[i];
        double dSpan = iv.dEnd - iv.dStart;
        s += FormatString("%s\n    {\"start\": %.3f, \"end\": %.3f, \"recv_bytes\": %llu, "
                          "\"send_bytes\": %llu, \"recv_MBps\": %.4f, \"send_MBps\": %.4f}",
                          i == 0 ? "" : ",", iv.dStart, iv.dEnd,
                          static_cast<unsigned long long>(iv.nRecvBytes),
                          static_cast<unsigned long long>(iv.nSendBytes),
                          MeanMegabytesPerSecond(iv.nRecvBytes, dSpan),
                          MeanMegabytesPerSecond(iv.nSendBytes, dSpan));
    }
    s += r.intervals.empty() ? "],\n" : "\n  ],\n";
    s += FormatString("  \"totals\": {\"seconds\": %.3f, \"recv_bytes\": %llu, \"send_bytes\": "
                      "%llu, \"recv_MBps\": %.4f, \"send_MBps\": %.4f},\n",
                      r.dElapsed, static_cast<unsigned long long>(r.TotalRecv()),
                      static_cast<unsigned long long>(r.TotalSend()),
                      MeanMegabytesPerSecond(r.TotalRecv(), r.dElapsed),
                      MeanMegabytesPerSecond(r.TotalSend(), r.dElapsed));
    s += FormatString("  \"error\": %s\n",
                      r.strError.empty() ? "null" : JsonQuote(r.strError).c_str());
    s += "}\n";
    return s;
}
