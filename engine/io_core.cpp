#include "engine/io_core.h"

#include "support/format.h"

#include <algorithm>

CIoCore::CIoCore(int nThreads) {
    const unsigned nCount = nThreads > 0 ? static_cast<unsigned>(nThreads)
                                         : std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < nCount; ++i)
        m_vecLanes.push_back(std::make_unique<CLane>());
}

CIoCore::~CIoCore() {
    std::vector<std::thread> vecThreads;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        for (auto& pLane : m_vecLanes) {
            pLane->guard.reset();
            vecThreads.push_back(std::move(pLane->thread));
        }
        m_hooks.guard.reset();
        vecThreads.push_back(std::move(m_hooks.thread));
    }
    // Outside the lock: a run's last hook may still be letting go of the core.
    for (std::thread& thread : vecThreads) {
        if (thread.joinable())
            thread.join();
    }
}

void CIoCore::Launch(CLane& lane) {
    lane.ctx.restart();
    lane.guard.emplace(asio::make_work_guard(lane.ctx));
    lane.thread = std::thread([&lane] { lane.ctx.run(); });
}

void CIoCore::JoinLocked() {
    for (auto& pLane : m_vecLanes) {
        if (pLane->thread.joinable())
            pLane->thread.join();
    }
    if (m_hooks.thread.joinable())
        m_hooks.thread.join();
}

void CIoCore::Hold() {
    std::lock_guard<std::mutex> lock(m_cs);
    if (m_nHolders++ != 0)
        return;
    JoinLocked(); // the last round's threads return once their work is done
    for (auto& pLane : m_vecLanes)
        Launch(*pLane);
    Launch(m_hooks);
}

void CIoCore::Release() {
    std::lock_guard<std::mutex> lock(m_cs);
    if (--m_nHolders != 0)
        return;
    for (auto& pLane : m_vecLanes)
        pLane->guard.reset();
    m_hooks.guard.reset();
}

size_t CIoCore::NextLaneIndex() {
    return m_nNext.fetch_add(1, std::memory_order_relaxed) % m_vecLanes.size();
}

void SpawnDetached(asio::io_context& ctx, asio::awaitable<void> coroutine) {
    asio::co_spawn(ctx, std::move(coroutine), [](std::exception_ptr pError) {
        if (!pError)
            return;
        try {
            std::rethrow_exception(pError);
        } catch (const std::exception& e) {
            TraceDebug("a session ended on an exception: %s", e.what());
        } catch (...) {
            TraceDebug("a session ended on an exception");
        }
    });
}
