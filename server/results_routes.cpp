#include "server/results_routes.h"

#include "engine/results_format.h"
#include "server/http.h"
#include "support/ascii.h"
#include "support/format.h"
#include "support/version.h"

#include <asio/async_result.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>

#include <memory>

namespace {

enum class ERoute { kOther, kPage, kJson, kCsv, kLive, kMetrics };

const char kCookieName[] = "tachyra_token";
// The history answer's default length, and its cap.
const int kDefaultLimit = 1000;
const int kMaxLimit = 100000;

ERoute FindRoute(const std::string& strPath) {
    const std::string strName = strPath.substr(0, strPath.find('?'));
    const std::pair<const char*, ERoute> routes[] = {{"results", ERoute::kPage},
                                                     {"results.json", ERoute::kJson},
                                                     {"results.csv", ERoute::kCsv},
                                                     {"results/live", ERoute::kLive},
                                                     {"metrics", ERoute::kMetrics}};
    for (const auto& [pszName, route] : routes) {
        if (EqualsNoCaseAscii(strName, pszName))
            return route;
    }
    return ERoute::kOther;
}

int HexValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    ch = ToLowerAscii(ch);
    return ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
}

std::string PercentDecode(const std::string& strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == '+') {
            strOut += ' ';
        } else if (strText[i] == '%' && i + 2 < strText.size() && HexValue(strText[i + 1]) >= 0 &&
                   HexValue(strText[i + 2]) >= 0) {
            strOut += static_cast<char>(HexValue(strText[i + 1]) * 16 + HexValue(strText[i + 2]));
            i += 2;
        } else {
            strOut += strText[i];
        }
    }
    return strOut;
}

// The value of a cookie in the request's Cookie field.
std::string CookieValue(const std::string& strRequest, const std::string& strName) {
    const std::string strCookies = GetHeaderValue(strRequest, "Cookie");
    size_t nPos = 0;
    while (nPos < strCookies.size()) {
        size_t nEnd = strCookies.find(';', nPos);
        if (nEnd == std::string::npos)
            nEnd = strCookies.size();
        size_t nStart = strCookies.find_first_not_of(' ', nPos);
        if (nStart < nEnd && strCookies.compare(nStart, strName.size() + 1, strName + "=") == 0)
            return PercentDecode(
                strCookies.substr(nStart + strName.size() + 1, nEnd - nStart - strName.size() - 1));
        nPos = nEnd + 1;
    }
    return std::string();
}

// A cookie value: letters and digits as they are, every other byte as %XX.
std::string PercentEncode(const std::string& strText) {
    std::string strOut;
    for (const char ch : strText) {
        const bool bPlain =
            (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
        strOut +=
            bPlain ? std::string(1, ch)
                   : FormatString("%%%02X", static_cast<unsigned>(static_cast<unsigned char>(ch)));
    }
    return strOut;
}

std::string StatusLine(int nStatus) {
    switch (nStatus) {
    case 200:
        return "HTTP/1.1 200 OK\r\n";
    case 400:
        return "HTTP/1.1 400 Bad Request\r\n";
    case 403:
        return "HTTP/1.1 403 Forbidden\r\n";
    case 413:
        return "HTTP/1.1 413 Content Too Large\r\n";
    default:
        return "HTTP/1.1 503 Service Unavailable\r\n";
    }
}

asio::awaitable<EResultsOutcome> SendAnswer(CByteStream& stream, int nStatus,
                                            const char* pszContentType, const std::string& strBody,
                                            const std::string& strExtraHead = std::string()) {
    const std::string strAnswer = StatusLine(nStatus) + "Content-Type: " + pszContentType +
                                  "\r\nContent-Length: " + std::to_string(strBody.size()) +
                                  "\r\nCache-Control: no-store\r\n" + strExtraHead +
                                  "Connection: close\r\n\r\n" + strBody;
    co_return co_await SendAll(stream, strAnswer.data(), strAnswer.size())
        ? EResultsOutcome::kAnswered
        : EResultsOutcome::kClose;
}

const char kText[] = "text/plain; charset=utf-8";

// Runs fnRead on the history's writer and resumes on this session's thread with its text.
asio::awaitable<std::string> ReadHistory(CResultsHistory* pHistory,
                                         std::function<std::string(CResultsDb*)> fnRead) {
    if (pHistory == nullptr)
        co_return fnRead(nullptr);
    auto executor = co_await asio::this_coro::executor;
    co_return co_await asio::async_initiate<decltype(asio::use_awaitable), void(std::string)>(
        [pHistory, fnRead, executor](auto handler) {
            auto pHandler = std::make_shared<decltype(handler)>(std::move(handler));
            pHistory->Post([pHandler, fnRead, executor](CResultsDb* pDb) {
                asio::post(executor, [pHandler, strText = fnRead(pDb)]() mutable {
                    (*pHandler)(std::move(strText));
                });
            });
        },
        asio::use_awaitable);
}

std::string HistoryText(CResultsDb* pDb, int nLimit, bool bCsv) {
    std::vector<CTestResult> vecResults;
    std::string strError;
    if (pDb != nullptr && !pDb->Query(nLimit, vecResults, strError))
        vecResults.clear();
    return bCsv ? FormatResultsCsv(vecResults) : FormatResultsJson(vecResults);
}

std::string LiveJson(const CResultsContext& run) {
    std::string strOut = "{\"running\": [";
    bool bFirst = true;
    for (const CLiveTest& live : run.pTracker->Live()) {
        strOut += bFirst ? "" : ", ";
        bFirst = false;
        strOut += "{\"peer\": " + QuoteEscaped(live.strPeer, true) +
                  ", \"kind\": " + QuoteEscaped(live.strKind, true) +
                  ", \"direction\": " + QuoteEscaped(live.strDirection, true) +
                  FormatString(", \"seconds\": %.1f, \"recv_bytes\": %llu, \"send_bytes\": %llu, "
                               "\"recv_MBps\": %.2f, \"send_MBps\": %.2f, \"connections\": %d}",
                               live.dSeconds, static_cast<unsigned long long>(live.nRecvBytes),
                               static_cast<unsigned long long>(live.nSendBytes), live.dRecvMBps,
                               live.dSendMBps, live.nConnections);
    }
    strOut += FormatString("], \"tests_total\": %llu}",
                           static_cast<unsigned long long>(run.pTracker->TestsTotal()));
    return strOut;
}

std::string MetricsText(CKestrunEngine& engine, const CResultsContext& run) {
    CTestTracker& tracker = *run.pTracker;
    uint64_t nRecv = 0, nSent = 0;
    engine.TotalCounters(nRecv, nSent);
    auto family = [](const char* pszName, const char* pszType, const char* pszHelp) {
        return FormatString("# HELP %s %s\n# TYPE %s %s\n", pszName, pszHelp, pszName, pszType);
    };
    auto value = [](const char* pszName, uint64_t n) {
        return FormatString("%s %llu\n", pszName, static_cast<unsigned long long>(n));
    };
    std::string strOut =
        family("tachyra_received_bytes_total", "counter", "Payload bytes received.") +
        value("tachyra_received_bytes_total", nRecv) +
        family("tachyra_sent_bytes_total", "counter", "Payload bytes sent.") +
        value("tachyra_sent_bytes_total", nSent);
    std::string strOpen = family("tachyra_open_sessions", "gauge", "Connections open now.");
    std::string strTotal =
        family("tachyra_sessions_total", "counter", "Connections by the test kind they served.");
    uint64_t nMembers = 0;
    for (size_t i = 0; i < CTestTracker::kSessionKinds; ++i) {
        const bool bOther = i + 1 == CTestTracker::kSessionKinds;
        const char* pszKind = bOther ? "other" : kTestKinds[i];
        uint64_t nOpen = 0;
        if (bOther) {
            const uint64_t nAll = run.pSessions != nullptr ? run.pSessions->load() : 0;
            nOpen = nAll > nMembers ? nAll - nMembers : 0;
        } else {
            nOpen = tracker.OpenSessions(i);
            nMembers += nOpen;
        }
        strOpen += FormatString("tachyra_open_sessions{kind=\"%s\"} %llu\n", pszKind,
                                static_cast<unsigned long long>(nOpen));
        strTotal += FormatString("tachyra_sessions_total{kind=\"%s\"} %llu\n", pszKind,
                                 static_cast<unsigned long long>(tracker.SessionsTotal(i)));
    }
    strOut += strOpen + strTotal;
    strOut += family("tachyra_tests_total", "counter", "Tests that ended.") +
              value("tachyra_tests_total", tracker.TestsTotal());
    strOut += family("tachyra_accept_paused_total", "counter",
                     "Times accepting paused for want of descriptors or memory.") +
              value("tachyra_accept_paused_total", tracker.AcceptPauses());
    strOut += family("tachyra_build_info", "gauge", "The server's version.") +
              FormatString("tachyra_build_info{version=\"%s\"} 1\n", kProductVersion);
    return strOut;
}

// Receives a card's body (Content-Length bytes, at most kMaxCardBytes) into strBody.
// Gives 200, 400 (no length), 413 (too long) or 0 (the peer went away).
asio::awaitable<int> RecvCard(CByteStream& stream, const std::string& strRequest,
                              CHttpHeadReader& reader, std::string& strBody) {
    int nLength = 0;
    const std::string strLength = GetHeaderValue(strRequest, "Content-Length");
    if (strLength.empty() || strLength.find_first_not_of("0123456789") != std::string::npos)
        co_return 400;
    if (strLength.size() > 6 || !ParseDecimalInt(strLength, nLength) ||
        static_cast<size_t>(nLength) > kMaxCardBytes)
        co_return 413;
    reader.TakePendingInto(strBody, static_cast<size_t>(nLength));
    while (strBody.size() < static_cast<size_t>(nLength)) {
        char szBuf[kMaxCardBytes];
        const int n = co_await stream.Recv(szBuf, static_cast<size_t>(nLength) - strBody.size());
        if (n < 1)
            co_return 0;
        strBody.append(szBuf, static_cast<size_t>(n));
    }
    co_return 200;
}

asio::awaitable<EResultsOutcome> TakeCard(CByteStream& stream, const std::string& strRequest,
                                          CHttpHeadReader& reader, CSessionContext& context) {
    std::string strBody;
    const int nStatus = co_await RecvCard(stream, strRequest, reader, strBody);
    if (nStatus == 0)
        co_return EResultsOutcome::kClose;
    if (nStatus == 413)
        co_return co_await SendAnswer(
            stream, 413, kText,
            FormatString("a card may have at most %d bytes\n", static_cast<int>(kMaxCardBytes)));
    const std::string strLatency = nStatus == 200 ? SanitizeLatencyJson(strBody) : std::string();
    if (strLatency.empty())
        co_return co_await SendAnswer(stream, 400, kText,
                                      "a card is a JSON object of latencies in milliseconds\n");
    const CResultsContext& run = *context.pRun;
    const bool bJoined = run.pTracker->AttachCard(context.strPeer, strLatency);
    if (!bJoined && run.pHistory != nullptr) {
        // The test ended before its card came: the newest full test of the last two
        // minutes takes it.
        run.pHistory->AddLatency(context.strPeer, UnixTimeNow() - 120, strLatency);
    }
    co_return co_await SendAnswer(stream, 200, "application/json",
                                  bJoined ? "{\"joined\": true}\n" : "{\"joined\": false}\n");
}

// The live table's stream: one event a second until the browser goes or the run stops.
asio::awaitable<EResultsOutcome> StreamLive(CByteStream& stream, const CResultsContext& run) {
    const std::string strHead = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    if (!co_await SendAll(stream, strHead.data(), strHead.size()))
        co_return EResultsOutcome::kClose;
    asio::steady_timer timer(co_await asio::this_coro::executor);
    for (;;) {
        const std::string strEvent = "data: " + LiveJson(run) + "\n\n";
        if (stream.PollReadableNow() != 0 ||
            !co_await SendAll(stream, strEvent.data(), strEvent.size()))
            co_return EResultsOutcome::kClose;
        timer.expires_after(std::chrono::seconds(1));
        co_await timer.async_wait(kAwaitTuple);
    }
}

} // namespace

std::string GetQueryValue(const std::string& strPath, const std::string& strName, bool& bFound) {
    bFound = false;
    const size_t nQuery = strPath.find('?');
    size_t nPos = nQuery == std::string::npos ? strPath.size() : nQuery + 1;
    while (nPos < strPath.size()) {
        size_t nEnd = strPath.find('&', nPos);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        const std::string strParam = strPath.substr(nPos, nEnd - nPos);
        const size_t nEquals = strParam.find('=');
        if (PercentDecode(strParam.substr(0, nEquals)) == strName) {
            bFound = true;
            return nEquals == std::string::npos ? std::string()
                                                : PercentDecode(strParam.substr(nEquals + 1));
        }
        nPos = nEnd + 1;
    }
    return std::string();
}

bool EqualsConstantTime(const std::string& strA, const std::string& strB) {
    unsigned char chDiff = strA.size() == strB.size() ? 0 : 1;
    const size_t nLen = std::max(strA.size(), strB.size());
    for (size_t i = 0; i < nLen; ++i) {
        const unsigned char a = i < strA.size() ? static_cast<unsigned char>(strA[i]) : 0;
        const unsigned char b = i < strB.size() ? static_cast<unsigned char>(strB[i]) : 0;
        chDiff |= static_cast<unsigned char>(a ^ b);
    }
    return chDiff == 0;
}

asio::awaitable<EResultsOutcome>
ServeResultsRequest(CKestrunEngine& engine, CByteStream& stream, const std::string& strRequest,
                    CHttpHeadReader& reader, CSessionContext& context, const CPageTexts& texts) {
    if (context.pRun == nullptr)
        co_return EResultsOutcome::kNotMine;
    const CResultsContext& run = *context.pRun;
    const std::string strPath = GetHeaderValue(strRequest, "path");
    const ERoute route = FindRoute(strPath);
    if (StartsWithNoCaseAscii(strRequest, "POST ")) {
        if (route != ERoute::kPage)
            co_return EResultsOutcome::kNotMine;
        co_return co_await TakeCard(stream, strRequest, reader, context);
    }
    if (route == ERoute::kOther || !StartsWithNoCaseAscii(strRequest, "GET "))
        co_return EResultsOutcome::kNotMine;

    // Who may read: this machine always; others by the token, where there is one.
    bool bQueryToken = false;
    const std::string strQueryToken = GetQueryValue(strPath, "token", bQueryToken);
    bool bToken = false;
    std::string strSetCookie;
    if (!run.strToken.empty()) {
        std::string strBearer = GetHeaderValue(strRequest, "Authorization");
        strBearer = StartsWithNoCaseAscii(strBearer, "Bearer ") ? strBearer.substr(7) : "";
        const bool bByQuery = bQueryToken && EqualsConstantTime(strQueryToken, run.strToken);
        bToken = bByQuery ||
                 (route == ERoute::kMetrics
                      ? !strBearer.empty() && EqualsConstantTime(strBearer, run.strToken)
                      : EqualsConstantTime(CookieValue(strRequest, kCookieName), run.strToken));
        if (bByQuery && route == ERoute::kPage)
            strSetCookie = std::string("Set-Cookie: ") + kCookieName + "=" +
                           PercentEncode(strQueryToken) + "; Path=/; HttpOnly; SameSite=Strict\r\n";
    }
    const bool bAllowed =
        context.bLocalPeer || bToken || (route == ERoute::kMetrics && run.strToken.empty());
    if (!bAllowed)
        co_return co_await SendAnswer(stream, 403, kText,
                                      run.strToken.empty()
                                          ? "the results answer this machine only\n"
                                          : "the results need the server's token\n");
    switch (route) {
    case ERoute::kPage:
        co_return co_await SendAnswer(stream, 200, "text/html; charset=utf-8", texts.strResultsHtml,
                                      strSetCookie);
    case ERoute::kJson:
    case ERoute::kCsv: {
        bool bHave = false;
        int nLimit = kDefaultLimit;
        const std::string strLimit = GetQueryValue(strPath, "limit", bHave);
        if (bHave && (!ParseDecimalInt(strLimit, nLimit) || nLimit < 1 || nLimit > kMaxLimit))
            co_return co_await SendAnswer(stream, 400, kText,
                                          FormatString("limit must be 1 to %d\n", kMaxLimit));
        const bool bCsv = route == ERoute::kCsv;
        const std::string strBody =
            co_await ReadHistory(run.pHistory, [nLimit, bCsv](CResultsDb* pDb) {
                return HistoryText(pDb, nLimit, bCsv);
            });
        co_return co_await SendAnswer(
            stream, 200, bCsv ? "text/csv; charset=utf-8" : "application/json", strBody);
    }
    case ERoute::kLive:
        co_return co_await StreamLive(stream, run);
    case ERoute::kMetrics:
        co_return co_await SendAnswer(stream, 200, "text/plain; version=0.0.4; charset=utf-8",
                                      MetricsText(engine, run));
    case ERoute::kOther:
        break;
    }
    co_return EResultsOutcome::kNotMine;
}
