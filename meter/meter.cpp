// Once a second the meter takes both byte counters and reports them as MB/s.
#include "meter/meter.h"

#include "server/engine.h"
#include "support/format.h"

#include <chrono>

double BytesToMegabytes(uint64_t nBytes) {
    return static_cast<double>(nBytes) * (1.0 / 1024) * (1.0 / 1024);
}

std::string FormatRate(uint64_t nBytesPerSecond) {
    return FormatString("%.02fMB/s", BytesToMegabytes(nBytesPerSecond));
}

void CKestrunEngine::TakeCounters(uint64_t& nRecvBytes, uint64_t& nSendBytes) {
    // One exchange each: a byte added at any moment lands in exactly one interval.
    nRecvBytes = m_nRecvBytes.exchange(0);
    nSendBytes = m_nSendBytes.exchange(0);
}

void MeterThreadProc(CKestrunEngine* pEngine) {
    pEngine->RunMeter();
}

void CKestrunEngine::RunMeter() {
    using Clock = std::chrono::steady_clock;
    auto tNext = Clock::now();
    for (;;) {
        tNext += std::chrono::seconds(1);
        {
            std::unique_lock<std::mutex> lock(m_csMeter);
            if (m_cvMeter.wait_until(lock, tNext, [this] { return m_bMeterStop; }))
                break;
        }
        uint64_t nRecv = 0, nSend = 0;
        TakeCounters(nRecv, nSend);
        m_pEvents->OnMeterSample(nRecv, nSend, FormatRate(nRecv), FormatRate(nSend));
    }
    std::lock_guard<std::mutex> lock(m_csMeter);
    m_bMeterRunning = false;
    m_cvMeter.notify_all();
}

void CKestrunEngine::StartMeter() {
    {
        std::lock_guard<std::mutex> lock(m_csMeter);
        if (m_bMeterRunning)
            return;
        m_bMeterRunning = true;
        m_bMeterStop = false;
    }
    if (!StartWorker([this] { MeterThreadProc(this); })) {
        std::lock_guard<std::mutex> lock(m_csMeter);
        m_bMeterRunning = false;
    }
}

void CKestrunEngine::StopMeter() {
    std::unique_lock<std::mutex> lock(m_csMeter);
    m_bMeterStop = true;
    m_cvMeter.notify_all();
    m_cvMeter.wait(lock, [this] { return !m_bMeterRunning; });
}
