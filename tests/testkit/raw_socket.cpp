#include "testkit/raw_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The address of a literal and a port; its length, 0 for anything but a literal.
socklen_t MakeAddress(const std::string& strHost, int nPort, sockaddr_storage& ss) {
    ss = {};
    auto* p4 = reinterpret_cast<sockaddr_in*>(&ss);
    auto* p6 = reinterpret_cast<sockaddr_in6*>(&ss);
    const uint16_t nNetPort = htons(static_cast<uint16_t>(nPort));
    if (::inet_pton(AF_INET, strHost.c_str(), &p4->sin_addr) == 1) {
        p4->sin_family = AF_INET;
        p4->sin_port = nNetPort;
        return sizeof(*p4);
    }
    if (::inet_pton(AF_INET6, strHost.c_str(), &p6->sin6_addr) == 1) {
        p6->sin6_family = AF_INET6;
        p6->sin6_port = nNetPort;
        return sizeof(*p6);
    }
    return 0;
}

sockaddr* Raw(sockaddr_storage& ss) {
    return reinterpret_cast<sockaddr*>(&ss);
}

} // namespace

bool CRawSocket::Connect(int nPort, const std::string& strHost, const std::string& strFrom) {
    Close();
    sockaddr_storage to, from;
    const socklen_t nTo = MakeAddress(strHost, nPort, to);
    m_fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return m_fd >= 0 && nTo != 0 &&
           (strFrom.empty() || ::bind(m_fd, Raw(from), MakeAddress(strFrom, 0, from)) == 0) &&
           ::connect(m_fd, Raw(to), nTo) == 0;
}

int CRawSocket::LocalPort() const {
    sockaddr_storage ss{};
    socklen_t nLen = sizeof(ss);
    ::getsockname(m_fd, Raw(ss), &nLen);
    // sin6_port lies where sin_port does.
    return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

bool CRawSocket::Send(const std::string& strData) {
    for (size_t nDone = 0; nDone < strData.size();) {
        const ssize_t n =
            ::send(m_fd, strData.data() + nDone, strData.size() - nDone, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

std::string CRawSocket::Recv(size_t nMax, bool* pbClosed, std::chrono::milliseconds timeout) {
    std::string strData;
    bool bClosed = false;
    const auto tEnd = std::chrono::steady_clock::now() + timeout;
    char szBuf[65536];
    while (strData.size() < nMax) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                               tEnd - std::chrono::steady_clock::now())
                               .count();
        pollfd pfd{m_fd, POLLIN, 0};
        if (nLeft <= 0 || ::poll(&pfd, 1, static_cast<int>(nLeft)) <= 0)
            break;
        const ssize_t n = ::recv(m_fd, szBuf, std::min(sizeof(szBuf), nMax - strData.size()), 0);
        bClosed = n <= 0;
        if (bClosed)
            break;
        strData.append(szBuf, static_cast<size_t>(n));
    }
    if (pbClosed != nullptr)
        *pbClosed = bClosed;
    return strData;
}

void CRawSocket::Reset() {
    if (m_fd >= 0) {
        linger lg{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    }
    Close();
}

void CRawSocket::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

CLoopbackPort::CLoopbackPort(bool bListen, int nBacklog) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage ss;
    socklen_t nLen = MakeAddress("127.0.0.1", 0, ss);
    if (m_fd >= 0 && ::bind(m_fd, Raw(ss), nLen) == 0 &&
        (!bListen || ::listen(m_fd, nBacklog) == 0) && ::getsockname(m_fd, Raw(ss), &nLen) == 0) {
        m_nPort = ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    } else if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

CLoopbackPort::~CLoopbackPort() {
    if (m_fd >= 0)
        ::close(m_fd);
}
