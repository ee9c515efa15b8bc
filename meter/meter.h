// The meter: once a second it takes both byte counters of the engine and reports them as
// MB/s (1 MB = 1048576 bytes).
#pragma once

#include "engine/engine.h"
#include "engine/worker_group.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

double BytesToMegabytes(uint64_t nBytes);
// "%.02fMB/s" of one second's bytes.
std::string FormatRate(uint64_t nBytesPerSecond);

class CMeter {
public:
    explicit CMeter(CKestrunEngine& engine) : m_engine(engine) {}
    ~CMeter() { StopMeter(); }
    CMeter(const CMeter&) = delete;
    CMeter& operator=(const CMeter&) = delete;

    // Starts the meter thread unless it runs already.
    void StartMeter();
    // Ends the meter thread and waits until it has left.
    void StopMeter();

private:
    friend void MeterThreadProc(CMeter* pMeter);
    void RunMeter();

    CKestrunEngine& m_engine;
    std::mutex m_csMeter;
    std::condition_variable m_cvMeter;
    bool m_bMeterRunning = false;
    bool m_bMeterStop = false;
    CWorkerGroup m_workers;
};
