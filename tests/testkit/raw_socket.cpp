#include "testkit/raw_socket.h"

#include <asio/ip/tcp.hpp>

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The socket address of a literal ("127.0.0.1", "::1") and a port, in either family.
asio::ip::tcp::endpoint Endpoint(const std::string& strHost, int nPort) {
    asio::error_code ec;
    return {asio::ip::make_address(strHost, ec), static_cast<unsigned short>(nPort)};
}

} // namespace

bool CRawSocket::Connect(int nPort, const std::string& strHost, const std::string& strFrom,
                         int nRecvBuffer) {
    Close();
    const auto to = Endpoint(strHost, nPort), from = Endpoint(strFrom, 0);
    m_fd = ::socket(to.protocol().family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nRecvBuffer > 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &nRecvBuffer, sizeof(nRecvBuffer));
    return m_fd >= 0 && (strFrom.empty() || ::bind(m_fd, from.data(), from.size()) == 0) &&
           ::connect(m_fd, to.data(), to.size()) == 0;
}

int CRawSocket::LocalPort() const {
    asio::ip::tcp::endpoint local;
    socklen_t nLen = static_cast<socklen_t>(local.capacity());
    ::getsockname(m_fd, local.data(), &nLen);
    return local.port();
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
    const linger lg{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg)); // no socket: fails harmlessly
    Close();
}

void CRawSocket::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

CLoopbackPort::CLoopbackPort(bool bListen, int nBacklog) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    asio::ip::tcp::endpoint local = Endpoint("127.0.0.1", 0);
    socklen_t nLen = static_cast<socklen_t>(local.capacity());
    if (m_fd >= 0 && ::bind(m_fd, local.data(), local.size()) == 0 &&
        (!bListen || ::listen(m_fd, nBacklog) == 0) &&
        ::getsockname(m_fd, local.data(), &nLen) == 0)
        m_nPort = local.port(); // else 0, and the destructor closes the socket
}

CLoopbackPort::~CLoopbackPort() {
    if (m_fd >= 0)
        ::close(m_fd);
}
