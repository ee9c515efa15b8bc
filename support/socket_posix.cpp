// POSIX side of the socket shim.
#include "support/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

SOCKET OpenTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

void AllowPortReuse(SOCKET s) {
    int nOn = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn));
}

static bool ParseIPv4(const std::string& strAddr, in_addr& addr) {
    if (strAddr.empty()) {
        addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, strAddr.c_str(), &addr) == 1;
}

bool BindIPv4(SOCKET s, const std::string& strAddr, int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    if (!ParseIPv4(strAddr, sa.sin_addr)) {
        errno = EINVAL;
        return false;
    }
    return ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

bool ListenSocket(SOCKET s, int nBacklog) {
    return ::listen(s, nBacklog) == 0;
}

int GetBoundPort(SOCKET s) {
    sockaddr_in sa{};
    socklen_t nLen = sizeof(sa);
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &nLen) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

SOCKET AcceptSocket(SOCKET sListen) {
    for (;;) {
        sockaddr_in sa{};
        socklen_t nLen = sizeof(sa);
        SOCKET s = ::accept(sListen, reinterpret_cast<sockaddr*>(&sa), &nLen);
        if (s >= 0 || errno != EINTR)
            return s;
    }
}

bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    if (::inet_pton(AF_INET, strHost.c_str(), &sa.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pResult = nullptr;
        int nRet = ::getaddrinfo(strHost.c_str(), nullptr, &hints, &pResult);
        if (nRet != 0 || pResult == nullptr) {
            // Resolver codes are negative and never collide with errno values;
            // GetErrorText knows to ask gai_strerror for them.
            if (nRet == EAI_SYSTEM && errno != 0)
                nRet = errno;
            errno = nRet != 0 ? nRet : EAI_NONAME;
            return false;
        }
        sa.sin_addr = reinterpret_cast<sockaddr_in*>(pResult->ai_addr)->sin_addr;
        ::freeaddrinfo(pResult);
    }
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

bool SendAll(SOCKET s, const void* pData, size_t nLen) {
    const char* p = static_cast<const char*>(pData);
    while (nLen > 0) {
        int n = SendOnce(s, p, nLen);
        if (n <= 0)
            return false;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    return true;
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

void SetAbortiveClose(SOCKET s) {
    linger lg{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
}

void ShutdownAndClose(SOCKET s) {
    ::shutdown(s, SHUT_RDWR);
    ::close(s);
}
