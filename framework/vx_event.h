// A one-shot signal a sender may wait on after handing a command record over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class CVXEvent {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(m_cs);
        m_bSet = true;
        m_cv.notify_all();
    }
    // True when the event was set within the time.
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_cs);
        return m_cv.wait_for(lock, timeout, [this] { return m_bSet; });
    }

private:
    std::mutex m_cs;
    std::condition_variable m_cv;
    bool m_bSet = false;
};
