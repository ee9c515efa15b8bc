// The event-driven core every socket of the program lives on: one I/O thread per
// processor, each running its own io_context, and one hook thread for the front end's
// hooks that may wait (a message box, a call carried out on the window's thread), so
// that no I/O thread ever waits for a person. The threads run while some run holds the
// core and return by themselves once the last holder has let go and its work is done.
#pragma once

#include "support/byte_stream.h"

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class CIoCore {
public:
    // nThreads 0: one I/O thread per processor, at least one.
    explicit CIoCore(int nThreads = 0);
    // Waits for the threads; every holder must have let go.
    ~CIoCore();
    CIoCore(const CIoCore&) = delete;
    CIoCore& operator=(const CIoCore&) = delete;

    // A run takes the core before it posts work and lets go once its last work is done.
    // The first holder starts the threads (after waiting for those of an earlier round
    // to return). Never called from a core thread.
    void Hold();
    void Release();

    size_t LaneCount() const { return m_vecLanes.size(); }
    asio::io_context& Lane(size_t nIndex) { return m_vecLanes[nIndex]->ctx; }
    // The lanes in turn: the index of the one where the next connection lives.
    size_t NextLaneIndex();
    asio::io_context& Hooks() { return m_hooks.ctx; }

private:
    struct CLane {
        asio::io_context ctx{1};
        std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
        std::thread thread;
    };
    void Launch(CLane& lane);
    void JoinLocked();

    std::mutex m_cs;
    int m_nHolders = 0;
    std::vector<std::unique_ptr<CLane>> m_vecLanes;
    CLane m_hooks;
    std::atomic<size_t> m_nNext{0};
};

// Starts coroutine on ctx; an exception that escapes it (memory ran out) is traced and
// dropped, never thrown out of the I/O thread.
void SpawnDetached(asio::io_context& ctx, asio::awaitable<void> coroutine);
