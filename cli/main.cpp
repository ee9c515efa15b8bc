// tachyra-cli: the test server or a bounded client test, without a window.
#include "cli/client_mode.h"
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
    app.add_option("-t,--time", client.nSeconds,
                   "Client: test length in seconds (0 = until stopped)")
        ->check(CLI::Range(0, 86400));
    app.add_option("-P,--parallel", client.nConnections, "Client: connections (default 10)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--connect-timeout", client.nConnectTimeout,
                   "Client: give up a connect after this long (default 10 s)")
        ->check(CLI::Range(1, 3600));
    app.add_flag("--upload", client.bUpload, "Client: upload instead of download");
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

    if (!bServer && client.strHost.empty()) {
        std::fprintf(stderr, "tachyra-cli: choose -s (server) or -c HOST (client); see --help\n");
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
    server.nListenPort = nPort;
    client.nPort = nPort;
    client.bJsonStream = bJsonStream;
    if (!bServer)
        return RunClientMode(client);
    FQrText qrText;
#if !defined(_WIN32)
    if (bQr)
        qrText = RenderQrText;
#endif
    return RunServerMode("tachyra-cli", server, bJsonStream, qrText);
}
