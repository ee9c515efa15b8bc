// tachyra-cli as users and scripts meet it: exit statuses, signals, text and JSON output.
#include "cli/report.h"
#include "testkit/child_process.h"
#include "testkit/raw_socket.h"

#include <gtest/gtest.h>

#include <csignal>
#include <tuple>

using namespace std::chrono_literals;

static bool Has(const std::string& strText, const std::string& strNeedle) {
    return strText.find(strNeedle) != std::string::npos;
}

TEST(CliReport, JsonQuotingEscapesWhatJsonRequires) {
    const char* cases[][2] = {{"plain", "\"plain\""},
                              {"a\"b\\c", "\"a\\\"b\\\\c\""},
                              {"x\r\ny\t\x01", "\"x\\r\\ny\\t\\u0001\""},
                              {"(111)\xEF\xBC\x9A", "\"(111)\xEF\xBC\x9A\""}}; // UTF-8 passes
    for (const auto& c : cases)
        EXPECT_EQ(JsonQuote(c[0]), c[1]);
}

TEST(CliReport, MeanRatesUseMebibytesAndTheRealDuration) {
    CClientReport report;
    report.intervals.resize(2);
    report.intervals[0].dEnd = report.intervals[1].dStart = 1.0;
    report.intervals[0].nRecvBytes = 1048576;
    report.intervals[1].dEnd = report.dElapsed = 2.0;
    report.intervals[1].nRecvBytes = 3 * 1048576;
    report.intervals[1].nSendBytes = 524288;
    EXPECT_DOUBLE_EQ(MeanMegabytesPerSecond(report.TotalRecv(), report.dElapsed), 2.0);
    EXPECT_DOUBLE_EQ(MeanMegabytesPerSecond(report.TotalSend(), report.dElapsed), 0.25);
    EXPECT_DOUBLE_EQ(MeanMegabytesPerSecond(100, 0.0), 0.0);
    std::string strJson = FormatJsonReport(report);
    // Latency that was not measured is null, never zero; measured figures are numbers.
    EXPECT_PRED2(Has, strJson, "\"rtt_mean\": null, \"rtt_max\": null, \"handshake\": null");
    EXPECT_PRED2(Has, strJson, "\"idle\": null, \"loaded\": null, \"loaded_figure\": null");
    EXPECT_EQ(FormatLatencyLine(report), "latency idle n/a, under load n/a");
    report.idle = SummarizeLatency({0.3, 0.1, 0.2});
    report.loaded = SummarizeLatency({15.0, 14.0});
    report.intervals[1].handshake = 14.5;
    EXPECT_EQ(FormatLatencyLine(report), "latency idle 0.20 ms, under load 14.50 ms (+14.30 ms)");
    strJson = FormatJsonReport(report);
    EXPECT_PRED2(Has, strJson, "\"idle\": {\"min\": 0.100, \"median\": 0.200, \"max\": 0.300}");
    EXPECT_PRED2(Has, strJson, "\"handshake\": 14.500");
}

// The server prints the addresses a browser opens (every interface shows as this machine).
TEST(CliProcess, ServerPrintsItsPagesAndStopsCleanlyOnSigintAndSigterm) {
    for (const auto& [nSignal, pszBind, pszHost] :
         {std::tuple(SIGINT, "::1", "[::1]"), std::tuple(SIGTERM, "", "127.0.0.1"),
          std::tuple(SIGINT, "127.0.0.1", "127.0.0.1")}) {
        CChildProcess server;
        ASSERT_TRUE(server.Start({CliPath(), "-s", "-B", pszBind, "-p", "0"}));
        const std::string strLine = server.WaitForLine("listening on port");
        const std::string strPort = strLine.substr(strLine.rfind(' ') + 1);
        const std::string strBase = "http://" + std::string(pszHost) + ":" + strPort + "/";
        EXPECT_EQ(server.WaitForLine("Speed page"), "Speed page: " + strBase);
        EXPECT_EQ(server.WaitForLine("Full test"),
                  "Full test (download, upload, latency): " + strBase + "full");
        server.Signal(nSignal);
        EXPECT_EQ(server.Wait(), 0) << nSignal;
        EXPECT_EQ(server.Stderr(), "");
    }
}

// Runs that end at once, or once the test time is up without a connection: the exit
// status, what stdout holds, and what stderr holds exactly once.
TEST(CliProcess, ExitStatusesAndMessagesOfRunsThatEndAtOnce) {
    CLoopbackPort taken(true);
    CUnansweredPort unanswered;
    const std::string strTaken = std::to_string(taken.Port());
    const std::string strClosed = std::to_string(ClosedLoopbackPort());
    const std::string strMute = std::to_string(unanswered.Port());
    ASSERT_TRUE(strTaken != "0" && strClosed != "0" && strMute != "0");
    const std::string strInUse = "(" + std::to_string(EADDRINUSE) + ")\xEF\xBC\x9A";
    const std::string strRefused = "(" + std::to_string(ECONNREFUSED) + ")";
    const std::string strJsonError = "\"error\": \"("; // the text is the one on stderr
    // The test time (1 s) runs out before the connect timeout (10 s): still a failure.
    const std::string strTimedOut = "(" + std::to_string(ETIMEDOUT) + ")";
    const struct {
        std::vector<std::string> args;
        int nStatus;
        std::string strOut;
        std::vector<std::string> errOnce;
    } cases[] = {
        {{"--version"}, 0, "v18.0701", {}},
        {{"--help"}, 0, "--upload", {}},
        {{}, 2, "", {}},
        {{"-s", "-c", "127.0.0.1"}, 2, "", {}},
        {{"-c", "127.0.0.1", "-p", "70000"}, 2, "", {}},
        {{"-s", "-B", "127.0.0.1", "-p", strTaken}, 1, "", {"\n", strInUse}}, // one line
        {{"-c", "127.0.0.1", "-p", strClosed, "-t", "5", "-J"}, 1, strJsonError, {strRefused}},
        {{"-c", "127.0.0.1", "-p", strMute, "-t", "1", "-J"}, 1, strJsonError, {strTimedOut}}};
    for (const auto& c : cases) {
        std::vector<std::string> args{CliPath()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        CChildProcess cli;
        ASSERT_TRUE(cli.Start(args));
        EXPECT_EQ(cli.Wait(60s), c.nStatus);
        EXPECT_PRED2(Has, cli.Stdout(), c.strOut);
        const std::string strErr = cli.Stderr();
        EXPECT_EQ(strErr.empty(), c.nStatus == 0) << strErr; // failures always say why
        for (const auto& strOnce : c.errOnce) // there, and its first place is its last
            EXPECT_TRUE(Has(strErr, strOnce) && strErr.find(strOnce) == strErr.rfind(strOnce))
                << strErr;
    }
}
