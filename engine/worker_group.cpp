#include "engine/worker_group.h"

#include "support/platform.h"

#include <cerrno>
#include <system_error>
#include <thread>

bool CWorkerGroup::Start(std::function<void()> fnBody) {
    {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_nLimit > 0 && m_nWorkers >= m_nLimit) {
            SetThreadLastError(EAGAIN);
            return false;
        }
        ++m_nWorkers;
    }
    try {
        std::thread([this, fnBody = std::move(fnBody)]() {
            fnBody();
            Ended();
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        Ended();
        SetThreadLastError(e.code().value());
        return false;
    }
}

void CWorkerGroup::Ended() {
    // The waiter may destroy the group as soon as it sees zero: notify under the lock.
    std::lock_guard<std::mutex> lock(m_cs);
    if (--m_nWorkers == 0)
        m_cv.notify_all();
}

void CWorkerGroup::Wait() {
    std::unique_lock<std::mutex> lock(m_cs);
    m_cv.wait(lock, [this] { return m_nWorkers == 0; });
}

int CWorkerGroup::Count() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_nWorkers;
}

void CWorkerGroup::SetLimit(int nLimit) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_nLimit = nLimit;
}
