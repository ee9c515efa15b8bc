// Detached worker threads that can still be waited for: each component that starts
// threads owns one group and waits for it before it goes away.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

class CWorkerGroup {
public:
    CWorkerGroup() = default;
    // Waits for every worker of the group.
    ~CWorkerGroup() { Wait(); }
    CWorkerGroup(const CWorkerGroup&) = delete;
    CWorkerGroup& operator=(const CWorkerGroup&) = delete;

    // Runs fnBody on a new detached thread with a small reserved stack (256 KiB: a worker
    // keeps no large buffers on it). False, with the thread's last error set, when the
    // system refuses the thread.
    bool Start(std::function<void()> fnBody);
    // Blocks until every worker started so far has left.
    void Wait();

private:
    void Ended();

    mutable std::mutex m_cs;
    std::condition_variable m_cv;
    int m_nWorkers = 0;
};
