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

// Number of descriptors open in this process (leak checks).
int CountOpenDescriptors();
