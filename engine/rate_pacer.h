// Holds a stream to a byte rate: after each step the sender (or receiver) waits until the
// time for the bytes moved so far has come, so the bytes flow evenly instead of in bursts.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>

// The arithmetic alone: where a stream of dBytesPerSecond should be after n bytes.
class CPaceSchedule {
public:
    using Clock = std::chrono::steady_clock;
    // A stream that fell behind (the link was slower) may catch up by at most this much:
    // beyond it the schedule starts again from now rather than sending a burst.
    static constexpr std::chrono::milliseconds kMaxCatchUp{20};

    CPaceSchedule(double dBytesPerSecond, Clock::time_point tStart);
    // Notes nBytes moved at tNow; how long to wait before the next step.
    Clock::duration AfterMoved(size_t nBytes, Clock::time_point tNow);
    // Bytes per step: about two milliseconds' worth, within [1, nMaxStep].
    size_t StepBytes(size_t nMaxStep) const;

private:
    double m_dBytesPerSecond;
    Clock::time_point m_tStart;
    double m_dBytes = 0; // moved since m_tStart
};

class CRatePacer {
public:
    CRatePacer(asio::io_context& ctx, double dBytesPerSecond)
        : m_timer(ctx), m_schedule(dBytesPerSecond, CPaceSchedule::Clock::now()) {}
    size_t StepBytes(size_t nMaxStep) const { return m_schedule.StepBytes(nMaxStep); }
    // Waits, if it must, after nBytes moved.
    asio::awaitable<void> Moved(size_t nBytes);

private:
    asio::steady_timer m_timer;
    CPaceSchedule m_schedule;
};
