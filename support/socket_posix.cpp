// POSIX side of the socket shim.
#include "support/socket_native.h"

#include "support/platform.h"

#include <csignal>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>

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

void SetResolveError(int nResult) {
    // Resolver codes are negative and never collide with errno values; GetErrorText
    // knows to ask gai_strerror for them.
    if (nResult == EAI_SYSTEM && errno != 0)
        return;
    errno = nResult != 0 ? nResult : EAI_NONAME;
}

std::vector<std::string> ListInterfaceAddresses() {
    std::vector<std::string> vecOut;
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0)
        return vecOut;
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || (p->ifa_flags & IFF_UP) == 0)
            continue;
        const int nFamily = p->ifa_addr->sa_family;
        if (nFamily != AF_INET && nFamily != AF_INET6)
            continue;
        char szHost[NI_MAXHOST];
        const socklen_t nLen = nFamily == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (::getnameinfo(p->ifa_addr, nLen, szHost, sizeof(szHost), nullptr, 0, NI_NUMERICHOST) ==
            0)
            vecOut.emplace_back(szHost);
    }
    ::freeifaddrs(pList);
    return vecOut;
}
