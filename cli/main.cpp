// tachyra-cli: the test server or a bounded client test, without a window.
#include "cli/bit_rate.h"
#include "cli/client_mode.h"
#include "cli/results_mode.h"
#include "cli/udp_mode.h"
#include "engine/udp_wire.h"
#include "headless/headless_server.h"
#include "headless/stop_signal.h"
#include "support/platform.h"
#include "support/socket.h"
#include "support/version.h"

#if !defined(_WIN32)
#include "cli/qr_text.h"
#endif

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    CLI::App app{std::string(kProductName) +
                 " command-line tester: a throughput test server, or a client test against one"};
    app.set_version_flag("-v,--version", std::string("tachyra-cli ") + kProductVersion);

    bool bServer = false;
    CClientOptions client;
    CServerSettings server;
    int nPort = 10001;
    bool bJsonStream = false;
    bool bQr = false;

    auto* pServer = app.add_flag("-s,--server", bServer, "Run the test server");
    auto* pClient = app.add_option("-c,--client", client.strHost, "Run a client test against HOST")
                        ->type_name("HOST");
    pServer->excludes(pClient);
    app.add_option("-p,--port", nPort, "Server port (default 10001; 0 = any free port, server)")
        ->check(CLI::Range(0, 65535));
    app.add_option("-B,--bind", server.strListenAddr,
                   "Server: listen on this address only, IPv4 or IPv6 (default: every interface)")
        ->type_name("ADDR");
    app.add_option("--max-sessions", server.nMaxSessions,
                   "Server: sessions at once (default: what the descriptor limit allows)")
        ->check(CLI::Range(1, 10000000));
    app.add_option("--max-sessions-per-host", server.nMaxSessionsPerHost,
                   "Server: sessions at once from one peer address (default 64; 0 = no cap)")
        ->check(CLI::Range(0, 10000000));
    app.add_option("--idle-timeout", server.nIdleTimeoutSeconds,
                   "Server: close a connection that moves nothing, or under 1 KiB, for this long "
                   "(default 60 s)")
        ->check(CLI::Range(1, 86400));
    bool bNoResults = false;
    auto* pResultsDb = app.add_option("--results-db", server.strResultsDb,
                                      "Server: keep finished tests in this SQLite file (default: "
                                      "results.sqlite in the user's data folder)")
                           ->type_name("FILE");
    app.add_flag("--no-results", bNoResults, "Server: keep no history of tests")
        ->excludes(pResultsDb);
    app.add_option("--results-token", server.strResultsToken,
                   "Server: open the results pages to other hosts, and /metrics only to those, "
                   "with ?token=TOKEN (or a bearer token for /metrics)")
        ->type_name("TOKEN")
        ->check([](const std::string& strToken) {
            return strToken.empty() ? std::string("the token may not be empty") : std::string();
        });
    CResultsOptions results;
    auto* pResults = app.add_subcommand("results", "Print the kept history of tests, newest first");
    pResults->add_option("--results-db", results.strDb, "The SQLite file (default as the server's)")
        ->type_name("FILE");
    auto* pCsv = pResults->add_flag("--csv", results.bCsv, "As CSV");
    pResults->add_flag("--json", results.bJson, "As JSON ({\"tests\": [...]})")->excludes(pCsv);
    pResults->add_option("--limit", results.nLimit, "The newest N tests (default: all)")
        ->check(CLI::Range(1, 100000000));

    app.add_option("-t,--time", client.nSeconds,
                   "Client: test length in seconds (0 = until stopped)")
        ->check(CLI::Range(0, 86400));
    app.add_option("-P,--parallel", client.nConnections, "Client: connections (default 10)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--connect-timeout", client.nConnectTimeout,
                   "Client: give up a connect after this long (default 10 s)")
        ->check(CLI::Range(1, 3600));
    bool bUpload = false;
    bool bBidir = false;
    auto* pUpload = app.add_flag("--upload", bUpload, "Client: upload instead of download");
    app.add_flag("--bidir", bBidir, "Client: download and upload at once, -P connections each way")
        ->excludes(pUpload);
    const auto bitRate = [](const std::string& strText) {
        return ParseBitRate(strText) ? std::string()
                                     : "a rate in bits per second, such as 500K, 100M or 2.5G";
    };
    std::string strRate;
    app.add_option("-b,--bitrate", strRate,
                   "Client: hold the test at this total rate in bits per second (K, M, G "
                   "suffixes), shared by all its connections (each direction with --bidir); "
                   "not per connection")
        ->type_name("RATE")
        ->check(bitRate);
    app.add_option("-i,--interval", client.dInterval,
                   "Client: seconds between interval reports, 0.1 to 60 (default 1)")
        ->check(CLI::Range(0.1, 60.0));
    app.add_option("-O,--omit", client.dOmit,
                   "Client: run this many seconds more first and leave them out of the totals "
                   "(default 0)")
        ->check(CLI::Range(0.0, 600.0));
    std::string strFailBelow;
    app.add_option("--fail-below", strFailBelow,
                   "Client: exit with status 3 when the mean rate of a measured direction is "
                   "below RATE bits per second")
        ->type_name("RATE")
        ->check(bitRate);
    double dFailLatency = 0;
    auto* pFailLatency =
        app.add_option("--fail-latency", dFailLatency,
                       "Client: exit with status 3 when the latency under load is above MS")
            ->type_name("MS")
            ->check(CLI::Range(0.001, 1e6));
    double dFailLoss = 0;
    auto* pFailLoss =
        app.add_option("--fail-loss", dFailLoss,
                       "Client (UDP): exit with status 3 when more than PERCENT of the "
                       "datagrams are lost")
            ->type_name("PERCENT")
            ->check(CLI::Range(0.0, 100.0));
    bool bUdp = false;
    app.add_flag("-u,--udp", bUdp,
                 "Client: a UDP test (one stream of datagrams; loss, jitter, out of order); "
                 "-b sets its rate (default 10M)");
    uint32_t nLength = kUdpDefaultDatagram;
    auto* pLength =
        app.add_option("-l,--length", nLength,
                       "Client, UDP: datagram size in bytes (default 1200; 16 to 65507)")
            ->type_name("BYTES")
            ->check(CLI::Range(kUdpMinDatagram, kUdpMaxDatagram));
    auto* pJson =
        app.add_flag("-J,--json", client.bJson, "Client: print one JSON document and nothing else");
    app.add_flag("--json-stream", bJsonStream,
                 "One JSON object per line: each interval as it ends, then the end (client) or "
                 "sessions as they start and end (server)")
        ->excludes(pJson);
    app.add_flag("--qr", bQr,
                 "Server: also print the full test's address for other devices as a QR code")
        ->needs(pServer)
        ->excludes("--json-stream");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here too, with status 0; a usage error is status 2.
        return app.exit(e) == 0 ? 0 : 2;
    }

    if (*pResults) {
        if (bServer || !client.strHost.empty()) {
            std::fprintf(stderr, "tachyra-cli: results runs on its own, without -s or -c\n");
            return 2;
        }
        return RunResultsMode(results);
    }
    if (!bServer && client.strHost.empty()) {
        std::fprintf(stderr, "tachyra-cli: choose -s (server) or -c HOST (client); see --help\n");
        return 2;
    }
    if (pLength->count() > 0 && !bUdp) {
        std::fprintf(stderr, "tachyra-cli: -l sets the size of UDP datagrams; add -u\n");
        return 2;
    }
    if (bUdp && (bBidir || client.dOmit > 0)) {
        std::fprintf(stderr, "tachyra-cli: -u runs one direction without a warm-up: leave out "
                             "--bidir and -O\n");
        return 2;
    }
    if (!bServer && nPort == 0) {
        std::fprintf(stderr, "tachyra-cli: a client needs a port from 1 to 65535\n");
        return 2;
    }
#if defined(_WIN32)
    if (bQr) {
        // The page draws the code: /full opened on this machine shows it.
        std::fprintf(stderr, "tachyra-cli: --qr is not part of the Windows build; open the "
                             "full test page in a browser on this machine to see the QR code\n");
        return 2;
    }
#endif
    InstallStopSignal();
    RaiseDescriptorLimit();
    if (!InitSocketLibrary()) {
        std::fprintf(stderr, "tachyra-cli: the socket library cannot start\n");
        return 1;
    }
    client.direction = bBidir    ? EClientDirection::kBoth
                       : bUpload ? EClientDirection::kUpload
                                 : EClientDirection::kDownload;
    if (!strRate.empty()) {
        client.nRateBitsPerSecond = *ParseBitRate(strRate);
        // Below this each connection's pace would be slower than the server's idle rule.
        if (!bUdp &&
            client.nRateBitsPerSecond / static_cast<uint64_t>(client.nConnections) < 8000) {
            std::fprintf(stderr,
                         "tachyra-cli: -b %s is too low for %d connections: give each at least "
                         "8 Kbit/s, or use fewer connections (-P)\n",
                         strRate.c_str(), client.nConnections);
            return 2;
        }
    }
    if (!strFailBelow.empty())
        client.thresholds.dMinBitsPerSecond = static_cast<double>(*ParseBitRate(strFailBelow));
    if (pFailLatency->count() > 0)
        client.thresholds.dMaxLatencyMs = dFailLatency;
    if (pFailLoss->count() > 0)
        client.thresholds.dMaxLossPercent = dFailLoss;
    server.nListenPort = nPort;
    server.bKeepResults = !bNoResults;
    client.nPort = nPort;
    client.bJsonStream = bJsonStream;
    if (bServer) {
        FQrText qrText;
#if !defined(_WIN32)
        if (bQr)
            qrText = RenderQrText;
#endif
        return RunServerMode("tachyra-cli", server, bJsonStream, qrText);
    }
    if (bUdp) {
        const uint64_t nRate =
            client.nRateBitsPerSecond != 0 ? client.nRateBitsPerSecond : kUdpDefaultRate;
        if (nRate < kUdpMinRate || nRate > kUdpMaxRate) {
            std::fprintf(stderr, "tachyra-cli: -b %s: a UDP test runs at 1K to 1000G\n",
                         strRate.c_str());
            return 2;
        }
        return RunUdpClientMode(client, nRate, nLength);
    }
    return RunClientMode(client);
}
