// What a server run or a client test reads, copied once when it starts, so that a front
// end may change its own copy at any time without racing the workers.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// The texts the server answers browsers with; read-only once a run has them.
struct CPageTexts {
    std::string strPageHtml;
    std::string strButtonsCss;
    std::string strEchartsJs;
    std::string strFullHtml; // the full test page and its script
    std::string strFullJs;
    std::string strResultsHtml; // the results page
    std::string strQrcodeJs;    // the QR code drawer of the full page
    // The address the run listens on (as in CServerSettings), for the addresses the full
    // page shows on the server's own machine.
    std::string strListenAddr;
};

struct CServerSettings {
    // Address the server binds, of either family; empty means every interface, IPv6 and
    // IPv4.
    std::string strListenAddr;
    int nListenPort = 10001;
    std::shared_ptr<const CPageTexts> pPageTexts = std::make_shared<const CPageTexts>();
    // Sessions at once; a connection beyond them is closed at once. 0: what the
    // descriptor limit allows (see DefaultSessionCap).
    int nMaxSessions = 0;
    // Sessions at once from one peer address; beyond them a connection is closed at once.
    // 0: no cap of its own.
    int nMaxSessionsPerHost = 64;
    // A connection that moves no byte for this long, or fewer than kMinWindowBytes in any
    // such window, is closed; 0: never.
    int nIdleTimeoutSeconds = 60;
    static const uint64_t kMinWindowBytes = 1024;
    // Finished tests are kept in this SQLite file (empty: DefaultResultsPath()) unless
    // bKeepResults is false.
    bool bKeepResults = true;
    std::string strResultsDb;
    // The results routes answer other hosts than this one, and /metrics anyone, only with
    // this token; empty: results for this host only, /metrics for all.
    std::string strResultsToken;
};

// The session cap when none is set: the descriptor limit less a reserve for the
// program's own files, or 100,000 where sockets have no such limit.
int DefaultSessionCap();

// Which way a client test's data flows: the server sends (download), the client sends
// (upload), or both at once, with the sessions' count each way.
enum class EClientDirection { kDownload, kUpload, kBoth };

struct CClientSettings {
    std::string strServerAddr;
    int nServerPort = 10001;
    EClientDirection direction = EClientDirection::kDownload;
    // Sessions each way.
    int nSessions = 10;
    // A connect that has not succeeded after this long fails; 0: never.
    int nConnectTimeoutSeconds = 10;
    // A connected session that moves no byte for this long ends, as if the server had
    // closed it (a server that vanished without a word); 0: never.
    int nIdleTimeoutSeconds = 60;
    // Set, it replaces the connect timeout: a front end that spent part of the time
    // before the test (on handshakes of its own) gives the moment it runs out.
    std::chrono::steady_clock::time_point tConnectDeadline{};
    // Each direction's rate in bits per second, shared evenly by its sessions; 0: as
    // fast as the link allows.
    uint64_t nRateBitsPerSecond = 0;
};
