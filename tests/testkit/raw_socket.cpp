#include "testkit/raw_socket.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool CRawSocket::Connect(int nPort) {
    Close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

bool CRawSocket::Send(const std::string& strData) {
    size_t nDone = 0;
    while (nDone < strData.size()) {
        ssize_t n = ::send(m_fd, strData.data() + nDone, strData.size() - nDone, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

// Receives until nMax bytes, the peer's close or the deadline, handing each chunk to fn.
template <typename Fn>
static size_t ReceiveUntil(int fd, size_t nMax, std::chrono::milliseconds timeout, bool& bClosed,
                           Fn fn) {
    bClosed = false;
    size_t nTotal = 0;
    auto tEnd = std::chrono::steady_clock::now() + timeout;
    char szBuf[65536];
    while (nTotal < nMax) {
        auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                         tEnd - std::chrono::steady_clock::now())
                         .count();
        pollfd pfd{fd, POLLIN, 0};
        if (nLeft <= 0 || ::poll(&pfd, 1, static_cast<int>(nLeft)) <= 0)
            break;
        size_t nWant = nMax - nTotal < sizeof(szBuf) ? nMax - nTotal : sizeof(szBuf);
        ssize_t n = ::recv(fd, szBuf, nWant, 0);
        if (n <= 0) {
            bClosed = true;
            break;
        }
        fn(szBuf, static_cast<size_t>(n));
        nTotal += static_cast<size_t>(n);
    }
    return nTotal;
}

std::string CRawSocket::Recv(size_t nMax, std::chrono::milliseconds timeout, bool& bClosed) {
    std::string strData;
    ReceiveUntil(m_fd, nMax, timeout, bClosed,
                 [&](const char* p, size_t n) { strData.append(p, n); });
    return strData;
}

size_t CRawSocket::Drain(size_t nMax, std::chrono::milliseconds timeout, bool& bClosed) {
    return ReceiveUntil(m_fd, nMax, timeout, bClosed, [](const char*, size_t) {});
}

void CRawSocket::Reset() {
    if (m_fd < 0)
        return;
    linger lg{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    ::close(m_fd);
    m_fd = -1;
}

void CRawSocket::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

CLoopbackPort::CLoopbackPort(bool bListen, int nBacklog) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(sa);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 ||
        (bListen && ::listen(m_fd, nBacklog) != 0) ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &nLen) != 0) {
        Close();
        return;
    }
    m_nPort = ntohs(sa.sin_port);
}

void CLoopbackPort::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int ClosedLoopbackPort() {
    CLoopbackPort port(false);
    return port.Port();
}

int CountOpenDescriptors() {
    int nCount = 0;
    DIR* pDir = ::opendir("/proc/self/fd");
    if (pDir == nullptr)
        return -1;
    while (dirent* pEntry = ::readdir(pDir)) {
        if (pEntry->d_name[0] != '.')
            ++nCount;
    }
    ::closedir(pDir);
    return nCount - 1; // the directory stream itself
}
