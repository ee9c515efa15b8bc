// The parts of the socket shim that read the same on every platform.
#include "support/socket_native.h"

#include "support/byte_stream.h"

#include <chrono>

namespace {

bool ParseIPv4(const std::string& strAddr, in_addr& addr) {
    if (strAddr.empty()) {
        addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, strAddr.c_str(), &addr) == 1;
}

} // namespace

SOCKET OpenTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

bool BindIPv4(SOCKET s, const std::string& strAddr, int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    if (!ParseIPv4(strAddr, sa.sin_addr)) {
        SetLastSocketError(InvalidArgumentError());
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

std::string GetPeerAddress(SOCKET s) {
    sockaddr_in sa{};
    socklen_t nLen = sizeof(sa);
    char szAddr[INET_ADDRSTRLEN] = {0};
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&sa), &nLen) != 0 ||
        ::inet_ntop(AF_INET, &sa.sin_addr, szAddr, sizeof(szAddr)) == nullptr)
        return std::string();
    return std::string(szAddr) + ":" + std::to_string(ntohs(sa.sin_port));
}

bool ResolveIPv4(const std::string& strHost, int nPort, sockaddr_in& sa) {
    sa = sockaddr_in{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    if (::inet_pton(AF_INET, strHost.c_str(), &sa.sin_addr) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    int nRet = ::getaddrinfo(strHost.c_str(), nullptr, &hints, &pResult);
    if (nRet != 0 || pResult == nullptr) {
        SetResolveError(nRet);
        return false;
    }
    sa.sin_addr = reinterpret_cast<sockaddr_in*>(pResult->ai_addr)->sin_addr;
    ::freeaddrinfo(pResult);
    return true;
}

bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort) {
    return ConnectIPv4(s, strHost, nPort, -1, std::function<bool()>());
}

bool ConnectIPv4(SOCKET s, const std::string& strHost, int nPort, int nTimeoutMs,
                 const std::function<bool()>& fnCancelled) {
    sockaddr_in sa{};
    if (!ResolveIPv4(strHost, nPort, sa) || !SetNonBlocking(s, true))
        return false;
    int nError = 0;
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        nError = GetLastSocketError();
        if (IsConnectInProgress(nError)) {
            // Short waits, so that a stop is seen promptly even while nothing happens.
            const auto tEnd = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
            for (;;) {
                if (WaitConnectOutcome(s, 100) != 0) {
                    nError = PendingSocketError(s);
                    break;
                }
                if (fnCancelled && fnCancelled()) {
                    nError = InvalidArgumentError();
                    break;
                }
                if (nTimeoutMs >= 0 && std::chrono::steady_clock::now() >= tEnd) {
                    nError = TimedOutError();
                    break;
                }
            }
        }
    }
    SetNonBlocking(s, false);
    SetLastSocketError(nError);
    return nError == 0;
}

bool SendAll(SOCKET s, const void* pData, size_t nLen) {
    CSocketStream stream(s);
    return SendAll(stream, pData, nLen);
}

void SetAbortiveClose(SOCKET s) {
    linger lg{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof(lg));
}

bool CreateTcpSocket(SOCKET& s, const std::string& strAddr, int nPort, bool bListen, int nBacklog) {
    s = OpenTcpSocket();
    if (s == INVALID_SOCKET)
        return false;
    if (nPort == 0 && !bListen)
        return true;
    if (bListen)
        AllowPortReuse(s);
    if (!BindIPv4(s, strAddr, nPort) || (bListen && !ListenSocket(s, nBacklog))) {
        CloseSocket(s);
        return false;
    }
    return true;
}

void CloseSocket(SOCKET& s) {
    if (s == INVALID_SOCKET)
        return;
    int nError = GetLastSocketError();
    ShutdownAndClose(s);
    s = INVALID_SOCKET;
    SetLastSocketError(nError);
}
