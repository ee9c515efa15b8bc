// Windows side of the socket shim (Winsock 2).
#include "support/socket_native.h"

#include <iphlpapi.h>

#include <memory>

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

void SetResolveError(int nResult) {
    ::WSASetLastError(nResult != 0 ? nResult : WSAHOST_NOT_FOUND);
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

CTcpFigures GetTcpFigures(SOCKET s) {
    CTcpFigures figures;
    DWORD dwVersion = 0;
    CTcpInfoV0 info{};
    DWORD dwBytes = 0;
    if (::WSAIoctl(s, SIO_TCP_INFO, &dwVersion, sizeof(dwVersion), &info, sizeof(info), &dwBytes,
                   nullptr, nullptr) != 0)
        return figures;
    if (info.RttUs != 0)
        figures.dRttMs = info.RttUs / 1000.0;
    // What left the socket less what is still on its way is what the peer acknowledged.
    if (info.BytesOut >= info.BytesInFlight)
        figures.nBytesAcked = info.BytesOut - info.BytesInFlight;
    return figures;
}

std::vector<std::string> ListInterfaceAddresses() {
    std::vector<std::string> vecOut;
    const ULONG nFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                         GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    // The list's size is known only by asking: it may grow between the two calls.
    ULONG nSize = 16 * 1024;
    std::unique_ptr<unsigned char[]> pBuf;
    ULONG nRet = ERROR_BUFFER_OVERFLOW;
    for (int nTry = 0; nTry < 3 && nRet == ERROR_BUFFER_OVERFLOW; ++nTry) {
        pBuf = std::make_unique<unsigned char[]>(nSize);
        nRet = ::GetAdaptersAddresses(AF_UNSPEC, nFlags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(pBuf.get()), &nSize);
    }
    if (nRet != NO_ERROR)
        return vecOut;
    for (auto* p = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(pBuf.get()); p != nullptr;
         p = p->Next) {
        if (p->OperStatus != IfOperStatusUp)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* pAddr = p->FirstUnicastAddress; pAddr != nullptr;
             pAddr = pAddr->Next) {
            const SOCKET_ADDRESS& sa = pAddr->Address;
            char szHost[NI_MAXHOST];
            if (::getnameinfo(sa.lpSockaddr, sa.iSockaddrLength, szHost, sizeof(szHost), nullptr, 0,
                              NI_NUMERICHOST) == 0)
                vecOut.emplace_back(szHost);
        }
    }
    return vecOut;
}
