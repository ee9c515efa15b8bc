#include "engine/socket_registry.h"

namespace {
const size_t kKeptBuckets = 1024;
} // namespace

bool CSocketRegistry::Add(SOCKET s) {
    std::lock_guard<std::mutex> lock(m_cs);
    if (m_bStopRequested)
        return false;
    m_mapSockets[s] = s;
    return true;
}

void CSocketRegistry::Remove(SOCKET s) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_mapSockets.erase(s);
    // Thousands of sockets leave a large bucket table behind; an empty registry drops it.
    if (m_mapSockets.empty() && m_mapSockets.bucket_count() > kKeptBuckets)
        std::unordered_map<SOCKET, SOCKET>().swap(m_mapSockets);
}

size_t CSocketRegistry::Count() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_mapSockets.size();
}

void CSocketRegistry::StopAll(bool bAbortive) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_bStopRequested = true;
    const int nError = GetLastSocketError();
    for (const auto& entry : m_mapSockets) {
        if (bAbortive)
            SetAbortiveClose(entry.second);
        InterruptSocket(entry.second);
    }
    SetLastSocketError(nError);
}

bool CSocketRegistry::StopRequested() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_bStopRequested;
}

void CSocketRegistry::ForEach(const std::function<void(SOCKET)>& fn) const {
    std::lock_guard<std::mutex> lock(m_cs);
    for (const auto& entry : m_mapSockets)
        fn(entry.second);
}

void CSocketRegistry::Reset() {
    std::lock_guard<std::mutex> lock(m_cs);
    m_bStopRequested = false;
}
