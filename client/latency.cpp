#include "client/latency.h"

#include "support/socket.h"

#include <algorithm>
#include <chrono>
#include <numeric>

COptionalMs MeasureHandshakeMs(const std::string& strHost, int nPort, int nTimeoutMs,
                               const std::function<bool()>& fnCancelled) {
    SOCKET s = INVALID_SOCKET;
    if (!CreateTcpSocket(s, std::string(), 0, false))
        return std::nullopt;
    const auto t0 = std::chrono::steady_clock::now();
    const bool bConnected = ConnectIPv4(s, strHost, nPort, nTimeoutMs, fnCancelled);
    const auto t1 = std::chrono::steady_clock::now();
    CloseSocket(s);
    if (!bConnected)
        return std::nullopt;
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

CLatencySummary SummarizeLatency(std::vector<double> vecMs) {
    CLatencySummary summary;
    if (vecMs.empty())
        return summary;
    std::sort(vecMs.begin(), vecMs.end());
    const size_t n = vecMs.size();
    summary.min = vecMs.front();
    summary.max = vecMs.back();
    summary.median = n % 2 == 1 ? vecMs[n / 2] : (vecMs[n / 2 - 1] + vecMs[n / 2]) / 2;
    summary.mean = std::accumulate(vecMs.begin(), vecMs.end(), 0.0) / static_cast<double>(n);
    return summary;
}
