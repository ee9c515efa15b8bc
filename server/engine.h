// The shared test state and its operations: the test server, the client test and the
// meter all work on one CKestrunEngine. It knows nothing of windows; what a front end
// shows (captions, message boxes, status panes) reaches it through CEngineEvents.
#pragma once

#include "support/socket.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Hooks a front end overrides. They run on the worker threads named below; a window
// front end hands the work to its own thread.
class CEngineEvents {
public:
    virtual ~CEngineEvents() = default;
    // Server thread, before the listening socket is made.
    virtual void OnServerStarted() {}
    // Server thread, once it listens; nPort is the port it holds.
    virtual void OnServerListening(int nPort) { (void)nPort; }
    // Server thread: the port could not be opened. May block (a message box).
    virtual void OnServerError(const std::string& strErrorText) { (void)strErrorText; }
    // Server thread: accepting failed for a reason other than a stop; the run ends.
    virtual void OnServerAcceptFailed(const std::string& strErrorText) { (void)strErrorText; }
    // Server thread, after every connection of the run has gone.
    virtual void OnServerStopped() {}
    // Client session thread, as each session starts (all ten report it).
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

// The settings one client test reads, copied when the test starts.
struct CClientSettings {
    std::string strServerAddr;
    int nServerPort = 0;
    std::string strType;
};

class CKestrunEngine {
public:
    static const int kBlockSize = 8192;
    static const int kListenBacklog = 256;
    static const int kClientSessions = 10;

    explicit CKestrunEngine(CEngineEvents* pEvents = nullptr);
    // Stops everything still running and waits for every worker thread to leave.
    ~CKestrunEngine();
    CKestrunEngine(const CKestrunEngine&) = delete;
    CKestrunEngine& operator=(const CKestrunEngine&) = delete;

    // ---- settings, written by the front end's thread only ----
    int m_nListenPort = 0;
    std::string m_strServerAddr;
    int m_nServerPort = 0;
    std::string m_strType;
    // Address the server binds; empty means every IPv4 interface.
    std::string m_strListenAddr;
    // Page texts, filled once before the server starts, read-only afterwards.
    std::string m_strPageHtml;
    std::string m_strButtonsCss;
    std::string m_strEchartsJs;

    // ---- test server ----
    // Starts a server run on its own thread with the current m_nListenPort. Returns false
    // (and starts nothing) while a run exists, including one that does not listen yet.
    bool StartServer();
    // Stops the run: wakes the accept loop, which cuts every session and waits for them.
    // A stop before the run listens makes the run end as soon as it has its socket.
    void StopServer();
    // True while the listening socket exists.
    bool IsServerListening() const;
    // True from StartServer until the run has fully ended.
    bool IsServerRunActive() const { return m_bServerRunActive.load(); }
    // One whole run on the calling thread; returns after the stop once every session
    // has gone, or at once when the port cannot be opened (false).
    bool RunServer(int nListenPort);
    // One connection's session, from the first token to the close of s.
    void HandleConnection(SOCKET s);
    size_t ServerSessionCount();

    // ---- client test ----
    // Starts nSessions client sessions with a copy of the three client settings.
    // Returns false while a test is running.
    bool StartClientTest(int nSessions = kClientSessions);
    // Cuts every session of the running test; sessions that connect later stop too.
    void StopClientTest();
    int ActiveClientCount() const { return m_nActiveClients.load(); }
    // Client sessions connected and registered right now.
    size_t ClientSessionCount();
    // One session on the calling thread; strErrorText is set when it fails before it
    // is connected.
    void RunClientSession(const CClientSettings& settings, std::string& strErrorText);

    // ---- meter ----
    void StartMeter();
    void StopMeter();
    // Takes the bytes counted since the last take (one atomic exchange per counter).
    void TakeCounters(uint64_t& nRecvBytes, uint64_t& nSendBytes);
    void AddRecvBytes(uint64_t n) { m_nRecvBytes.fetch_add(n, std::memory_order_relaxed); }
    void AddSendBytes(uint64_t n) { m_nSendBytes.fetch_add(n, std::memory_order_relaxed); }

    // Blocks until every worker thread started by this engine has left.
    void WaitForWorkers();
    // Caps the worker threads alive at once (0, the default, means no cap). A start
    // beyond the cap fails as a thread the system refuses would.
    void SetWorkerLimit(int nLimit);

private:
    friend class CWorkerScope;
    friend void ServerThreadProc(CKestrunEngine* pEngine, int nListenPort);
    friend void ConnectionThreadProc(struct CONN_THREAD_PARAM* pParam);
    friend void ClientThreadProc(CKestrunEngine* pEngine,
                                 std::shared_ptr<const CClientSettings> pSettings);
    friend void MeterThreadProc(CKestrunEngine* pEngine);

    // Worker bookkeeping, so that the destructor can wait for detached threads.
    bool StartWorker(std::function<void()> fnBody);
    void WorkerEnded();
    // Ends one client session's share of a test; the last one reports the outcome.
    void ClientSessionDone(const std::string& strErrorText);
    void RunMeter();

    CEngineEvents m_noEvents;
    CEngineEvents* m_pEvents;

    // 64-bit so that a fast link cannot wrap them within one second.
    std::atomic<uint64_t> m_nRecvBytes{0};
    std::atomic<uint64_t> m_nSendBytes{0};

    // The listening socket as the stopper sees it; guarded by m_csListen so that a stop
    // never touches a handle the server thread has already closed. A stop that comes
    // before the socket exists is remembered in m_bServerStopPending.
    mutable std::mutex m_csListen;
    SOCKET m_sockListen = INVALID_SOCKET;
    bool m_bServerStopPending = false;
    std::atomic<bool> m_bServerRunActive{false};

    std::unordered_map<SOCKET, SOCKET> m_mapServerSockets;
    std::mutex m_csServerSockets;

    std::unordered_map<SOCKET, SOCKET> m_mapClientSockets;
    std::mutex m_csClientSockets;
    bool m_bClientStopRequested = false; // under m_csClientSockets
    std::atomic<int> m_nActiveClients{0};

    std::mutex m_csMeter;
    std::condition_variable m_cvMeter;
    bool m_bMeterRunning = false;
    bool m_bMeterStop = false;

    std::mutex m_csWorkers;
    std::condition_variable m_cvWorkers;
    int m_nWorkers = 0;
    int m_nWorkerLimit = 0;
};

// Socket helpers. CreateTcpSocket stores the new socket in s at once; port 0 without
// the listen flag leaves it unbound (a client socket), port 0 with it binds any free
// port. CloseSocket shuts down, closes, marks INVALID_SOCKET and keeps the last error.
bool CreateTcpSocket(SOCKET& s, const std::string& strAddr, int nPort, bool bListen);
void CloseSocket(SOCKET& s);

// One receive of at most 3 bytes; the result of that receive.
int RecvToken(std::string& strToken, SOCKET s);

bool ConnectTcpSocket(SOCKET s, const std::string& strHost, int nPort);
