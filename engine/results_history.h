// The server's history: finished tests go into a queue that one writer thread of its own
// puts into the database, so that no I/O thread ever waits for the disk or for SQLite.
// Reads for the results routes run on the same writer and hand their answer back.
#pragma once

#include "engine/results_db.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CResultsHistory {
public:
    using FnWarn = std::function<void(const std::string&)>;
    using FnJob = std::function<void(CResultsDb*)>;

    // Starts the writer, which opens (and makes) the database at strPath. A database
    // that cannot be opened or written gives fnWarn one text, on the writer thread, and
    // the history goes on without it: results are dropped, reads see none.
    CResultsHistory(std::string strPath, FnWarn fnWarn);
    // Writes what is queued, then ends the writer.
    ~CResultsHistory();
    CResultsHistory(const CResultsHistory&) = delete;
    CResultsHistory& operator=(const CResultsHistory&) = delete;

    // Never waits for the writer.
    void Add(CTestResult result);
    // The newest full test of strPeer since dSince gets the latency figures.
    void AddLatency(std::string strPeer, double dSince, std::string strLatencyJson);
    // Runs fnJob on the writer, with the database or null when there is none. Every
    // posted job runs, even while the history ends.
    void Post(FnJob fnJob);

private:
    void Run(const std::string& strPath);
    void Failed(const std::string& strError);

    FnWarn m_fnWarn;
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::deque<FnJob> m_queJobs;
    bool m_bStopping = false;
    CResultsDb m_db; // only on the writer
    std::thread m_thread;
};
