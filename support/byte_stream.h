// A connection's bytes as the session code sees them: an Asio socket in the program,
// memory in the tests, so that every partial send and receive can be played through.
// Sessions are coroutines on the I/O core; each call suspends until it has moved bytes.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

// What the owner's watch reads of a stream: when it last moved a byte, how many it moved,
// and by when an unfinished request head (or first token) must be complete.
// Completion token of every awaited operation: the error comes back as a value, so no
// socket failure is ever an exception.
inline constexpr auto kAwaitTuple = asio::experimental::as_tuple(asio::use_awaitable);

struct CStreamProgress {
    using Clock = std::chrono::steady_clock;
    Clock::time_point tLastMove = Clock::now();
    uint64_t nMoved = 0;
    Clock::time_point tHeadDeadline = Clock::time_point::max();
};

// The payload bytes a session counted on its stream, each way, as the engine's counters
// count them. Written only by the stream's own thread; others (the live table) may read.
struct CByteTally {
    std::atomic<uint64_t> nSent{0};
    std::atomic<uint64_t> nRecv{0};
};

class CByteStream {
public:
    // A request head or first token must be complete this long after its first byte.
    static constexpr std::chrono::seconds kHeadDeadline{10};

    virtual ~CByteStream() = default;
    // One call each: bytes moved (a send waits until the socket takes some), 0 when the
    // peer closed (a receive), -1 on failure or when the session was cut.
    virtual asio::awaitable<int> Send(const void* pData, size_t nLen) = 0;
    virtual asio::awaitable<int> Recv(void* pData, size_t nLen) = 0;
    // Without waiting: 1 when data, a close or an error is pending, 0 when nothing is.
    virtual int PollReadableNow() = 0;
    // A long one-way send begins: a socket whose peer is this host sizes its buffer for it.
    virtual void PrepareBulkSend() {}
    // True when the peer is this machine itself (see IsThisHostPeer); false where unknown.
    virtual bool PeerIsThisHost() const { return false; }
    // The port the peer connected to; 0 where unknown.
    virtual int LocalPort() const { return 0; }

    // The head clock: started when a head (or the first token) begins, stopped when it is
    // whole. A session whose head is not whole by the deadline is cut.
    void StartHeadClock() {
        m_progress.tHeadDeadline = CStreamProgress::Clock::now() + kHeadDeadline;
    }
    void StopHeadClock() { m_progress.tHeadDeadline = CStreamProgress::Clock::time_point::max(); }
    const CStreamProgress& Progress() const { return m_progress; }
    // One writer: a relaxed load and store, never a locked add.
    void CountSent(uint64_t n) {
        m_tally.nSent.store(m_tally.nSent.load(std::memory_order_relaxed) + n,
                            std::memory_order_relaxed);
    }
    void CountRecv(uint64_t n) {
        m_tally.nRecv.store(m_tally.nRecv.load(std::memory_order_relaxed) + n,
                            std::memory_order_relaxed);
    }
    const CByteTally& Tally() const { return m_tally; }

protected:
    void Moved(size_t n) {
        m_progress.nMoved += n;
        m_progress.tLastMove = CStreamProgress::Clock::now();
    }

private:
    CStreamProgress m_progress;
    CByteTally m_tally;
};

// Sends everything, continuing short sends, until done or the stream fails.
asio::awaitable<bool> SendAll(CByteStream& stream, const void* pData, size_t nLen);
// Receives exactly nLen bytes, continuing short receives; false when the stream ends or
// fails first.
asio::awaitable<bool> RecvAll(CByteStream& stream, void* pData, size_t nLen);

// A receive buffer of kScratchSize bytes private to the calling thread, for data that is
// counted and dropped, never read: the sessions of one thread all receive into it, and
// a receive may fill it while another session's result still waits to be taken.
const size_t kScratchSize = 256 * 1024;
char* ScratchBuffer();
