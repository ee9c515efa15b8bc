// A plain loopback TCP client (IPv4 or IPv6) for talking to the server byte by byte in tests.
#pragma once

#include <chrono>
#include <string>

class CRawSocket {
public:
    CRawSocket() = default;
    ~CRawSocket() { Close(); }
    CRawSocket(const CRawSocket&) = delete;
    CRawSocket& operator=(const CRawSocket&) = delete;

    // Connects to strHost (an address literal), from strFrom when given, with a receive
    // buffer of nRecvBuffer bytes when given (set before the connect, so that the window
    // never shrinks).
    bool Connect(int nPort, const std::string& strHost = "127.0.0.1",
                 const std::string& strFrom = "", int nRecvBuffer = 0);
    int LocalPort() const;
    bool Send(const std::string& strData);
    // Receives until nMax bytes, the peer's close (or reset) or the timeout; *pbClosed
    // tells whether the close was seen.
    std::string Recv(size_t nMax, bool* pbClosed = nullptr,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void Reset(); // closes with a reset
    void Close();
    int Fd() const { return m_fd; }
    // Takes over a connected stream socket of another kind (one end of a socket pair).
    void Adopt(int fd) {
        Close();
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// A socket bound to a free loopback port, listening when asked; closed on destruction.
class CLoopbackPort {
public:
    explicit CLoopbackPort(bool bListen, int nBacklog = 16);
    ~CLoopbackPort();
    CLoopbackPort(const CLoopbackPort&) = delete;
    CLoopbackPort& operator=(const CLoopbackPort&) = delete;
    int Port() const { return m_nPort; }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
    int m_nPort = 0;
};

// A loopback port that nobody listens on: bound once, then released.
inline int ClosedLoopbackPort() {
    return CLoopbackPort(false).Port();
}
