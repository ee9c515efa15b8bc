// Windows side of the socket shim (Winsock 2).
#include "support/socket.h"

#include <ws2tcpip.h>
#include <windows.h>

bool InitSocketLibrary() {
    WSADATA wsa;
    int nRet = ::WSAStartup(MAKEWORD(2, 2), &wsa);
    if (nRet != 0) {
        ::WSASetLastError(nRet);
        return false;
    }
    return true;
}

int GetLastSocketError() {
    return ::WSAGetLastError();
}

void SetLastSocketError(int nError) {
    ::WSASetLastError(nError);
}

SOCKET OpenTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

void AllowPortReuse(SOCKET) {
    // SO_REUSEADDR on Windows lets another process bind the same port: leave the default.
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
    sa.sin_port = htons(static_cast<u_short>(nPort));
    if (!ParseIPv4(strAddr, sa.sin_addr)) {
        ::WSASetLastError(WSAEINVAL);
        return false;
    }
    return ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

bool ListenSocket(SOCKET s, int nBacklog) {
    return ::listen(s, nBacklog) == 0;
}

int GetBoundPort(SOCKET s) {
    sockaddr_in sa{};
    int nLen = sizeof(sa);
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &nLen) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

SOCKET AcceptSocket(SOCKET sListen) {
    sockaddr_in sa{};
    int nLen = sizeof(sa);
    return ::accept(sListen, reinterpret_cast<sockaddr*>(&sa), &nLen);
}

bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(nPort));
    if (::inet_pton(AF_INET, strHost.c_str(), &sa.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pResult = nullptr;
        int nRet = ::getaddrinfo(strHost.c_str(), nullptr, &hints, &pResult);
        if (nRet != 0 || pResult == nullptr) {
            ::WSASetLastError(nRet != 0 ? nRet : WSAHOST_NOT_FOUND);
            return false;
        }
        sa.sin_addr = reinterpret_cast<sockaddr_in*>(pResult->ai_addr)->sin_addr;
        ::freeaddrinfo(pResult);
    }
    return ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

int SendOnce(SOCKET s, const void* pData, size_t nLen) {
    return ::send(s, static_cast<const char*>(pData), static_cast<int>(nLen), 0);
}

int RecvOnce(SOCKET s, void* pData, size_t nLen) {
    return ::recv(s, static_cast<char*>(pData), static_cast<int>(nLen), 0);
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
    // select is fine here: a Windows fd_set holds handles, not bit positions.
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, 0};
    int n = ::select(0, &set, nullptr, nullptr, &tv);
    return n < 0 ? -1 : (n > 0 ? 1 : 0);
}

void InterruptSocket(SOCKET s) {
    ::shutdown(s, SD_BOTH);
    // shutdown alone does not wake a blocked accept or recv on Windows; cancelling the
    // socket's pending I/O does, and leaves the handle for its owner to close.
    ::CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
}

void SetAbortiveClose(SOCKET s) {
    linger lg{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof(lg));
}

void ShutdownAndClose(SOCKET s) {
    ::shutdown(s, SD_BOTH);
    ::closesocket(s);
}
