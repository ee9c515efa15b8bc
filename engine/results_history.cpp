#include "engine/results_history.h"

CResultsHistory::CResultsHistory(std::string strPath, FnWarn fnWarn) : m_fnWarn(std::move(fnWarn)) {
    m_thread = std::thread([this, strPath] { Run(strPath); });
}

CResultsHistory::~CResultsHistory() {
    {
        std::lock_guard<std::mutex> lock(m_cs);
        m_bStopping = true;
    }
    m_cv.notify_one();
    m_thread.join();
}

void CResultsHistory::Add(CTestResult result) {
    Post([this, result = std::move(result)](CResultsDb* pDb) {
        std::string strError;
        if (pDb != nullptr && !pDb->Insert(result, strError))
            Failed(strError);
    });
}

void CResultsHistory::AddLatency(std::string strPeer, double dSince, std::string strLatencyJson) {
    Post([this, strPeer, dSince, strLatencyJson](CResultsDb* pDb) {
        std::string strError;
        if (pDb != nullptr && !pDb->SetLatency(strPeer, dSince, strLatencyJson, strError))
            Failed(strError);
    });
}

void CResultsHistory::Post(FnJob fnJob) {
    {
        std::lock_guard<std::mutex> lock(m_cs);
        m_queJobs.push_back(std::move(fnJob));
    }
    m_cv.notify_one();
}

void CResultsHistory::Failed(const std::string& strError) {
    m_db.Close();
    m_fnWarn("the results history is off: " + strError);
}

void CResultsHistory::Run(const std::string& strPath) {
    std::string strError;
    if (!m_db.Open(strPath, true, strError))
        m_fnWarn("the results history is off: " + strError);
    std::unique_lock<std::mutex> lock(m_cs);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bStopping || !m_queJobs.empty(); });
        if (m_queJobs.empty())
            break; // stopping, and everything queued is written
        FnJob fnJob = std::move(m_queJobs.front());
        m_queJobs.pop_front();
        lock.unlock();
        fnJob(m_db.IsOpen() ? &m_db : nullptr);
        lock.lock();
    }
    m_db.Close();
}
