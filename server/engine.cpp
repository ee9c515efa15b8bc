// Construction, teardown and worker bookkeeping of the shared test state, and the two
// socket helpers every socket of the engine goes through.
#include "server/engine.h"

#include "support/error_text.h"
#include "support/platform.h"

#include <cerrno>

#include <system_error>
#include <thread>

CKestrunEngine::CKestrunEngine(CEngineEvents* pEvents)
    : m_pEvents(pEvents != nullptr ? pEvents : &m_noEvents) {}

CKestrunEngine::~CKestrunEngine() {
    StopMeter();
    StopServer();
    StopClientTest();
    WaitForWorkers();
}

void CKestrunEngine::SetWorkerLimit(int nLimit) {
    std::lock_guard<std::mutex> lock(m_csWorkers);
    m_nWorkerLimit = nLimit;
}

bool CKestrunEngine::StartWorker(std::function<void()> fnBody) {
    {
        std::lock_guard<std::mutex> lock(m_csWorkers);
        if (m_nWorkerLimit > 0 && m_nWorkers >= m_nWorkerLimit) {
            SetThreadLastError(EAGAIN);
            return false;
        }
        ++m_nWorkers;
    }
    try {
        std::thread([this, fnBody]() {
            fnBody();
            WorkerEnded();
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        WorkerEnded();
        SetThreadLastError(e.code().value());
        return false;
    }
}

void CKestrunEngine::WorkerEnded() {
    std::lock_guard<std::mutex> lock(m_csWorkers);
    if (--m_nWorkers == 0)
        m_cvWorkers.notify_all();
}

void CKestrunEngine::WaitForWorkers() {
    std::unique_lock<std::mutex> lock(m_csWorkers);
    m_cvWorkers.wait(lock, [this] { return m_nWorkers == 0; });
}

bool CreateTcpSocket(SOCKET& s, const std::string& strAddr, int nPort, bool bListen) {
    s = OpenTcpSocket();
    if (s == INVALID_SOCKET)
        return false;
    if (nPort == 0 && !bListen)
        return true;
    if (bListen)
        AllowPortReuse(s);
    if (!BindIPv4(s, strAddr, nPort) ||
        (bListen && !ListenSocket(s, CKestrunEngine::kListenBacklog))) {
        CloseSocket(s);
        return false;
    }
    return true;
}

void CloseSocket(SOCKET& s) {
    if (s == INVALID_SOCKET)
        return;
    int nError = GetLastSocketError();
    ShutdownAndClose(s);
    s = INVALID_SOCKET;
    SetLastSocketError(nError);
}
