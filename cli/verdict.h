// Thresholds a script sets for a client test, and whether a finished test met them.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CThresholds {
    std::optional<double> dMinBitsPerSecond; // --fail-below
    std::optional<double> dMaxLatencyMs;     // --fail-latency
    std::optional<double> dMaxLossPercent;   // --fail-loss
    bool Any() const { return dMinBitsPerSecond || dMaxLatencyMs || dMaxLossPercent; }
};

// What the test measured, for the thresholds: the mean rate of each measured direction
// (named "received" or "sent"), the loaded latency figure, the datagrams lost.
struct CMeasuredFigures {
    std::vector<std::pair<std::string, double>> vecRates;
    std::optional<double> dLoadedLatencyMs;
    std::optional<double> dLossPercent;
};

struct CVerdict {
    bool bPassed = true;
    // "rate", "latency", "loss": each threshold missed once, in that order.
    std::vector<std::string> vecFailed;
    // One line per miss: which threshold and by how much.
    std::vector<std::string> vecMessages;
};

// A figure that could not be measured misses its threshold: a script must not pass a run
// that never showed what it asked about.
CVerdict JudgeTest(const CThresholds& thresholds, const CMeasuredFigures& measured);

// {"passed": …, "failed": […]}, or null for a run without thresholds.
std::string FormatVerdictJson(const std::optional<CVerdict>& verdict);
