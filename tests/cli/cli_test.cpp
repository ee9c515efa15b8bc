// tachyra-cli as users and scripts meet it: exit statuses, signals, text and JSON output.
#include "cli/report.h"
#include "testkit/child_process.h"
#include "testkit/raw_socket.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace std::chrono_literals;

size_t CountOf(const std::string& strText, const std::string& strNeedle) {
    size_t n = 0;
    for (size_t nPos = strText.find(strNeedle); nPos != std::string::npos;
         nPos = strText.find(strNeedle, nPos + 1))
        ++n;
    return n;
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
    report.intervals[0].dEnd = 1.0;
    report.intervals[0].nRecvBytes = 1048576;
    report.intervals[1].dStart = 1.0;
    report.intervals[1].dEnd = 2.0;
    report.intervals[1].nRecvBytes = 3 * 1048576;
    report.intervals[1].nSendBytes = 524288;
    report.dElapsed = 2.0;
    EXPECT_EQ(report.TotalRecv(), 4u * 1048576);
    EXPECT_DOUBLE_EQ(MeanMegabytesPerSecond(report.TotalRecv(), report.dElapsed), 2.0);
    EXPECT_DOUBLE_EQ(MeanMegabytesPerSecond(report.TotalSend(), report.dElapsed), 0.25);
    EXPECT_DOUBLE_EQ(MeanMegabytesPerSecond(100, 0.0), 0.0);
    std::string strJson = FormatJsonReport(report);
    EXPECT_NE(strJson.find("\"recv_bytes\": 4194304"), std::string::npos) << strJson;
    EXPECT_NE(strJson.find("\"error\": null"), std::string::npos);
    // Latency that was not measured is null, never zero; measured figures are numbers.
    EXPECT_NE(strJson.find("\"rtt_mean\": null, \"rtt_max\": null, \"handshake\": null"),
              std::string::npos)
        << strJson;
    EXPECT_NE(strJson.find("\"idle\": null, \"loaded\": null, \"loaded_figure\": null"),
              std::string::npos)
        << strJson;
    EXPECT_EQ(FormatLatencyLine(report), "latency idle n/a, under load n/a");
    report.idle = SummarizeLatency({0.3, 0.1, 0.2});
    report.loaded = SummarizeLatency({15.0, 14.0});
    report.intervals[1].handshake = 14.5;
    EXPECT_EQ(FormatLatencyLine(report), "latency idle 0.20 ms, under load 14.50 ms (+14.30 ms)");
    strJson = FormatJsonReport(report);
    EXPECT_NE(strJson.find("\"idle\": {\"min\": 0.100, \"median\": 0.200, \"max\": 0.300}"),
              std::string::npos)
        << strJson;
    EXPECT_NE(strJson.find("\"handshake\": 14.500"), std::string::npos) << strJson;
    report.strError = "(111)\xEF\xBC\x9A"
                      "Connection refused";
    strJson = FormatJsonReport(report);
    EXPECT_NE(strJson.find("\"error\": \"(111)\xEF\xBC\x9A"
                           "Connection refused\""),
              std::string::npos);
}

TEST(CliProcess, ServerStopsCleanlyOnSigintAndSigterm) {
    for (int nSignal : {SIGINT, SIGTERM}) {
        CChildProcess server;
        ASSERT_NE(StartCliServer(server), 0);
        ASSERT_FALSE(server.WaitForLine("recv 0.00MB/s  send 0.00MB/s").empty());
        server.Signal(nSignal);
        EXPECT_EQ(server.Wait(), 0) << nSignal;
        EXPECT_EQ(server.Stderr(), "");
    }
}

TEST(CliProcess, APortInUseGivesOneLineAndAFailingStatus) {
    CLoopbackPort taken(true);
    ASSERT_NE(taken.Port(), 0);
    CChildProcess server;
    ASSERT_TRUE(
        server.Start({CliPath(), "-s", "-B", "127.0.0.1", "-p", std::to_string(taken.Port())}));
    EXPECT_EQ(server.Wait(), 1);
    std::string strErr = server.Stderr();
    EXPECT_EQ(CountOf(strErr, "\n"), 1u) << strErr;
    EXPECT_NE(strErr.find("(" + std::to_string(EADDRINUSE) + ")\xEF\xBC\x9A"), std::string::npos)
        << strErr;
}

TEST(CliProcess, ClientJsonIsTheOnlyOutputAndCountsWhatMoved) {
    CChildProcess server;
    int nPort = StartCliServer(server);
    ASSERT_NE(nPort, 0);
    CChildProcess client;
    ASSERT_TRUE(client.Start(
        {CliPath(), "-c", "127.0.0.1", "-p", std::to_string(nPort), "-t", "2", "-P", "3", "-J"}));
    ASSERT_EQ(client.Wait(60s), 0) << client.Stderr();
    std::string strOut = client.Stdout();
    ASSERT_FALSE(strOut.empty());
    EXPECT_EQ(strOut.front(), '{');
    EXPECT_EQ(strOut.substr(strOut.size() - 2), "}\n");
    EXPECT_EQ(CountOf(strOut, "\"version\""), 1u);
    EXPECT_NE(strOut.find("\"direction\": \"download\""), std::string::npos);
    EXPECT_NE(strOut.find("\"connections\": 3"), std::string::npos);
    EXPECT_NE(strOut.find("\"error\": null"), std::string::npos);
    EXPECT_GE(CountOf(strOut, "\"start\""), 2u) << strOut;
    EXPECT_EQ(strOut.find("\"recv_bytes\": 0, \"send_bytes\": 0, \"recv_MBps\": 0.0000, "
                          "\"send_MBps\": 0.0000},\n"),
              std::string::npos)
        << "totals must not be empty: " << strOut;
    EXPECT_EQ(client.Stderr(), "");
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0);
}

TEST(CliProcess, ARefusedClientPrintsTheErrorOnce) {
    const int nClosedPort = ClosedLoopbackPort();
    ASSERT_NE(nClosedPort, 0);
    for (bool bJson : {false, true}) {
        CChildProcess client;
        std::vector<std::string> args = {
            CliPath(), "-c", "127.0.0.1", "-p", std::to_string(nClosedPort), "-t", "5"};
        if (bJson)
            args.push_back("-J");
        ASSERT_TRUE(client.Start(args));
        EXPECT_EQ(client.Wait(60s), 1);
        std::string strErr = client.Stderr();
        EXPECT_EQ(CountOf(strErr, "(" + std::to_string(ECONNREFUSED) + ")"), 1u) << strErr;
        if (bJson) {
            EXPECT_NE(client.Stdout().find("\"error\": \"(" + std::to_string(ECONNREFUSED)),
                      std::string::npos);
        }
    }
}

TEST(CliProcess, HelpVersionAndUsageErrors) {
    for (const auto& c :
         {std::make_pair("--version", "v18.0701"), std::make_pair("--help", "--upload")}) {
        CChildProcess cli;
        ASSERT_TRUE(cli.Start({CliPath(), c.first}));
        EXPECT_EQ(cli.Wait(), 0) << c.first;
        EXPECT_NE(cli.Stdout().find(c.second), std::string::npos) << c.first;
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{CliPath()},
                                                 {CliPath(), "-s", "-c", "127.0.0.1"},
                                                 {CliPath(), "-c", "127.0.0.1", "-p", "70000"}}) {
        CChildProcess cli;
        ASSERT_TRUE(cli.Start(args));
        EXPECT_EQ(cli.Wait(), 2) << args.back();
        EXPECT_FALSE(cli.Stderr().empty()) << args.back();
    }
}

} // namespace
