// The socket shim below the I/O core: starting the socket library, the thread's last
// socket error, and what the system tells of a connected socket. Sockets themselves are
// Asio's (support/socket_stream.h); Winsock and BSD sockets differ here in one header and
// two source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
// SOCKET and INVALID_SOCKET come from winsock2.h.
#else
typedef int SOCKET;
#ifndef INVALID_SOCKET
#define INVALID_SOCKET (-1)
#endif
#endif

// Starts the socket library (Winsock on Windows; on POSIX it makes sure a send to a
// closed peer cannot raise SIGPIPE). Returns false with the last error set on failure.
bool InitSocketLibrary();

// The calling thread's last socket error, and setting it again.
int GetLastSocketError();
void SetLastSocketError(int nError);

// The fixed send buffer of a sender whose peer is this host itself: the system's
// automatic sizing grows it to megabytes, which on a link that takes microseconds only
// moves the data through more memory. On the I/O core, 10 loopback connections moved
// 7,000 to 9,800 MiB/s at 0.21 to 0.30 CPU s/GiB with this size, against about 5,000
// MiB/s and 0.40 with twice it, and less with half or eight times it and more. A fixed
// buffer would cap a long link at buffer / round trip, so a peer elsewhere keeps the
// automatic one, as does Windows, where the option switches off its own send sizing.
const int kLocalSendBufferBytes = 128 * 1024;

// What the kernel knows of a connected TCP socket (TCP_INFO on Linux, SIO_TCP_INFO on
// Windows 10 and later); each figure is left empty where the system does not tell.
struct CTcpFigures {
    // The sender's smoothed round-trip time.
    std::optional<double> dRttMs;
    // The receiver's own estimate, which keeps moving while the socket only receives
    // (Linux only).
    std::optional<double> dReceiverRttMs;
    // Bytes the peer has acknowledged, the connection's first bytes included.
    std::optional<uint64_t> nBytesAcked;
};
CTcpFigures GetTcpFigures(SOCKET s);
// The addresses of the interfaces that are up, as numeric literals (IPv6 without
// brackets or zone), in the system's order; empty when the system does not tell
// (getifaddrs on POSIX, GetAdaptersAddresses on Windows). See ShareableAddresses for the
// ones worth showing.
std::vector<std::string> ListInterfaceAddresses();
