// POSIX side of the socket shim.
#include "support/socket_native.h"

#include "support/platform.h"

#include <csignal>
#include <fcntl.h>

bool InitSocketLibrary() {
    // MSG_NOSIGNAL covers our own sends; ignoring the signal also covers any library
    // code that writes to a socket.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Sockets report through errno like every other call here: one last-error pair.
int GetLastSocketError() {
    return GetThreadLastError();
}

void SetLastSocketError(int nError) {
    SetThreadLastError(nError);
}

int InvalidArgumentError() {
    return EINVAL;
}

void SetResolveError(int nResult) {
    // Resolver codes are negative and never collide with errno values; GetErrorText
    // knows to ask gai_strerror for them.
    if (nResult == EAI_SYSTEM && errno != 0)
        return;
    errno = nResult != 0 ? nResult : EAI_NONAME;
}

int TimedOutError() {
    return ETIMEDOUT;
}

bool SetNonBlocking(SOCKET s, bool bNonBlocking) {
    int nFlags = ::fcntl(s, F_GETFL, 0);
    if (nFlags < 0)
        return false;
    nFlags = bNonBlocking ? (nFlags | O_NONBLOCK) : (nFlags & ~O_NONBLOCK);
    return ::fcntl(s, F_SETFL, nFlags) == 0;
}

bool IsConnectInProgress(int nError) {
    return nError == EINPROGRESS || nError == EINTR;
}

int WaitConnectOutcome(SOCKET s, int nTimeoutMs) {
    pollfd pfd{s, POLLOUT, 0};
    int n = ::poll(&pfd, 1, nTimeoutMs);
    return n > 0 ? 1 : 0;
}

int PendingSocketError(SOCKET s) {
    int nErr = 0;
    socklen_t nLen = sizeof(nErr);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &nErr, &nLen) != 0)
        return errno;
    return nErr;
}

void LimitSendBufferForLocalPeer(SOCKET s) {
    sockaddr_in saPeer{}, saLocal{};
    socklen_t nPeerLen = sizeof(saPeer), nLocalLen = sizeof(saLocal);
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&saPeer), &nPeerLen) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&saLocal), &nLocalLen) != 0 ||
        saPeer.sin_family != AF_INET || saLocal.sin_family != AF_INET)
        return;
    const bool bLoopback = (ntohl(saPeer.sin_addr.s_addr) >> 24) == 127;
    if (!bLoopback && saPeer.sin_addr.s_addr != saLocal.sin_addr.s_addr)
        return;
    const int nBytes = kLocalSendBufferBytes;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &nBytes, sizeof(nBytes));
}

void SetIdleTimeout(SOCKET s, int nSeconds) {
    timeval tv{nSeconds, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

bool GetSmoothedRttMs(SOCKET s, double& dRttMs) {
#if defined(TCP_INFO)
    tcp_info info{};
    socklen_t nLen = sizeof(info);
    if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &nLen) != 0 || info.tcpi_rtt == 0)
        return false;
    dRttMs = info.tcpi_rtt / 1000.0;
    return true;
#else
    (void)s, (void)dRttMs;
    return false;
#endif
}

void AllowPortReuse(SOCKET s) {
    int nOn = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn));
}

SOCKET AcceptSocket(SOCKET sListen) {
    for (;;) {
        SOCKET s = ::accept(sListen, nullptr, nullptr);
        if (s >= 0 || errno != EINTR)
            return s;
    }
}

int SendOnce(SOCKET s, const void* pData, size_t nLen) {
    for (;;) {
        ssize_t n = ::send(s, pData, nLen, MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR)
            return static_cast<int>(n);
    }
}

int RecvOnce(SOCKET s, void* pData, size_t nLen) {
    for (;;) {
        ssize_t n = ::recv(s, pData, nLen, 0);
        if (n >= 0 || errno != EINTR)
            return static_cast<int>(n);
    }
}

int PollReadableNow(SOCKET s) {
    pollfd pfd{s, POLLIN, 0};
    for (;;) {
        int n = ::poll(&pfd, 1, 0);
        if (n >= 0 || errno != EINTR)
            return n < 0 ? -1 : (n > 0 ? 1 : 0);
    }
}

void InterruptSocket(SOCKET s) {
    ::shutdown(s, SHUT_RDWR);
}

void ShutdownAndClose(SOCKET s) {
    ::shutdown(s, SHUT_RDWR);
    ::close(s);
}
