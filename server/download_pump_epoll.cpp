// The download pump on epoll: lanes (a thread and its epoll set each), opened as downloads
// come, up to sixteen, and closed again once they have had nothing to send for a while.
// Each lane waits for room on its sockets (level-triggered, so a socket that always has
// room cannot starve the others) and sends a burst of protocol blocks into each.
#include "server/download_pump.h"

#include "engine/send_pattern.h"
#include "support/format.h"
#include "support/socket.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

const size_t kMaxLanes = 16;
// Blocks sent into one socket before the lane turns to the next ready one.
const int kBurstBlocks = 32;
const int kEventsPerWait = 256;
// The longest a lane waits without looking at the idle limit.
const int kSweepMs = 1000;
// A lane that has held no download this long closes; the next download opens one again.
const auto kLaneRetireAfter = std::chrono::seconds(2);

using CClock = std::chrono::steady_clock;

struct CHeldDownload {
    CPumpedDownload download;
    CClock::time_point tLastProgress;
    size_t nIndex = 0; // place in the lane's held list
};

} // namespace

struct CDownloadPump::CLane {
    int nEpoll = -1;
    int nWake = -1; // eventfd: the stop
    // Added under csIncoming together with its epoll registration, so a lane that sees
    // an event always finds the download in one of the two lists.
    std::mutex csIncoming;
    std::vector<CHeldDownload*> vecIncoming;
    bool bOpen = true; // under csIncoming: false once the lane thread has left
    std::atomic<size_t> nHeld{0};
    std::vector<CHeldDownload*> vecHeld; // the lane thread's own
    std::thread thread;

    ~CLane() {
        if (nWake >= 0)
            ::close(nWake);
        if (nEpoll >= 0)
            ::close(nEpoll);
    }
};

CDownloadPump::CDownloadPump(CKestrunEngine& engine) : m_engine(engine) {}

CDownloadPump::~CDownloadPump() {
    Stop();
}

bool CDownloadPump::Start(int nIdleTimeoutSeconds, EndedFn fnEnded) {
    std::lock_guard<std::mutex> lock(m_csLanes);
    if (m_bRunning)
        return false;
    m_fnEnded = std::move(fnEnded);
    m_nIdleTimeoutSeconds = nIdleTimeoutSeconds;
    m_bRunning = true;
    return true;
}

CDownloadPump::CLane* CDownloadPump::OpenLane() {
    auto pLane = std::make_unique<CLane>();
    pLane->nEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    pLane->nWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    if (pLane->nEpoll < 0 || pLane->nWake < 0 ||
        ::epoll_ctl(pLane->nEpoll, EPOLL_CTL_ADD, pLane->nWake, &ev) != 0) {
        TraceDebug("download pump: no new lane: %s", std::strerror(errno));
        return nullptr;
    }
    CLane& lane = *pLane;
    try {
        lane.thread = std::thread([this, &lane] { RunLane(lane); });
    } catch (const std::system_error& e) {
        TraceDebug("download pump: no new lane: %s", e.what());
        return nullptr;
    }
    m_vecLanes.push_back(std::move(pLane));
    return &lane;
}

bool CDownloadPump::Add(const CPumpedDownload& download) {
    std::lock_guard<std::mutex> lockLanes(m_csLanes);
    if (!m_bRunning)
        return false;
    // The least busy lane; an idle one, or else a new one while there is room for more:
    // a few fast downloads each get a lane (and so a fair share of the processor), many
    // share them.
    CLane* pLane = nullptr;
    for (auto& pCandidate : m_vecLanes) {
        if (pLane == nullptr || pCandidate->nHeld.load() < pLane->nHeld.load())
            pLane = pCandidate.get();
    }
    if ((pLane == nullptr || pLane->nHeld.load() != 0) && m_vecLanes.size() < kMaxLanes) {
        if (CLane* pNew = OpenLane())
            pLane = pNew;
    }
    if (pLane == nullptr)
        return false;
    LimitSendBufferForLocalPeer(download.s);
    auto* pHeld = new CHeldDownload{download, CClock::now(), 0};
    epoll_event ev{};
    ev.events = EPOLLOUT;
    ev.data.ptr = pHeld;
    std::lock_guard<std::mutex> lock(pLane->csIncoming);
    if (!pLane->bOpen || ::epoll_ctl(pLane->nEpoll, EPOLL_CTL_ADD, download.s, &ev) != 0) {
        delete pHeld;
        return false;
    }
    pLane->vecIncoming.push_back(pHeld);
    pLane->nHeld.fetch_add(1);
    m_nHeld.fetch_add(1);
    return true;
}

size_t CDownloadPump::LaneCount() {
    std::lock_guard<std::mutex> lock(m_csLanes);
    return m_vecLanes.size();
}

std::unique_ptr<CDownloadPump::CLane> CDownloadPump::TakeIdleLane(CLane& lane) {
    // Only when nobody else is busy with the lanes: a stop holds the lock while it waits
    // for this thread, and an add that holds it may be about to pick this lane.
    std::unique_lock<std::mutex> lockLanes(m_csLanes, std::try_to_lock);
    if (!lockLanes.owns_lock() || lane.nHeld.load() != 0)
        return nullptr;
    // Out of the list under the lock, so no add can pick it from here on.
    auto it = std::find_if(m_vecLanes.begin(), m_vecLanes.end(),
                           [&](const std::unique_ptr<CLane>& p) { return p.get() == &lane; });
    std::unique_ptr<CLane> pLane = std::move(*it);
    m_vecLanes.erase(it);
    // Nobody waits for this thread any more: it only frees its own lane on the way out.
    pLane->thread.detach();
    return pLane;
}

void CDownloadPump::Stop() {
    std::lock_guard<std::mutex> lock(m_csLanes);
    m_bStopping.store(true);
    for (auto& pLane : m_vecLanes) {
        const uint64_t nOne = 1;
        if (::write(pLane->nWake, &nOne, sizeof(nOne)) < 0)
            TraceDebug("download pump: no wake-up: %s", std::strerror(errno));
    }
    for (auto& pLane : m_vecLanes)
        pLane->thread.join();
    m_vecLanes.clear();
    m_bStopping.store(false);
    m_bRunning = false;
}

namespace {

// Sends a burst into the socket. False once the download has ended (the socket failed or
// the peer left); a full send buffer is no end.
bool Feed(CKestrunEngine& engine, CHeldDownload& held, CClock::time_point tNow) {
    const char* pBlock = SendPattern();
    uint64_t nSent = 0;
    bool bEnded = false;
    for (int i = 0; i < kBurstBlocks; ++i) {
        const ssize_t n = ::send(held.download.s, pBlock, CKestrunEngine::kBlockSize,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            nSent += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        bEnded = !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        break;
    }
    if (nSent != 0) {
        engine.AddSendBytes(nSent);
        held.download.nBytes += nSent;
        held.tLastProgress = tNow;
    }
    return !bEnded;
}

} // namespace

void CDownloadPump::RunLane(CLane& lane) {
    auto fnEnd = [&](CHeldDownload* pHeld) {
        ::epoll_ctl(lane.nEpoll, EPOLL_CTL_DEL, pHeld->download.s, nullptr);
        CHeldDownload* pLast = lane.vecHeld.back();
        pLast->nIndex = pHeld->nIndex;
        lane.vecHeld[pHeld->nIndex] = pLast;
        lane.vecHeld.pop_back();
        if (lane.vecHeld.empty())
            std::vector<CHeldDownload*>().swap(lane.vecHeld); // thousands may have been here
        lane.nHeld.fetch_sub(1);
        m_nHeld.fetch_sub(1);
        m_fnEnded(pHeld->download);
        delete pHeld;
    };
    auto fnTakeIncoming = [&] {
        std::lock_guard<std::mutex> lock(lane.csIncoming);
        for (CHeldDownload* pHeld : lane.vecIncoming) {
            pHeld->nIndex = lane.vecHeld.size();
            lane.vecHeld.push_back(pHeld);
        }
        lane.vecIncoming.clear();
    };
    const auto tIdle = std::chrono::seconds(m_nIdleTimeoutSeconds);
    auto tLastSweep = CClock::now();
    auto tLastBusy = tLastSweep;
    epoll_event events[kEventsPerWait];
    while (!m_bStopping.load()) {
        const int nReady = ::epoll_wait(lane.nEpoll, events, kEventsPerWait, kSweepMs);
        if (nReady < 0 && errno != EINTR) {
            TraceDebug("download pump: %s", std::strerror(errno));
            break;
        }
        fnTakeIncoming();
        const auto tNow = CClock::now();
        for (int i = 0; i < nReady; ++i) {
            auto* pHeld = static_cast<CHeldDownload*>(events[i].data.ptr);
            if (pHeld != nullptr && !Feed(m_engine, *pHeld, tNow))
                fnEnd(pHeld);
        }
        if (m_nIdleTimeoutSeconds > 0 && tNow - tLastSweep >= std::chrono::milliseconds(kSweepMs)) {
            tLastSweep = tNow;
            // Backwards, so that the swap of an ended one brings in one already looked at.
            for (size_t i = lane.vecHeld.size(); i-- > 0;) {
                if (tNow - lane.vecHeld[i]->tLastProgress >= tIdle)
                    fnEnd(lane.vecHeld[i]);
            }
        }
        if (lane.nHeld.load() != 0) {
            tLastBusy = tNow;
        } else if (tNow - tLastBusy >= kLaneRetireAfter) {
            // Freed as this function returns, after the last use of the lane.
            if (std::unique_ptr<CLane> pThisLane = TakeIdleLane(lane))
                return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(lane.csIncoming);
        lane.bOpen = false;
    }
    fnTakeIncoming();
    while (!lane.vecHeld.empty())
        fnEnd(lane.vecHeld.back());
}
