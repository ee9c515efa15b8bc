// The parts of the socket shim that read the same on every platform.
#include "support/socket_native.h"

#include "support/ascii.h"
#include "support/socket_stream.h"

#include <cstring>

int ResolveHost(const std::string& strHost, int nPort,
                std::vector<asio::ip::tcp::endpoint>& vecOut) {
    vecOut.clear();
    std::string strBare = strHost;
    if (strBare.size() > 2 && strBare.front() == '[' && strBare.back() == ']')
        strBare = strBare.substr(1, strBare.size() - 2);
    // Loopback names are this host on both families, whatever the hosts file says (RFC
    // 6761): a server listening on either loopback address is found.
    const std::string_view name(strBare);
    if (EqualsNoCaseAscii(name, "localhost") ||
        (name.size() > 10 && EqualsNoCaseAscii(name.substr(name.size() - 10), ".localhost"))) {
        const auto nPortValue = static_cast<unsigned short>(nPort);
        vecOut.emplace_back(asio::ip::address_v6::loopback(), nPortValue);
        vecOut.emplace_back(asio::ip::address_v4::loopback(), nPortValue);
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* pResult = nullptr;
    int nRet = ::getaddrinfo(strBare.c_str(), nullptr, &hints, &pResult);
    if (nRet == EAI_NONAME || nRet == EAI_FAIL) {
        // Without a configured address of a family (a machine with loopback alone), the
        // flag hides that family's literals too: ask again without it.
        hints.ai_flags = 0;
        nRet = ::getaddrinfo(strBare.c_str(), nullptr, &hints, &pResult);
    }
    if (nRet != 0 || pResult == nullptr) {
        SetResolveError(nRet);
        return GetLastSocketError();
    }
    for (const addrinfo* p = pResult; p != nullptr; p = p->ai_next) {
        if (p->ai_family != AF_INET && p->ai_family != AF_INET6)
            continue;
        asio::ip::tcp::endpoint endpoint;
        std::memcpy(endpoint.data(), p->ai_addr, p->ai_addrlen);
        endpoint.resize(p->ai_addrlen);
        endpoint.port(static_cast<unsigned short>(nPort));
        vecOut.push_back(endpoint);
    }
    ::freeaddrinfo(pResult);
    if (vecOut.empty()) {
        SetResolveError(0);
        return GetLastSocketError();
    }
    return 0;
}
