// Many sessions against one server from one thread with non-blocking sockets (epoll), so
// that the load itself is never the bottleneck. Linux only: a measuring tool for the bench
// scripts (load_bench.py). Four uses:
//
// tachyra-session-load PORT N SECONDS [download|upload|websocket|idle] [HOST] [options]
//   N sessions: raw downloads ("EST", mode 1, every byte read and dropped), raw uploads
//   ("EST", mode 0, then writes as fast as the server takes them), WebSocket streams (an
//   upgrade request, then frames read and checked) or idle connections that send nothing.
//   --speak-after S  open every connection first and say nothing; S seconds after the last
//                    connect has ended, every session sends its first bytes at once
//   --spread K       K connections per client source address, taken from 127.0.2.1 on
//                    (127.0.2.1 ... 127.0.2.254, 127.0.3.1, ...), so that no one address
//                    runs short of ephemeral ports; 0 (the default) leaves it to the system
//   Prints "connected C of N in T s" once every connect has ended, then, SECONDS after the
//   sessions spoke, one "key value" line per figure and "done": sessions with data, bytes,
//   open (connections the server has not ended), the least and the median bytes of one
//   session, for downloads and WebSocket streams the median and the longest wait from a
//   session's first bytes to its first data, and for uploads what the server's side of each
//   connection has read (from the kernel's socket table). It keeps every connection open (still
//   reading or writing) until its standard input reaches a line or its end, or kHoldLimit, then
//   resets them all, prints "closed" and exits.
//
// tachyra-session-load burst PORT N [TIMEOUT]
//   Issues N non-blocking connects at once and reports when all of them have completed and
//   when the listening side has accepted all of them (its sockets of PORT that have become
//   the accepting process's own, seen in the kernel's socket table), and how many were reset.
//   The connections stay silent, except that one not yet accepted half a second after the
//   burst sends one byte: the listening side may otherwise never learn of it.
//
// tachyra-session-load acceptor
//   The smallest server there is, for comparison: listens on a free 127.0.0.1 port (backlog
//   256, printed as "listening on port N"), accepts until EAGAIN on every wake-up and keeps
//   what it accepted, until its standard input has a line or ends (or kHoldLimit).
//
// tachyra-session-load crowd PORT [PEERS] [PROBES]
//   A crowd of slow peers (default 200), each from its own source address (127.0.1.1 on),
//   each sending one byte every 2 s ("EST", upload mode, then one byte at a time), and next
//   to it a fresh raw download from 127.0.0.9 tried every 0.5 s (default 20 tries, one more
//   before the crowd comes): which tries got data and when the crowd was ended.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#ifndef IP_BIND_ADDRESS_NO_PORT
#define IP_BIND_ADDRESS_NO_PORT 24
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Connects under way at once when opening sessions: more would only overflow the server's
// accept backlog and cost a one-second SYN retry each. The burst ignores it on purpose.
const int kConnectsInFlight = 200;
// The longest any use holds its connections waiting for its standard input: the tool ends
// by itself even when whoever started it does not.
const double kHoldLimit = 120.0;
// TCP states as the kernel's socket table numbers them.
const int kTcpEstablished = 1;
const int kTcpCloseWait = 8;

double SecondsSince(Clock::time_point tStart) {
    return std::chrono::duration<double>(Clock::now() - tStart).count();
}

void RaiseOwnDescriptorLimit(size_t nWanted) {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0)
        return;
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    if (rl.rlim_cur < nWanted) {
        // Root may raise the hard limit too.
        rlimit raised{nWanted, nWanted};
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            rl = raised;
    }
    if (rl.rlim_cur < nWanted)
        std::fprintf(stderr, "descriptor limit %lu is below the %lu wanted\n",
                     static_cast<unsigned long>(rl.rlim_cur), static_cast<unsigned long>(nWanted));
}

// 127.0.2.1 on for spread connections: index 0 is 127.0.2.1, 253 is 127.0.2.254, 254 is
// 127.0.3.1. Network byte order.
in_addr_t SpreadSource(size_t nIndex) {
    const size_t nThird = 2 + nIndex / 254;
    const size_t nFourth = 1 + nIndex % 254;
    return htonl((127u << 24) | (static_cast<uint32_t>(nThird & 0xff) << 8) |
                 static_cast<uint32_t>(nFourth));
}

// A non-blocking TCP socket, bound to a source address when one is given (the port is left
// to connect, which picks one that is free for this destination).
int OpenClientSocket(in_addr_t nSource) {
    const int nFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (nFd < 0 || nSource == 0)
        return nFd;
    const int nOne = 1;
    setsockopt(nFd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &nOne, sizeof(nOne));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = nSource;
    if (bind(nFd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        const int nError = errno;
        close(nFd);
        errno = nError;
        return -1;
    }
    return nFd;
}

// Starts a connect; false (errno set) when it failed at once.
bool StartConnect(int nFd, const sockaddr_in& sa) {
    return connect(nFd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0 ||
           errno == EINPROGRESS;
}

int ConnectError(int nFd) {
    int nError = 0;
    socklen_t nLen = sizeof(nError);
    if (getsockopt(nFd, SOL_SOCKET, SO_ERROR, &nError, &nLen) != 0)
        return errno;
    return nError;
}

// Closes with a reset: no TIME_WAIT left behind, and a server blocked sending into the
// connection learns at once.
void ResetClose(int nFd) {
    linger lg{1, 0};
    setsockopt(nFd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    close(nFd);
}

bool SendAllNow(int nFd, const char* p, size_t n) {
    return send(nFd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(n);
}

// One connection of a listening port as the kernel's socket table shows it.
struct CServerSocket {
    uint32_t nPeerAddr = 0; // network byte order
    uint16_t nPeerPort = 0; // network byte order
    uint32_t nInode = 0;    // 0 while the connection waits in the accept queue
    uint64_t nAppRead = 0;  // bytes the owning process has read (with bInfo)
};

// The established connections whose local port is nPort (the server's side of each), read
// through sock_diag with a port filter. False when the socket table cannot be read.
bool DumpServerSockets(uint16_t nPort, bool bInfo, std::vector<CServerSocket>& vecOut) {
    vecOut.clear();
    const int nFd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nFd < 0)
        return false;
    struct {
        nlmsghdr nlh;
        inet_diag_req_v2 req;
        rtattr rta;
        inet_diag_bc_op ops[4];
    } msg{};
    static_assert(sizeof(msg) == NLMSG_LENGTH(sizeof(inet_diag_req_v2)) + RTA_LENGTH(16),
                  "the request must be packed as the kernel reads it");
    msg.nlh.nlmsg_len = sizeof(msg);
    msg.nlh.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    msg.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    msg.req.sdiag_family = AF_INET;
    msg.req.sdiag_protocol = IPPROTO_TCP;
    msg.req.idiag_states = (1u << kTcpEstablished) | (1u << kTcpCloseWait);
    msg.req.idiag_ext = bInfo ? static_cast<uint8_t>(1u << (INET_DIAG_INFO - 1)) : 0;
    msg.rta.rta_type = INET_DIAG_REQ_BYTECODE;
    msg.rta.rta_len = RTA_LENGTH(sizeof(msg.ops));
    // sport >= nPort, then sport <= nPort: a "no" jumps past the end, which rejects.
    msg.ops[0] = {INET_DIAG_BC_S_GE, 8, 20};
    msg.ops[1] = {0, 0, nPort};
    msg.ops[2] = {INET_DIAG_BC_S_LE, 8, 12};
    msg.ops[3] = {0, 0, nPort};
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(nFd, &msg, sizeof(msg), 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof(kernel)) != static_cast<ssize_t>(sizeof(msg))) {
        close(nFd);
        return false;
    }
    std::vector<char> vecBuf(256 * 1024);
    bool bOk = false;
    for (bool bDone = false; !bDone;) {
        const ssize_t nRead = recv(nFd, vecBuf.data(), vecBuf.size(), 0);
        if (nRead <= 0)
            break;
        int nLeft = static_cast<int>(nRead);
        for (auto* nlh = reinterpret_cast<nlmsghdr*>(vecBuf.data()); NLMSG_OK(nlh, nLeft);
             nlh = NLMSG_NEXT(nlh, nLeft)) {
            if (nlh->nlmsg_type == NLMSG_DONE) {
                bOk = bDone = true;
                break;
            }
            if (nlh->nlmsg_type == NLMSG_ERROR) {
                bDone = true;
                break;
            }
            const auto* r = static_cast<const inet_diag_msg*>(NLMSG_DATA(nlh));
            CServerSocket entry;
            entry.nPeerAddr = r->id.idiag_dst[0];
            entry.nPeerPort = r->id.idiag_dport;
            entry.nInode = r->idiag_inode;
            int nAttrLen = static_cast<int>(nlh->nlmsg_len - NLMSG_LENGTH(sizeof(*r)));
            for (auto* rta = reinterpret_cast<rtattr*>(
                     const_cast<char*>(reinterpret_cast<const char*>(r)) + NLMSG_ALIGN(sizeof(*r)));
                 RTA_OK(rta, nAttrLen); rta = RTA_NEXT(rta, nAttrLen)) {
                if (rta->rta_type != INET_DIAG_INFO)
                    continue;
                tcp_info info{};
                std::memcpy(&info, RTA_DATA(rta),
                            std::min(sizeof(info), static_cast<size_t>(RTA_PAYLOAD(rta))));
                entry.nAppRead = info.tcpi_bytes_received > r->idiag_rqueue
                                     ? info.tcpi_bytes_received - r->idiag_rqueue
                                     : 0;
            }
            vecOut.push_back(entry);
        }
    }
    close(nFd);
    return bOk;
}

uint64_t PeerKey(uint32_t nAddr, uint16_t nPort) {
    return (static_cast<uint64_t>(nAddr) << 16) | nPort;
}

// ---------------------------------------------------------------------------------------
// Sessions

enum class EMode { kDownload, kUpload, kWebSocket, kIdle };

struct CLoadSession {
    int nFd = -1;
    bool bConnecting = false;
    bool bConnected = false;
    bool bSpoken = false;
    bool bGotData = false;
    bool bBad = false;      // a WebSocket answer or frame that is not what the stream sends
    uint64_t nBytes = 0;    // read (download), payload read (WebSocket) or sent (upload)
    double dSpoke = 0;      // when it sent its first bytes, from the load's start
    double dFirstData = -1; // how long after that its first data came
    // WebSocket: the answer's head is read up to its blank line, then the frames.
    bool bHeadDone = false;
    uint8_t nHeadPos = 0;    // bytes of the status line checked (up to its 12)
    uint8_t nEndMatched = 0; // bytes of "\r\n\r\n" matched
    uint8_t nFrameHead = 0;  // bytes of the current frame's head read
    uint8_t nFrameHeadLen = 2;
    uint8_t frameHead[10] = {};
    uint64_t nPayloadLeft = 0;
};

class CLoad {
public:
    CLoad(const sockaddr_in& sa, size_t nSessions, EMode mode, size_t nSpread, bool bSpeakOnConnect)
        : m_sa(sa), m_vecSessions(nSessions), m_mode(mode), m_nSpread(nSpread),
          m_bSpeakOnConnect(bSpeakOnConnect), m_nEpoll(epoll_create1(EPOLL_CLOEXEC)),
          m_vecBuffer(256 * 1024, 'x') {
        char szHost[64];
        std::snprintf(szHost, sizeof(szHost), "%s:%u", inet_ntoa(sa.sin_addr),
                      static_cast<unsigned>(ntohs(sa.sin_port)));
        m_strUpgrade = std::string("GET / HTTP/1.1\r\nHost: ") + szHost +
                       "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       "Sec-WebSocket-Version: 13\r\n\r\n";
    }

    // Opens every connection, keeping kConnectsInFlight connects under way.
    void ConnectAll() {
        size_t nNext = 0;
        while (m_nEnded < m_vecSessions.size()) {
            while (m_nInFlight < kConnectsInFlight && nNext < m_vecSessions.size()) {
                if (Open(nNext))
                    ++m_nInFlight;
                else
                    ++m_nEnded;
                ++nNext;
            }
            Poll(100);
        }
    }

    // Every open session sends its first bytes now.
    void SpeakAll() {
        for (size_t i = 0; i < m_vecSessions.size(); ++i)
            Speak(i);
    }

    // Reads (and writes) whatever there is for the given time.
    void Run(double dSeconds) {
        const auto tStart = Clock::now();
        while (SecondsSince(tStart) < dSeconds)
            Poll(50);
    }

    // Reads on until standard input has a line or ends, or kHoldLimit has passed.
    void HoldUntilStdin() {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kStdinTag;
        epoll_ctl(m_nEpoll, EPOLL_CTL_ADD, 0, &ev);
        const auto tStart = Clock::now();
        while (!m_bStdinReady && SecondsSince(tStart) < kHoldLimit)
            Poll(200);
    }

    void CloseAll() {
        for (CLoadSession& session : m_vecSessions) {
            if (session.nFd >= 0)
                ResetClose(session.nFd);
            session.nFd = -1;
        }
    }

    size_t Connected() const {
        return Count([](const CLoadSession& s) { return s.bConnected; });
    }
    size_t Open() const {
        return Count([](const CLoadSession& s) { return s.nFd >= 0; });
    }
    size_t WithData() const {
        return Count([](const CLoadSession& s) { return s.bGotData; });
    }
    size_t Bad() const {
        return Count([](const CLoadSession& s) { return s.bBad; });
    }
    // Sessions the server ended before they spoke.
    size_t EndedUnspoken() const {
        return Count([](const CLoadSession& s) { return s.bConnected && !s.bSpoken && s.nFd < 0; });
    }
    // The median and the longest wait from speaking to the first data, over the sessions
    // that got data.
    void FirstDataWait(double& dMedian, double& dLongest) const {
        std::vector<double> vec;
        for (const CLoadSession& s : m_vecSessions)
            if (s.dFirstData >= 0)
                vec.push_back(s.dFirstData);
        dMedian = dLongest = -1;
        if (vec.empty())
            return;
        std::sort(vec.begin(), vec.end());
        dMedian = vec[vec.size() / 2];
        dLongest = vec.back();
    }
    unsigned long long Bytes() const { return m_nBytes; }
    unsigned long long Frames() const { return m_nFrames; }
    int FirstError() const { return m_nFirstError; }

    // The least and the median bytes of the sessions that connected.
    void Spread(uint64_t& nLeast, uint64_t& nMedian) const {
        std::vector<uint64_t> vec;
        for (const CLoadSession& s : m_vecSessions)
            if (s.bConnected)
                vec.push_back(s.nBytes);
        nLeast = nMedian = 0;
        if (vec.empty())
            return;
        std::sort(vec.begin(), vec.end());
        nLeast = vec.front();
        nMedian = vec[vec.size() / 2];
    }

private:
    static const uint64_t kStdinTag = ~uint64_t{0};

    template <typename F> size_t Count(F fn) const {
        size_t n = 0;
        for (const CLoadSession& s : m_vecSessions)
            n += fn(s) ? 1 : 0;
        return n;
    }

    void NoteError(int nError) {
        if (m_nFirstError == 0)
            m_nFirstError = nError;
    }

    bool Open(size_t i) {
        CLoadSession& session = m_vecSessions[i];
        session.nFd = OpenClientSocket(m_nSpread > 0 ? SpreadSource(i / m_nSpread) : 0);
        if (session.nFd < 0) {
            NoteError(errno);
            return false;
        }
        if (!StartConnect(session.nFd, m_sa)) {
            NoteError(errno);
            Drop(session);
            return false;
        }
        session.bConnecting = true;
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(m_nEpoll, EPOLL_CTL_ADD, session.nFd, &ev);
        return true;
    }

    void Drop(CLoadSession& session) {
        if (session.nFd >= 0)
            close(session.nFd);
        session.nFd = -1;
    }

    void Speak(size_t i) {
        CLoadSession& session = m_vecSessions[i];
        if (session.nFd < 0 || !session.bConnected || session.bSpoken)
            return;
        session.bSpoken = true;
        session.dSpoke = SecondsSince(m_tStart);
        static const char kDownload[4] = {'E', 'S', 'T', 1};
        static const char kUpload[4] = {'E', 'S', 'T', 0};
        bool bSent = true;
        switch (m_mode) {
        case EMode::kDownload:
            bSent = SendAllNow(session.nFd, kDownload, sizeof(kDownload));
            break;
        case EMode::kUpload:
            bSent = SendAllNow(session.nFd, kUpload, sizeof(kUpload));
            break;
        case EMode::kWebSocket:
            bSent = SendAllNow(session.nFd, m_strUpgrade.data(), m_strUpgrade.size());
            break;
        case EMode::kIdle:
            break;
        }
        if (!bSent) {
            NoteError(errno);
            Drop(session);
            return;
        }
        epoll_event ev{};
        ev.events = m_mode == EMode::kUpload ? (EPOLLIN | EPOLLOUT) : EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(m_nEpoll, EPOLL_CTL_MOD, session.nFd, &ev);
    }

    // The WebSocket answer and frames as they arrive: the status line must say 101, the
    // frames must be unmasked text or binary frames; payload bytes are counted.
    void TakeWebSocket(CLoadSession& session, const unsigned char* p, size_t n) {
        static const char kStatus[] = "HTTP/1.1 101";
        static const char kEnd[] = "\r\n\r\n";
        size_t k = 0;
        while (k < n && !session.bHeadDone) {
            const unsigned char ch = p[k++];
            if (session.nHeadPos < sizeof(kStatus) - 1) {
                if (ch != static_cast<unsigned char>(kStatus[session.nHeadPos]))
                    session.bBad = true;
                ++session.nHeadPos;
            }
            session.nEndMatched = ch == static_cast<unsigned char>(kEnd[session.nEndMatched])
                                      ? static_cast<uint8_t>(session.nEndMatched + 1)
                                      : (ch == '\r' ? 1 : 0);
            if (session.nEndMatched == 4)
                session.bHeadDone = true;
        }
        while (k < n) {
            if (session.nPayloadLeft > 0) {
                const uint64_t nTake = std::min<uint64_t>(session.nPayloadLeft, n - k);
                session.nPayloadLeft -= nTake;
                session.nBytes += nTake;
                k += nTake;
                if (!session.bBad)
                    session.bGotData = true;
                continue;
            }
            session.frameHead[session.nFrameHead++] = p[k++];
            if (session.nFrameHead == 2) {
                const unsigned nOpcode = session.frameHead[0] & 0x0f;
                if ((session.frameHead[1] & 0x80) != 0 || (nOpcode != 1 && nOpcode != 2))
                    session.bBad = true;
                const unsigned nLen7 = session.frameHead[1] & 0x7f;
                session.nFrameHeadLen = nLen7 == 126 ? 4 : (nLen7 == 127 ? 10 : 2);
            }
            if (session.nFrameHead < 2 || session.nFrameHead < session.nFrameHeadLen)
                continue;
            const unsigned nLen7 = session.frameHead[1] & 0x7f;
            uint64_t nLen = nLen7;
            if (nLen7 >= 126) {
                nLen = 0;
                for (unsigned b = 2; b < session.nFrameHeadLen; ++b)
                    nLen = (nLen << 8) | session.frameHead[b];
            }
            session.nPayloadLeft = nLen;
            session.nFrameHead = 0;
            ++m_nFrames;
        }
    }

    void Poll(int nTimeoutMs) {
        epoll_event events[512];
        const int n = epoll_wait(m_nEpoll, events, 512, nTimeoutMs);
        for (int k = 0; k < n; ++k) {
            if (events[k].data.u64 == kStdinTag) {
                m_bStdinReady = true;
                continue;
            }
            const size_t i = events[k].data.u64;
            CLoadSession& session = m_vecSessions[i];
            if (session.nFd < 0)
                continue;
            if (session.bConnecting) {
                session.bConnecting = false;
                --m_nInFlight;
                ++m_nEnded;
                const int nError = ConnectError(session.nFd);
                if (nError != 0) {
                    NoteError(nError);
                    Drop(session);
                    continue;
                }
                session.bConnected = true;
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.u64 = i;
                epoll_ctl(m_nEpoll, EPOLL_CTL_MOD, session.nFd, &ev);
                if (m_bSpeakOnConnect)
                    Speak(i);
                continue;
            }
            if ((events[k].events & EPOLLOUT) != 0 && m_mode == EMode::kUpload) {
                const ssize_t nSent =
                    send(session.nFd, m_vecBuffer.data(), 64 * 1024, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (nSent > 0) {
                    session.nBytes += static_cast<uint64_t>(nSent);
                    session.bGotData = true;
                    m_nBytes += static_cast<unsigned long long>(nSent);
                } else if (errno != EAGAIN && errno != EINTR) {
                    Drop(session);
                    continue;
                }
            }
            if ((events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) == 0)
                continue;
            // Readable: take what is there. An idle or upload connection only ever sees its end.
            const ssize_t nRead = recv(session.nFd, m_vecBuffer.data(), m_vecBuffer.size(), 0);
            if (nRead > 0) {
                m_nBytes += static_cast<unsigned long long>(nRead);
                if (m_mode == EMode::kWebSocket) {
                    TakeWebSocket(session,
                                  reinterpret_cast<const unsigned char*>(m_vecBuffer.data()),
                                  static_cast<size_t>(nRead));
                } else {
                    session.bGotData = true;
                    session.nBytes += static_cast<uint64_t>(nRead);
                }
                if (session.bGotData && session.dFirstData < 0)
                    session.dFirstData = SecondsSince(m_tStart) - session.dSpoke;
            } else if (nRead == 0 || (errno != EAGAIN && errno != EINTR)) {
                Drop(session);
            }
        }
    }

    sockaddr_in m_sa;
    std::vector<CLoadSession> m_vecSessions;
    EMode m_mode;
    size_t m_nSpread;
    bool m_bSpeakOnConnect;
    int m_nEpoll;
    std::vector<char> m_vecBuffer;
    std::string m_strUpgrade;
    int m_nInFlight = 0;
    size_t m_nEnded = 0;
    unsigned long long m_nBytes = 0;
    unsigned long long m_nFrames = 0;
    int m_nFirstError = 0;
    bool m_bStdinReady = false;
    const Clock::time_point m_tStart = Clock::now();
};

bool ParseAddress(const char* psz, sockaddr_in& sa) {
    return inet_pton(AF_INET, psz, &sa.sin_addr) == 1;
}

sockaddr_in LoopbackTarget(int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

int RunSessions(int argc, char** argv) {
    const int nPort = std::atoi(argv[1]);
    const size_t nSessions = static_cast<size_t>(std::atol(argv[2]));
    const double dSeconds = std::atof(argv[3]);
    EMode mode = EMode::kDownload;
    sockaddr_in sa = LoopbackTarget(nPort);
    double dSpeakAfter = 0;
    size_t nSpread = 0;
    int nPositional = 0;
    for (int i = 4; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--speak-after" && i + 1 < argc) {
            dSpeakAfter = std::atof(argv[++i]);
        } else if (strArg == "--spread" && i + 1 < argc) {
            nSpread = static_cast<size_t>(std::atol(argv[++i]));
        } else if (nPositional == 0) {
            ++nPositional;
            if (strArg == "upload")
                mode = EMode::kUpload;
            else if (strArg == "websocket")
                mode = EMode::kWebSocket;
            else if (strArg == "idle")
                mode = EMode::kIdle;
            else if (strArg != "download") {
                std::fprintf(stderr, "unknown mode %s\n", strArg.c_str());
                return 2;
            }
        } else if (nPositional == 1) {
            ++nPositional;
            if (!ParseAddress(strArg.c_str(), sa)) {
                std::fprintf(stderr, "not an IPv4 address\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "unknown argument %s\n", strArg.c_str());
            return 2;
        }
    }
    RaiseOwnDescriptorLimit(nSessions + 64);

    CLoad load(sa, nSessions, mode, nSpread, dSpeakAfter <= 0);
    const auto tStart = Clock::now();
    load.ConnectAll();
    std::printf("connected %zu of %zu in %.2f s", load.Connected(), nSessions,
                SecondsSince(tStart));
    if (load.FirstError() != 0)
        std::printf(" (first error: %s)", std::strerror(load.FirstError()));
    std::printf("\n");
    std::fflush(stdout);

    if (dSpeakAfter > 0) {
        load.Run(dSpeakAfter);
        load.SpeakAll();
    }
    load.Run(dSeconds);
    uint64_t nLeast = 0;
    uint64_t nMedian = 0;
    load.Spread(nLeast, nMedian);
    std::printf("sessions with data %zu\nbytes %llu\nopen %zu\nleast %llu\nmedian %llu\n",
                load.WithData(), load.Bytes(), load.Open(), static_cast<unsigned long long>(nLeast),
                static_cast<unsigned long long>(nMedian));
    if (dSpeakAfter > 0)
        std::printf("ended before speaking %zu\n", load.EndedUnspoken());
    if (mode == EMode::kDownload || mode == EMode::kWebSocket) {
        double dMedianWait = 0;
        double dLongestWait = 0;
        load.FirstDataWait(dMedianWait, dLongestWait);
        std::printf("first data median %.3f\nfirst data longest %.3f\n", dMedianWait, dLongestWait);
    }
    if (mode == EMode::kWebSocket)
        std::printf("frames %llu\nbad answers %zu\n", load.Frames(), load.Bad());
    if (mode == EMode::kUpload) {
        // What the server has taken, seen from its side of each connection: bytes its
        // process has read, beyond the four of the request.
        std::vector<CServerSocket> vec;
        if (DumpServerSockets(static_cast<uint16_t>(nPort), true, vec)) {
            size_t nRead = 0;
            uint64_t nServerLeast = ~uint64_t{0};
            for (const CServerSocket& s : vec) {
                nRead += s.nAppRead > 4 ? 1 : 0;
                nServerLeast = std::min(nServerLeast, s.nAppRead);
            }
            std::printf("server sockets %zu\nserver read %zu\nserver least %llu\n", vec.size(),
                        nRead, vec.empty() ? 0ULL : static_cast<unsigned long long>(nServerLeast));
        }
    }
    std::printf("done\n");
    std::fflush(stdout);

    load.HoldUntilStdin();
    load.CloseAll();
    std::printf("closed\n");
    return 0;
}

// ---------------------------------------------------------------------------------------
// Burst

int RunBurst(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s burst PORT N [TIMEOUT]\n", argv[0]);
        return 2;
    }
    const int nPort = std::atoi(argv[2]);
    const size_t nConnects = static_cast<size_t>(std::atol(argv[3]));
    const double dTimeout = argc > 4 ? std::atof(argv[4]) : 30.0;
    RaiseOwnDescriptorLimit(nConnects + 64);
    const sockaddr_in sa = LoopbackTarget(nPort);
    const int nEpoll = epoll_create1(EPOLL_CLOEXEC);

    std::vector<int> vecFd(nConnects, -1);
    std::vector<uint8_t> vecState(nConnects, 0); // 0 connecting, 1 connected, 2 failed or reset
    size_t nConnected = 0;
    size_t nFailed = 0;
    size_t nReset = 0;
    int nFirstError = 0;
    const auto tStart = Clock::now();
    for (size_t i = 0; i < nConnects; ++i) {
        vecFd[i] = OpenClientSocket(0);
        if (vecFd[i] < 0 || !StartConnect(vecFd[i], sa)) {
            if (nFirstError == 0)
                nFirstError = errno;
            if (vecFd[i] >= 0)
                close(vecFd[i]);
            vecFd[i] = -1;
            vecState[i] = 2;
            ++nFailed;
            continue;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = i;
        epoll_ctl(nEpoll, EPOLL_CTL_ADD, vecFd[i], &ev);
    }
    const double dIssued = SecondsSince(tStart);

    std::unordered_set<uint64_t> setAccepted;
    setAccepted.reserve(nConnects * 2);
    // Each connection's address as the listening side sees its peer, and whether it was
    // nudged: a connection whose handshake ended while the accept queue was full (a SYN
    // cookie, or its last ACK dropped) looks open here but is only taken up by the listening
    // side once data comes. So every connection not accepted kNudgeAfter after the burst
    // sends one byte, "E", as every client's first would be; the others stay silent, and
    // intake is all the server does for them.
    const double kNudgeAfter = 0.5;
    std::vector<uint64_t> vecKey(nConnects, 0);
    std::vector<uint8_t> vecNudged(nConnects, 0);
    double dLastNudge = dIssued;
    // How many were accepted by these points in time, for the progress line.
    const std::vector<double> kMarks = {0.2, 0.5, 1.0, 1.5, 2.0, 3.0};
    std::vector<size_t> vecAcceptedAt(kMarks.size(), 0);
    size_t nMark = 0;
    double dAllConnected = -1;
    double dAllAccepted = -1;
    bool bDiagOk = true;
    std::vector<CServerSocket> vecServer;
    auto tLastDiag = Clock::now() - std::chrono::seconds(1);
    while (SecondsSince(tStart) < dTimeout) {
        epoll_event events[512];
        const int n = epoll_wait(nEpoll, events, 512, 5);
        for (int k = 0; k < n; ++k) {
            const size_t i = events[k].data.u64;
            if (vecFd[i] < 0)
                continue;
            if (vecState[i] == 0) {
                const int nError = ConnectError(vecFd[i]);
                if (nError != 0) {
                    if (nFirstError == 0)
                        nFirstError = nError;
                    vecState[i] = 2;
                    ++nFailed;
                    close(vecFd[i]);
                    vecFd[i] = -1;
                    continue;
                }
                vecState[i] = 1;
                ++nConnected;
                sockaddr_in local{};
                socklen_t nLocalLen = sizeof(local);
                if (getsockname(vecFd[i], reinterpret_cast<sockaddr*>(&local), &nLocalLen) == 0)
                    vecKey[i] = PeerKey(local.sin_addr.s_addr, local.sin_port);
                epoll_event ev{};
                ev.events = EPOLLIN | EPOLLRDHUP;
                ev.data.u64 = i;
                epoll_ctl(nEpoll, EPOLL_CTL_MOD, vecFd[i], &ev);
                if (nConnected == nConnects && dAllConnected < 0)
                    dAllConnected = SecondsSince(tStart);
                if ((events[k].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0)
                    continue;
            }
            // A connected one that became readable: nothing is ever sent to it, so this is
            // its end.
            char ch;
            const ssize_t nRead = recv(vecFd[i], &ch, 1, MSG_DONTWAIT);
            if (nRead < 0 && errno == EAGAIN)
                continue;
            vecState[i] = 2;
            ++nReset;
            close(vecFd[i]);
            vecFd[i] = -1;
        }
        if (bDiagOk && std::chrono::duration<double>(Clock::now() - tLastDiag).count() >= 0.01) {
            tLastDiag = Clock::now();
            bDiagOk = DumpServerSockets(static_cast<uint16_t>(nPort), false, vecServer);
            for (const CServerSocket& s : vecServer)
                if (s.nInode != 0)
                    setAccepted.insert(PeerKey(s.nPeerAddr, s.nPeerPort));
            if (setAccepted.size() >= nConnects && dAllAccepted < 0)
                dAllAccepted = SecondsSince(tStart);
            const double dAt = SecondsSince(tStart);
            while (nMark < kMarks.size() && dAt >= kMarks[nMark])
                vecAcceptedAt[nMark++] = setAccepted.size();
        }
        if (dAllAccepted >= 0 && (dAllConnected >= 0 || nConnected + nFailed + nReset >= nConnects))
            break;
        const double dNow = SecondsSince(tStart);
        if (dNow - dLastNudge >= kNudgeAfter) {
            dLastNudge = dNow;
            for (size_t i = 0; i < nConnects; ++i) {
                if (vecState[i] != 1 || vecNudged[i] != 0 || setAccepted.count(vecKey[i]) != 0)
                    continue;
                vecNudged[i] = 1;
                send(vecFd[i], "E", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            }
        }
    }
    std::printf("issued %zu in %.3f s\n", nConnects, dIssued);
    std::printf("connected %zu in %.3f\n", nConnected, dAllConnected);
    std::printf("accepted %zu in %.3f\n", setAccepted.size(), dAllAccepted);
    std::printf("accepted by");
    for (size_t k = 0; k < kMarks.size(); ++k)
        std::printf(" %.1fs:%zu", kMarks[k], k < nMark ? vecAcceptedAt[k] : setAccepted.size());
    std::printf("\n");
    std::printf("failed %zu\nreset %zu\n", nFailed, nReset);
    std::printf("nudged %zu\n",
                static_cast<size_t>(std::count(vecNudged.begin(), vecNudged.end(), 1)));
    if (!bDiagOk)
        std::printf("socket table unreadable\n");
    if (nFirstError != 0)
        std::printf("first error %s\n", std::strerror(nFirstError));
    std::printf("done\n");
    std::fflush(stdout);
    for (int nFd : vecFd)
        if (nFd >= 0)
            ResetClose(nFd);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Acceptor

int RunAcceptor() {
    RaiseOwnDescriptorLimit(16384);
    const int nListen = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa = LoopbackTarget(0);
    socklen_t nLen = sizeof(sa);
    if (nListen < 0 || bind(nListen, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0 ||
        listen(nListen, 256) != 0 ||
        getsockname(nListen, reinterpret_cast<sockaddr*>(&sa), &nLen) != 0) {
        std::fprintf(stderr, "cannot listen: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("listening on port %u\n", static_cast<unsigned>(ntohs(sa.sin_port)));
    std::fflush(stdout);
    const int nEpoll = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = nListen;
    epoll_ctl(nEpoll, EPOLL_CTL_ADD, nListen, &ev);
    ev.data.fd = 0;
    epoll_ctl(nEpoll, EPOLL_CTL_ADD, 0, &ev);
    std::vector<int> vecAccepted;
    const auto tStart = Clock::now();
    bool bStop = false;
    while (!bStop && SecondsSince(tStart) < kHoldLimit) {
        epoll_event events[4];
        const int n = epoll_wait(nEpoll, events, 4, 200);
        for (int k = 0; k < n; ++k) {
            if (events[k].data.fd == 0) {
                bStop = true;
                continue;
            }
            for (;;) {
                const int nFd = accept4(nListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (nFd < 0)
                    break;
                vecAccepted.push_back(nFd);
            }
        }
    }
    std::printf("accepted %zu\n", vecAccepted.size());
    for (int nFd : vecAccepted)
        ResetClose(nFd);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Crowd

struct CCrowdPeer {
    int nFd = -1;
    bool bConnected = false;
    bool bEnded = false; // by the server
    int nSent = 0;
    double dNextSend = 0;
    double dEnded = -1;
};

struct CProbe {
    int nFd = -1;
    double dStart = 0;
    double dData = -1; // when its first byte came, from its start
    const char* pszOutcome = nullptr;
};

int RunCrowd(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s crowd PORT [PEERS] [PROBES]\n", argv[0]);
        return 2;
    }
    const int nPort = std::atoi(argv[2]);
    const size_t nPeers = argc > 3 ? static_cast<size_t>(std::atol(argv[3])) : 200;
    const size_t nProbes = argc > 4 ? static_cast<size_t>(std::atol(argv[4])) : 20;
    const double kByteEvery = 2.0;
    const double kProbeEvery = 0.5;
    const double kProbeWait = 1.0;
    const in_addr_t nProbeSource = htonl((127u << 24) | 9u); // 127.0.0.9
    RaiseOwnDescriptorLimit(nPeers + nProbes + 64);
    const sockaddr_in sa = LoopbackTarget(nPort);
    const int nEpoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<char> vecBuffer(256 * 1024);
    const auto tStart = Clock::now();
    auto now = [&] { return SecondsSince(tStart); };

    // Index tags: peers from 0, probes from kProbeTag.
    const uint64_t kProbeTag = uint64_t{1} << 32;
    std::vector<CProbe> vecProbes(nProbes + 1); // [0] is the one before the crowd

    auto startProbe = [&](size_t k) {
        CProbe& probe = vecProbes[k];
        probe.dStart = now();
        probe.nFd = OpenClientSocket(nProbeSource);
        if (probe.nFd < 0 || !StartConnect(probe.nFd, sa)) {
            probe.pszOutcome = "connect failed";
            if (probe.nFd >= 0)
                close(probe.nFd);
            probe.nFd = -1;
            return;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN;
        ev.data.u64 = kProbeTag + k;
        epoll_ctl(nEpoll, EPOLL_CTL_ADD, probe.nFd, &ev);
    };
    auto endProbe = [&](CProbe& probe, const char* pszOutcome) {
        if (probe.pszOutcome == nullptr)
            probe.pszOutcome = pszOutcome;
        if (probe.nFd >= 0)
            ResetClose(probe.nFd);
        probe.nFd = -1;
    };
    std::vector<CCrowdPeer> vecPeers(nPeers);

    // One event round: connects completing, data, ends.
    auto poll = [&](int nTimeoutMs) {
        epoll_event events[256];
        const int n = epoll_wait(nEpoll, events, 256, nTimeoutMs);
        for (int e = 0; e < n; ++e) {
            const uint64_t nTag = events[e].data.u64;
            if (nTag >= kProbeTag) {
                CProbe& probe = vecProbes[nTag - kProbeTag];
                if (probe.nFd < 0)
                    continue;
                if ((events[e].events & EPOLLOUT) != 0) {
                    if (ConnectError(probe.nFd) != 0) {
                        endProbe(probe, "refused");
                        continue;
                    }
                    static const char kDownload[4] = {'E', 'S', 'T', 1};
                    if (!SendAllNow(probe.nFd, kDownload, sizeof(kDownload))) {
                        endProbe(probe, "closed");
                        continue;
                    }
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.u64 = nTag;
                    epoll_ctl(nEpoll, EPOLL_CTL_MOD, probe.nFd, &ev);
                    continue;
                }
                const ssize_t nRead = recv(probe.nFd, vecBuffer.data(), vecBuffer.size(), 0);
                if (nRead > 0) {
                    probe.dData = now() - probe.dStart;
                    endProbe(probe, "data");
                } else if (nRead == 0 || (errno != EAGAIN && errno != EINTR)) {
                    endProbe(probe, "closed");
                }
                continue;
            }
            CCrowdPeer& peer = vecPeers[nTag];
            if (peer.nFd < 0)
                continue;
            if (!peer.bConnected) {
                if (ConnectError(peer.nFd) != 0) {
                    close(peer.nFd);
                    peer.nFd = -1;
                    continue;
                }
                peer.bConnected = true;
                peer.dNextSend = now();
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.u64 = nTag;
                epoll_ctl(nEpoll, EPOLL_CTL_MOD, peer.nFd, &ev);
                continue;
            }
            const ssize_t nRead = recv(peer.nFd, vecBuffer.data(), vecBuffer.size(), 0);
            if (nRead == 0 || (nRead < 0 && errno != EAGAIN && errno != EINTR)) {
                peer.bEnded = true;
                peer.dEnded = now();
                close(peer.nFd);
                peer.nFd = -1;
            }
        }
        // The crowd's next bytes and the probes that waited long enough.
        static const char kTrickle[4] = {'E', 'S', 'T', 0};
        const double dNow = now();
        for (CCrowdPeer& peer : vecPeers) {
            if (peer.nFd < 0 || !peer.bConnected || dNow < peer.dNextSend)
                continue;
            const char ch = peer.nSent < 4 ? kTrickle[peer.nSent] : 'x';
            if (send(peer.nFd, &ch, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) {
                ++peer.nSent;
            } else if (errno != EAGAIN) {
                peer.bEnded = true;
                peer.dEnded = dNow;
                close(peer.nFd);
                peer.nFd = -1;
                continue;
            }
            peer.dNextSend += kByteEvery;
        }
        for (CProbe& probe : vecProbes)
            if (probe.nFd >= 0 && dNow - probe.dStart >= kProbeWait)
                endProbe(probe, "no data");
    };
    auto runFor = [&](double dSeconds) {
        const double dEnd = now() + dSeconds;
        while (now() < dEnd)
            poll(20);
    };

    // A try before the crowd: the server serves at all.
    startProbe(0);
    while (vecProbes[0].nFd >= 0 && now() < kProbeWait + 0.1)
        poll(20);

    // The server's slot for that try must be free again before the crowd comes.
    runFor(0.5);

    // The crowd, all at once (fewer than a backlog's worth), each from its own address.
    const double dCrowdStart = now();
    size_t nCrowdFailed = 0;
    for (size_t i = 0; i < nPeers; ++i) {
        // 127.0.1.1 ... 127.0.1.254, then 127.0.2.1 on.
        const in_addr_t nSource = htonl((127u << 24) | (static_cast<uint32_t>(1 + i / 254) << 8) |
                                        static_cast<uint32_t>(1 + i % 254));
        CCrowdPeer& peer = vecPeers[i];
        peer.nFd = OpenClientSocket(nSource);
        if (peer.nFd < 0 || !StartConnect(peer.nFd, sa)) {
            if (peer.nFd >= 0)
                close(peer.nFd);
            peer.nFd = -1;
            ++nCrowdFailed;
            continue;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(nEpoll, EPOLL_CTL_ADD, peer.nFd, &ev);
    }
    auto crowdConnected = [&] {
        size_t n = 0;
        for (const CCrowdPeer& peer : vecPeers)
            n += peer.bConnected ? 1 : 0;
        return n;
    };
    while (crowdConnected() + nCrowdFailed < nPeers && now() - dCrowdStart < 5.0)
        poll(20);
    const double dCrowdReady = now();
    std::printf("crowd connected %zu of %zu in %.2f s\n", crowdConnected(), nPeers,
                dCrowdReady - dCrowdStart);
    std::printf("probe before the crowd: %s",
                vecProbes[0].pszOutcome ? vecProbes[0].pszOutcome : "-");
    if (vecProbes[0].dData >= 0)
        std::printf(" after %.0f ms", vecProbes[0].dData * 1000);
    std::printf("\n");
    std::fflush(stdout);

    // The tries, one every kProbeEvery from the crowd's arrival on.
    for (size_t k = 1; k <= nProbes; ++k) {
        runFor(dCrowdReady + kProbeEvery * static_cast<double>(k) - now());
        startProbe(k);
    }
    runFor(kProbeWait + 0.1);

    size_t nWithData = 0;
    double dFirstData = -1;
    double dLastMiss = -1;
    for (size_t k = 1; k <= nProbes; ++k) {
        const CProbe& probe = vecProbes[k];
        const double dAt = probe.dStart - dCrowdReady;
        std::printf("probe %zu at +%.1f s: %s", k, dAt, probe.pszOutcome ? probe.pszOutcome : "-");
        if (probe.dData >= 0) {
            std::printf(" after %.0f ms", probe.dData * 1000);
            ++nWithData;
            if (dFirstData < 0)
                dFirstData = dAt;
        } else {
            dLastMiss = dAt;
        }
        std::printf("\n");
    }
    size_t nEnded = 0;
    size_t nRefused = 0; // ended within half a second of the crowd's arrival
    size_t nOpen = 0;
    double dFirstEnd = -1;
    double dLastEnd = -1;
    for (const CCrowdPeer& peer : vecPeers) {
        nOpen += peer.nFd >= 0 ? 1 : 0;
        if (!peer.bEnded)
            continue;
        ++nEnded;
        const double dAt = peer.dEnded - dCrowdReady;
        nRefused += dAt < 0.5 ? 1 : 0;
        dFirstEnd = dFirstEnd < 0 ? dAt : std::min(dFirstEnd, dAt);
        dLastEnd = std::max(dLastEnd, dAt);
    }
    std::printf("probes %zu\nprobes with data %zu\nfirst data at %.2f\nlast miss at %.2f\n",
                nProbes, nWithData, dFirstData, dLastMiss);
    std::printf(
        "crowd ended %zu\ncrowd refused %zu\ncrowd first end at %.2f\ncrowd last end at %.2f\n"
        "crowd open %zu\n",
        nEnded, nRefused, dFirstEnd, dLastEnd, nOpen);
    std::printf("done\n");
    std::fflush(stdout);
    for (CCrowdPeer& peer : vecPeers)
        if (peer.nFd >= 0)
            ResetClose(peer.nFd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string strUse = argc > 1 ? argv[1] : "";
    if (strUse == "burst")
        return RunBurst(argc, argv);
    if (strUse == "acceptor")
        return RunAcceptor();
    if (strUse == "crowd")
        return RunCrowd(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s PORT N SECONDS [download|upload|websocket|idle] [HOST] "
                     "[--speak-after S] [--spread K]\n"
                     "       %s burst PORT N [TIMEOUT]\n"
                     "       %s acceptor\n"
                     "       %s crowd PORT [PEERS] [PROBES]\n",
                     argv[0], argv[0], argv[0], argv[0]);
        return 2;
    }
    return RunSessions(argc, argv);
}
