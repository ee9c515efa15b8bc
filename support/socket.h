// The one socket shim: every other file reaches sockets through these names, so
// Winsock and BSD sockets differ in exactly one header and two source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
// SOCKET and INVALID_SOCKET come from winsock2.h.
#else
typedef int SOCKET;
#ifndef INVALID_SOCKET
#define INVALID_SOCKET (-1)
#endif
#endif

// Starts the socket library (Winsock 2.2 on Windows; on POSIX it makes sure a send to a
// closed peer cannot raise SIGPIPE). Returns false with the last error set on failure.
bool InitSocketLibrary();

// The calling thread's last socket error, and setting it again.
int GetLastSocketError();
void SetLastSocketError(int nError);

// socket(AF_INET, SOCK_STREAM, 0).
SOCKET OpenTcpSocket();

// Lets a listening socket take a port that a previous run left in TIME_WAIT. Only POSIX
// needs this; on Windows the option would let other programs steal the port.
void AllowPortReuse(SOCKET s);

// Binds to an IPv4 address ("" or "0.0.0.0" for every interface) and a port in host order.
bool BindIPv4(SOCKET s, const std::string& strAddr, int nPort);
bool ListenSocket(SOCKET s, int nBacklog);
// "address:port" of a connected socket's peer; empty when unknown.
std::string GetPeerAddress(SOCKET s);
// The port a bound socket actually holds (useful after binding port 0); 0 on failure.
int GetBoundPort(SOCKET s);
SOCKET AcceptSocket(SOCKET sListen);

struct sockaddr_in;
// strHost as a dotted IPv4 address or, failing that, a name looked up by the thread-safe
// resolver (IPv4 only), with nPort, into sa. A failed lookup leaves its own code as the
// last error (negative on POSIX, see GetErrorText).
bool ResolveIPv4(const std::string& strHost, int nPort, sockaddr_in& sa);

// Resolves strHost as a dotted IPv4 address or, failing that, a name (thread-safe
// resolver, IPv4 only) and connects. A failed lookup leaves its own code as the last
// error (negative on POSIX, see GetErrorText) and does not touch the socket.
bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort);
// The same with a time limit (nTimeoutMs < 0: none), after which it fails with the
// system's timed-out error, and a question asked a few times a second: when fnCancelled
// says yes, the connect is abandoned and fails. The socket is blocking again afterwards.
bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort, int nTimeoutMs,
                 const std::function<bool()>& fnCancelled);

// Blocking receives and sends that move nothing for nSeconds fail (EAGAIN, or
// WSAETIMEDOUT), so that a silent peer cannot hold a session for ever. 0: no limit.
void SetIdleTimeout(SOCKET s, int nSeconds);

// For a sender whose peer is this host itself (a loopback address, or the socket's own
// address), a fixed send buffer of kLocalSendBufferBytes: the system's automatic sizing
// grows it to megabytes, which on a link that takes microseconds only moves the data
// through more memory (measured: a fifth more throughput on loopback with it). A fixed
// buffer would cap a long link at buffer / round trip, so a peer elsewhere keeps the
// automatic one, as does Windows, where the option switches off its own send sizing.
const int kLocalSendBufferBytes = 256 * 1024;
void LimitSendBufferForLocalPeer(SOCKET s);

// The round-trip time the kernel keeps for a connected TCP socket, in milliseconds
// (TCP_INFO on Linux, SIO_TCP_INFO on Windows 10 and later). False where the system does
// not tell.
bool GetSmoothedRttMs(SOCKET s, double& dRttMs);

// One send or receive call; the result as the system returns it (bytes, 0, or -1).
// Interrupted calls (EINTR) are repeated. Sends never raise SIGPIPE.
int SendOnce(SOCKET s, const void* pData, size_t nLen);
int RecvOnce(SOCKET s, void* pData, size_t nLen);

// Sends everything, continuing short sends, until done or the socket fails.
bool SendAll(SOCKET s, const void* pData, size_t nLen);

// Readability without waiting: 1 when data, a close or an error is pending, 0 when
// nothing is, -1 when the poll itself fails. poll() on POSIX: select() cannot take
// descriptors above 1023 there.
int PollReadableNow(SOCKET s);

// Wakes every call blocked on the socket (shutdown of both directions, and on Windows
// cancelling pending I/O) without closing it: the owner still closes its handle.
void InterruptSocket(SOCKET s);

// Makes the socket's eventual close a reset instead of an orderly close, so that a peer
// blocked sending into it learns at once that the connection is gone (an orderly close
// of a socket that no longer reads can leave such a peer waiting for a minute).
void SetAbortiveClose(SOCKET s);

// shutdown(both) + close, once. Does not touch the last error bookkeeping.
void ShutdownAndClose(SOCKET s);

// Every socket of the program is made and closed through these two. CreateTcpSocket
// stores the new socket in s at once; port 0 without the listen flag leaves it unbound (a
// client socket), port 0 with it binds any free port. CloseSocket shuts down, closes, marks
// INVALID_SOCKET and keeps the thread's last socket error across the close.
bool CreateTcpSocket(SOCKET& s, const std::string& strAddr, int nPort, bool bListen,
                     int nBacklog = 256);
void CloseSocket(SOCKET& s);
