// A plain loopback TCP client for talking to the server byte by byte in tests.
#pragma once

#include <chrono>
#include <string>

class CRawSocket {
public:
    CRawSocket() = default;
    ~CRawSocket() { Close(); }
    CRawSocket(const CRawSocket&) = delete;
    CRawSocket& operator=(const CRawSocket&) = delete;

    bool Connect(int nPort);
    bool Send(const std::string& strData);
    // Receives what arrives within the timeout, up to nMax bytes. Returns the bytes read;
    // bClosed is set when the peer closed (or reset) the connection.
    std::string Recv(size_t nMax, std::chrono::milliseconds timeout, bool& bClosed);
    // Reads and discards until the peer closes or nMax bytes or the timeout; returns the
    // byte count, and bClosed tells whether the close was seen.
    size_t Drain(size_t nMax, std::chrono::milliseconds timeout, bool& bClosed);
    // Sends a reset instead of a normal close.
    void Reset();
    void Close();
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// A socket bound to a free loopback port, listening when asked; closed on destruction.
class CLoopbackPort {
public:
    explicit CLoopbackPort(bool bListen, int nBacklog = 16);
    ~CLoopbackPort() { Close(); }
    CLoopbackPort(const CLoopbackPort&) = delete;
    CLoopbackPort& operator=(const CLoopbackPort&) = delete;
    int Port() const { return m_nPort; }
    int Fd() const { return m_fd; }
    void Close();

private:
    int m_fd = -1;
    int m_nPort = 0;
};

// A loopback port that nobody listens on: bound once, then released.
int ClosedLoopbackPort();

// Number of descriptors open in this process (leak checks).
int CountOpenDescriptors();
