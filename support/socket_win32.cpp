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

int TimedOutError() {
    return WSAETIMEDOUT;
}

bool SetNonBlocking(SOCKET s, bool bNonBlocking) {
    u_long nOn = bNonBlocking ? 1 : 0;
    return ::ioctlsocket(s, FIONBIO, &nOn) == 0;
}

bool IsConnectInProgress(int nError) {
    return nError == WSAEWOULDBLOCK;
}

int WaitConnectOutcome(SOCKET s, int nTimeoutMs) {
    // A connect that succeeds makes the socket writable; one that fails reports it in the
    // exception set.
    fd_set setWrite, setError;
    FD_ZERO(&setWrite);
    FD_ZERO(&setError);
    FD_SET(s, &setWrite);
    FD_SET(s, &setError);
    timeval tv{nTimeoutMs / 1000, (nTimeoutMs % 1000) * 1000};
    return ::select(0, nullptr, &setWrite, &setError, &tv) > 0 ? 1 : 0;
}

int PendingSocketError(SOCKET s) {
    int nErr = 0;
    int nLen = sizeof(nErr);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&nErr), &nLen) != 0)
        return ::WSAGetLastError();
    return nErr;
}

void LimitSendBufferForLocalPeer(SOCKET s) {
    (void)s;
}

void SetIdleTimeout(SOCKET s, int nSeconds) {
    DWORD dwMs = static_cast<DWORD>(nSeconds) * 1000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwMs), sizeof(dwMs));
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&dwMs), sizeof(dwMs));
}

namespace {

// TCP_INFO_v0 of Windows 10 1703 and later. The build targets Windows 7, where the
// headers hide it; older systems refuse the control code at run time.
#ifndef SIO_TCP_INFO
#define SIO_TCP_INFO _WSAIORW(IOC_VENDOR, 39)
#endif
struct CTcpInfoV0 {
    int nState;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};

} // namespace

bool GetSmoothedRttMs(SOCKET s, double& dRttMs) {
    DWORD dwVersion = 0;
    CTcpInfoV0 info{};
    DWORD dwBytes = 0;
    if (::WSAIoctl(s, SIO_TCP_INFO, &dwVersion, sizeof(dwVersion), &info, sizeof(info), &dwBytes,
                   nullptr, nullptr) != 0 ||
        info.RttUs == 0)
        return false;
    dRttMs = info.RttUs / 1000.0;
    return true;
}

void AllowPortReuse(SOCKET) {
    // SO_REUSEADDR on Windows lets another process bind the same port: leave the default.
}

SOCKET AcceptSocket(SOCKET sListen) {
    return ::accept(sListen, nullptr, nullptr);
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
