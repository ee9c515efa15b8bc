// Windows side of the socket shim (Winsock 2).
#include "support/socket_native.h"

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

int InvalidArgumentError() {
    return WSAEINVAL;
}

void SetResolveError(int nResult) {
    ::WSASetLastError(nResult != 0 ? nResult : WSAHOST_NOT_FOUND);
}

void AllowPortReuse(SOCKET) {
    // SO_REUSEADDR on Windows lets another process bind the same port: leave the default.
}

SOCKET AcceptSocket(SOCKET sListen) {
    return ::accept(sListen, nullptr, nullptr);
}

bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort) {
    sockaddr_in sa{};
    if (!ResolveIPv4(strHost, nPort, sa))
        return false;
    return ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

int SendOnce(SOCKET s, const void* pData, size_t nLen) {
    return ::send(s, static_cast<const char*>(pData), static_cast<int>(nLen), 0);
}

int RecvOnce(SOCKET s, void* pData, size_t nLen) {
    return ::recv(s, static_cast<char*>(pData), static_cast<int>(nLen), 0);
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

void ShutdownAndClose(SOCKET s) {
    ::shutdown(s, SD_BOTH);
    ::closesocket(s);
}
