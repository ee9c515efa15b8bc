// The live sockets of one kind of session (server or client), so that a stop can cut
// every one of them. The owning session thread adds its socket, removes it when done and
// closes it itself: the registry never closes a socket.
#pragma once

#include "support/socket.h"

#include <functional>
#include <mutex>
#include <unordered_map>

class CSocketRegistry {
public:
    // Registers s unless a stop was requested since the last Reset: then false, and the
    // caller ends its session as the stop would have.
    bool Add(SOCKET s);
    void Remove(SOCKET s);
    size_t Count() const;
    // Requests a stop: wakes every registered socket's blocked calls (and makes each
    // close a reset when bAbortive) and refuses later Adds.
    void StopAll(bool bAbortive);
    bool StopRequested() const;
    // A new run accepts sockets again.
    void Reset();
    // Calls fn for each registered socket, under the lock: a socket stays open while its
    // owner has it registered, so fn may query it (but must not block or close it).
    void ForEach(const std::function<void(SOCKET)>& fn) const;

private:
    mutable std::mutex m_cs;
    std::unordered_map<SOCKET, SOCKET> m_mapSockets;
    bool m_bStopRequested = false;
};
