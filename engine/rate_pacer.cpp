#include "engine/rate_pacer.h"

#include "support/byte_stream.h"

#include <algorithm>

CPaceSchedule::CPaceSchedule(double dBytesPerSecond, Clock::time_point tStart)
    : m_dBytesPerSecond(dBytesPerSecond), m_tStart(tStart) {}

CPaceSchedule::Clock::duration CPaceSchedule::AfterMoved(size_t nBytes, Clock::time_point tNow) {
    m_dBytes += static_cast<double>(nBytes);
    const auto tDue = m_tStart + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(m_dBytes / m_dBytesPerSecond));
    if (tDue > tNow)
        return tDue - tNow;
    if (tNow - tDue > kMaxCatchUp) {
        m_tStart = tNow - kMaxCatchUp;
        m_dBytes = 0;
    }
    return Clock::duration::zero();
}

size_t CPaceSchedule::StepBytes(size_t nMaxStep) const {
    const double dStep = m_dBytesPerSecond * 0.002;
    return std::clamp(static_cast<size_t>(dStep), size_t{1}, nMaxStep);
}

asio::awaitable<void> CRatePacer::Moved(size_t nBytes) {
    const auto wait = m_schedule.AfterMoved(nBytes, CPaceSchedule::Clock::now());
    if (wait <= CPaceSchedule::Clock::duration::zero())
        co_return;
    m_timer.expires_after(wait);
    co_await m_timer.async_wait(kAwaitTuple);
}
