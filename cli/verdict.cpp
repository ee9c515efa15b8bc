#include "cli/verdict.h"

#include "cli/bit_rate.h"
#include "support/format.h"

namespace {

void Miss(CVerdict& verdict, const char* pszName, const std::string& strMessage) {
    verdict.bPassed = false;
    if (verdict.vecFailed.empty() || verdict.vecFailed.back() != pszName)
        verdict.vecFailed.push_back(pszName);
    verdict.vecMessages.push_back(strMessage);
}

} // namespace

CVerdict JudgeTest(const CThresholds& t, const CMeasuredFigures& m) {
    CVerdict verdict;
    if (t.dMinBitsPerSecond) {
        const double dMin = *t.dMinBitsPerSecond;
        if (m.vecRates.empty())
            Miss(verdict, "rate", "rate below " + FormatBitRate(dMin) + ": nothing was measured");
        for (const auto& [strName, dRate] : m.vecRates) {
            if (dRate < dMin) {
                Miss(verdict, "rate",
                     "rate below " + FormatBitRate(dMin) + ": " + strName + " " +
                         FormatBitRate(dRate) + ", short by " + FormatBitRate(dMin - dRate));
            }
        }
    }
    if (t.dMaxLatencyMs) {
        const double dMax = *t.dMaxLatencyMs;
        if (!m.dLoadedLatencyMs) {
            Miss(verdict, "latency",
                 FormatString("latency above %.2f ms: no latency under load was measured", dMax));
        } else if (*m.dLoadedLatencyMs > dMax) {
            Miss(verdict, "latency",
                 FormatString("latency above %.2f ms: %.2f ms under load, over by %.2f ms", dMax,
                              *m.dLoadedLatencyMs, *m.dLoadedLatencyMs - dMax));
        }
    }
    if (t.dMaxLossPercent) {
        const double dMax = *t.dMaxLossPercent;
        if (!m.dLossPercent) {
            Miss(verdict, "loss",
                 FormatString("loss above %.2f %%: no datagram loss was measured (UDP tests only)",
                              dMax));
        } else if (*m.dLossPercent > dMax) {
            Miss(verdict, "loss",
                 FormatString("loss above %.2f %%: %.2f %% lost, over by %.2f points", dMax,
                              *m.dLossPercent, *m.dLossPercent - dMax));
        }
    }
    return verdict;
}

std::string FormatVerdictJson(const std::optional<CVerdict>& verdict) {
    if (!verdict)
        return "null";
    std::string strFailed;
    for (const auto& strName : verdict->vecFailed)
        strFailed += (strFailed.empty() ? "\"" : ", \"") + strName + "\"";
    return std::string("{\"passed\": ") + (verdict->bPassed ? "true" : "false") +
           ", \"failed\": [" + strFailed + "]}";
}
