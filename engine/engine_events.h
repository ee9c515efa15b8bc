// Hooks a front end overrides to show what the engine does. They run on the worker
// threads named below; a window front end hands the work to its own thread.
#pragma once

#include "engine/udp_stats.h"
#include "support/format.h"

#include <cstdint>
#include <string>

// One server session as it ended: who, what it was, how much it moved and for how long.
struct CSessionRecord {
    std::string strPeer; // "address:port"
    // "download", "upload", "udp", "http", "websocket", "drained" (any other first
    // bytes), or "none" (closed before it said what it was)
    const char* pszMode = "none";
    uint64_t nBytes = 0;
    double dSeconds = 0;
    // A UDP test's figures: the sender's count and the receiver's (mode "udp" only).
    bool bUdp = false;
    CUdpFigures udp;
};

class CEngineEvents {
public:
    virtual ~CEngineEvents() = default;
    // Server thread, before the listening socket is made.
    virtual void OnServerStarted() {}
    // Server thread, once it listens; nPort is the port it holds.
    virtual void OnServerListening(int nPort) { (void)nPort; }
    // Server thread: the port could not be opened. May block (a message box).
    virtual void OnServerError(const std::string& strErrorText) { (void)strErrorText; }
    // Server thread: the listening socket itself failed; the run ends.
    virtual void OnServerAcceptFailed(const std::string& strErrorText) { (void)strErrorText; }
    // Something the server goes on without, such as a results database that cannot be
    // written or a UDP socket that cannot be opened; from the history writer, the hook
    // thread or the server's start.
    virtual void OnServerWarning(const std::string& strText) { TraceDebug("%s", strText.c_str()); }
    // Server thread, after every connection of the run has gone.
    virtual void OnServerStopped() {}
    // Session threads, as each session begins and ends (strPeer is "address:port").
    virtual void OnServerSessionStarted(const std::string& strPeer) { (void)strPeer; }
    virtual void OnServerSessionEnded(const CSessionRecord& session) { (void)session; }
    // Client session thread, as each session starts (all of them report it).
    virtual void OnClientSessionStarted() {}
    // The last client session thread of a test, as it ends. An empty text means no
    // error; otherwise the front end shows it (and may block until it is dismissed).
    // When no session thread could be started at all, this runs on the thread that
    // called StartClientTest.
    virtual void OnClientTestEnded(const std::string& strErrorText) { (void)strErrorText; }
    // Meter thread, once a second: bytes of the last interval and their display texts.
    virtual void OnMeterSample(uint64_t nRecvBytes, uint64_t nSendBytes,
                               const std::string& strRecvText, const std::string& strSendText) {
        (void)nRecvBytes, (void)nSendBytes, (void)strRecvText, (void)strSendText;
    }
};
