// A connection's bytes as the session code sees them: the socket in the program, memory
// in the tests, so that every partial send and receive can be played through.
#pragma once

#include "support/socket.h"

#include <cstddef>

class CByteStream {
public:
    virtual ~CByteStream() = default;
    // One call each, as the system reports it: bytes moved, 0 when the peer closed (a
    // receive), -1 on failure with the thread's last socket error set.
    virtual int Send(const void* pData, size_t nLen) = 0;
    virtual int Recv(void* pData, size_t nLen) = 0;
    // Without waiting: 1 when data, a close or an error is pending, 0 when nothing is,
    // -1 when the poll itself fails.
    virtual int PollReadableNow() = 0;
};

// Sends everything, continuing short sends, until done or the stream fails.
bool SendAll(CByteStream& stream, const void* pData, size_t nLen);
// Receives exactly nLen bytes, continuing short receives; false when the stream ends or
// fails first.
bool RecvAll(CByteStream& stream, void* pData, size_t nLen);

class CSocketStream final : public CByteStream {
public:
    explicit CSocketStream(SOCKET s) : m_sock(s) {}
    int Send(const void* pData, size_t nLen) override { return SendOnce(m_sock, pData, nLen); }
    int Recv(void* pData, size_t nLen) override { return RecvOnce(m_sock, pData, nLen); }
    int PollReadableNow() override { return ::PollReadableNow(m_sock); }
    SOCKET Socket() const { return m_sock; }

private:
    SOCKET m_sock;
};
