#include "engine/results_format.h"

#include "support/ascii.h"
#include "support/format.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

// The latency figures a page may report, in the order they are written back.
const char* const kLatencyKeys[] = {"idle", "jitter", "download", "upload"};

void SkipSpace(const std::string& strText, size_t& nPos) {
    while (nPos < strText.size() && (strText[nPos] == ' ' || strText[nPos] == '\t' ||
                                     strText[nPos] == '\r' || strText[nPos] == '\n'))
        ++nPos;
}

std::string FormatNumber(double dValue) {
    return FormatString("%.3f", dValue);
}

std::string FormatResultJson(const CTestResult& r) {
    return "{\"time\": \"" + FormatIsoTime(r.dTime) +
           "\", \"peer\": " + QuoteEscaped(r.strPeer, true) +
           ", \"kind\": " + QuoteEscaped(r.strKind, true) +
           ", \"direction\": " + QuoteEscaped(r.strDirection, true) +
           FormatString(", \"seconds\": %.3f, \"recv_bytes\": %llu, \"send_bytes\": %llu, "
                        "\"recv_MBps\": %.4f, \"send_MBps\": %.4f, \"latency_ms\": ",
                        r.dSeconds, static_cast<unsigned long long>(r.nRecvBytes),
                        static_cast<unsigned long long>(r.nSendBytes),
                        ResultMBps(r.nRecvBytes, r.dSeconds),
                        ResultMBps(r.nSendBytes, r.dSeconds)) +
           (r.strLatencyJson.empty() ? std::string("null") : r.strLatencyJson) + "}";
}

} // namespace

std::string FormatIsoTime(double dUnixSeconds) {
    const auto nMillis = static_cast<long long>(std::llround(dUnixSeconds * 1000.0));
    const std::time_t tSeconds = static_cast<std::time_t>(nMillis / 1000);
    std::tm tmUtc{};
#if defined(_WIN32)
    gmtime_s(&tmUtc, &tSeconds);
#else
    gmtime_r(&tSeconds, &tmUtc);
#endif
    return FormatString("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tmUtc.tm_year + 1900,
                        tmUtc.tm_mon + 1, tmUtc.tm_mday, tmUtc.tm_hour, tmUtc.tm_min, tmUtc.tm_sec,
                        static_cast<int>(nMillis % 1000));
}

std::string FormatResultsJson(const std::vector<CTestResult>& vecResults) {
    std::string strOut = "{\"tests\": [";
    for (size_t i = 0; i < vecResults.size(); ++i)
        strOut += (i == 0 ? "\n  " : ",\n  ") + FormatResultJson(vecResults[i]);
    strOut += vecResults.empty() ? "]}\n" : "\n]}\n";
    return strOut;
}

std::string FormatResultsCsv(const std::vector<CTestResult>& vecResults) {
    std::string strOut = "time,peer,kind,direction,seconds,recv_bytes,send_bytes,recv_MBps,"
                         "send_MBps,latency_ms\r\n";
    for (const CTestResult& r : vecResults) {
        std::string strLatency = r.strLatencyJson;
        size_t nQuote = 0;
        while ((nQuote = strLatency.find('"', nQuote)) != std::string::npos) {
            strLatency.insert(nQuote, 1, '"');
            nQuote += 2;
        }
        // Addresses and kinds hold no comma or quote: they come from the server itself.
        strOut += FormatIsoTime(r.dTime) + "," + r.strPeer + "," + r.strKind + "," +
                  r.strDirection +
                  FormatString(",%.3f,%llu,%llu,%.4f,%.4f,", r.dSeconds,
                               static_cast<unsigned long long>(r.nRecvBytes),
                               static_cast<unsigned long long>(r.nSendBytes),
                               ResultMBps(r.nRecvBytes, r.dSeconds),
                               ResultMBps(r.nSendBytes, r.dSeconds)) +
                  (strLatency.empty() ? std::string() : "\"" + strLatency + "\"") + "\r\n";
    }
    return strOut;
}

std::string SanitizeLatencyJson(const std::string& strText) {
    double adValues[std::size(kLatencyKeys)];
    bool abHave[std::size(kLatencyKeys)] = {};
    size_t nPos = 0;
    SkipSpace(strText, nPos);
    if (nPos >= strText.size() || strText[nPos++] != '{')
        return std::string();
    SkipSpace(strText, nPos);
    bool bFirst = true;
    for (;;) {
        if (nPos < strText.size() && strText[nPos] == '}' && bFirst) {
            ++nPos;
            break;
        }
        // "key"
        if (nPos >= strText.size() || strText[nPos++] != '"')
            return std::string();
        const size_t nKeyEnd = strText.find('"', nPos);
        if (nKeyEnd == std::string::npos || nKeyEnd - nPos > 32)
            return std::string();
        const std::string strKey = strText.substr(nPos, nKeyEnd - nPos);
        if (strKey.find('\\') != std::string::npos)
            return std::string();
        nPos = nKeyEnd + 1;
        SkipSpace(strText, nPos);
        if (nPos >= strText.size() || strText[nPos++] != ':')
            return std::string();
        SkipSpace(strText, nPos);
        // a number or null
        const size_t nValueEnd = strText.find_first_of(",} \t\r\n", nPos);
        if (nValueEnd == std::string::npos || nValueEnd == nPos)
            return std::string();
        const std::string strValue = strText.substr(nPos, nValueEnd - nPos);
        nPos = nValueEnd;
        if (strValue != "null") {
            if (strValue.find_first_not_of("0123456789.eE+-") != std::string::npos)
                return std::string();
            char* pEnd = nullptr;
            const double dValue = std::strtod(strValue.c_str(), &pEnd);
            if (pEnd != strValue.c_str() + strValue.size() || !std::isfinite(dValue) ||
                dValue < 0 || dValue > 1e9)
                return std::string();
            for (size_t i = 0; i < std::size(kLatencyKeys); ++i) {
                if (strKey == kLatencyKeys[i]) {
                    adValues[i] = dValue;
                    abHave[i] = true;
                }
            }
        }
        SkipSpace(strText, nPos);
        if (nPos < strText.size() && strText[nPos] == ',') {
            ++nPos;
            SkipSpace(strText, nPos);
            bFirst = false;
            continue;
        }
        if (nPos < strText.size() && strText[nPos] == '}') {
            ++nPos;
            break;
        }
        return std::string();
    }
    SkipSpace(strText, nPos);
    if (nPos != strText.size())
        return std::string();
    std::string strOut;
    for (size_t i = 0; i < std::size(kLatencyKeys); ++i) {
        if (abHave[i])
            strOut += (strOut.empty() ? "{\"" : ", \"") + std::string(kLatencyKeys[i]) +
                      "\": " + FormatNumber(adValues[i]);
    }
    return strOut.empty() ? strOut : strOut + "}";
}
