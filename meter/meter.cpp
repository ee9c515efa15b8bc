#include "meter/meter.h"

#include "support/format.h"

#include <chrono>

double BytesToMegabytes(uint64_t nBytes) {
    return static_cast<double>(nBytes) * (1.0 / 1024) * (1.0 / 1024);
}

std::string FormatRate(uint64_t nBytesPerSecond) {
    return FormatString("%.02fMB/s", BytesToMegabytes(nBytesPerSecond));
}

void MeterThreadProc(CMeter* pMeter) {
    pMeter->RunMeter();
}

void CMeter::RunMeter() {
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
        m_engine.TakeCounters(nRecv, nSend);
        m_engine.Events().OnMeterSample(nRecv, nSend, FormatRate(nRecv), FormatRate(nSend));
    }
    std::lock_guard<std::mutex> lock(m_csMeter);
    m_bMeterRunning = false;
    m_cvMeter.notify_all();
}

void CMeter::StartMeter() {
    {
        std::lock_guard<std::mutex> lock(m_csMeter);
        if (m_bMeterRunning)
            return;
        m_bMeterRunning = true;
        m_bMeterStop = false;
    }
    if (!m_workers.Start([this] { MeterThreadProc(this); })) {
        std::lock_guard<std::mutex> lock(m_csMeter);
        m_bMeterRunning = false;
    }
}

void CMeter::StopMeter() {
    {
        std::unique_lock<std::mutex> lock(m_csMeter);
        m_bMeterStop = true;
        m_cvMeter.notify_all();
        m_cvMeter.wait(lock, [this] { return !m_bMeterRunning; });
    }
    m_workers.Wait();
}
