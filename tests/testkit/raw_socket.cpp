#include "testkit/raw_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

} // namespace

bool CRawSocket::Connect(int nPort) {
    Close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(nPort);
    return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
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
    sockaddr_in sa = Loopback(0);
    socklen_t nLen = sizeof(sa);
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 &&
        (!bListen || ::listen(m_fd, nBacklog) == 0) &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &nLen) == 0) {
        m_nPort = ntohs(sa.sin_port);
    } else if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

CLoopbackPort::~CLoopbackPort() {
    if (m_fd >= 0)
        ::close(m_fd);
}
