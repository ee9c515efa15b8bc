// POSIX side of the socket shim.
#include "support/socket_native.h"

#include <csignal>

bool InitSocketLibrary() {
    // MSG_NOSIGNAL covers our own sends; ignoring the signal also covers any library
    // code that writes to a socket.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int GetLastSocketError() {
    return errno;
}

void SetLastSocketError(int nError) {
    errno = nError;
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

bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort) {
    sockaddr_in sa{};
    if (!ResolveIPv4(strHost, nPort, sa))
        return false;
    for (;;) {
        if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0)
            return true;
        if (errno != EINTR)
            return false;
        // An interrupted connect goes on in the background; wait for its outcome.
        pollfd pfd{s, POLLOUT, 0};
        if (::poll(&pfd, 1, -1) < 0 && errno == EINTR)
            continue;
        int nErr = 0;
        socklen_t nLen = sizeof(nErr);
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &nErr, &nLen);
        errno = nErr;
        return nErr == 0;
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
