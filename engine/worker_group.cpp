#include "engine/worker_group.h"

#include "support/platform.h"

#include <cerrno>
#include <memory>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

// The address space each worker reserves for its stack. A session needs a few KiB of it;
// the system's default (8 MiB on Linux, 1 MiB on Windows) would make address space, not
// memory, the limit for tens of thousands of sessions. Only touched pages become memory.
const size_t kWorkerStackSize = 256 * 1024;

// What a new thread runs; it owns the heap copy it is handed.
using CWorkerStart = std::function<void()>;

#if defined(_WIN32)
unsigned __stdcall WorkerMain(void* pParam) {
    std::unique_ptr<CWorkerStart> pStart(static_cast<CWorkerStart*>(pParam));
    (*pStart)();
    return 0;
}

// A detached thread with a reserved (not committed) stack of kWorkerStackSize. False with
// the thread's last error set when the system refuses it.
bool StartDetachedThread(CWorkerStart* pStart) {
    const uintptr_t hThread =
        ::_beginthreadex(nullptr, static_cast<unsigned>(kWorkerStackSize), WorkerMain, pStart,
                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (hThread == 0) {
        if (::GetLastError() == 0)
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    ::CloseHandle(reinterpret_cast<HANDLE>(hThread));
    return true;
}
#else
void* WorkerMain(void* pParam) {
    std::unique_ptr<CWorkerStart> pStart(static_cast<CWorkerStart*>(pParam));
    (*pStart)();
    return nullptr;
}

bool StartDetachedThread(CWorkerStart* pStart) {
    pthread_attr_t attr;
    int nError = pthread_attr_init(&attr);
    if (nError == 0) {
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        // Below the system's minimum (never on the usual systems) the default stays.
        pthread_attr_setstacksize(&attr, kWorkerStackSize);
        pthread_t thread;
        nError = pthread_create(&thread, &attr, WorkerMain, pStart);
        pthread_attr_destroy(&attr);
    }
    if (nError != 0) {
        SetThreadLastError(nError);
        return false;
    }
    return true;
}
#endif

} // namespace

bool CWorkerGroup::Start(std::function<void()> fnBody) {
    {
        std::lock_guard<std::mutex> lock(m_cs);
        ++m_nWorkers;
    }
    // The body's captures go before the count drops: a waiter may tear down what they
    // refer to as soon as it sees zero.
    auto* pStart = new CWorkerStart([this, fnBody = std::move(fnBody)]() mutable {
        fnBody();
        fnBody = nullptr;
        Ended();
    });
    if (!StartDetachedThread(pStart)) {
        const int nError = GetThreadLastError();
        delete pStart;
        Ended();
        SetThreadLastError(nError);
        return false;
    }
    return true;
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
