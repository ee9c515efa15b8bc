// Many sessions against one server from one thread with non-blocking sockets (epoll), so
// that the load itself is never the bottleneck: N download sessions ("EST" and mode 1,
// every byte read and dropped) or N idle connections that send nothing.
//
// Usage: tachyra-session-load PORT N SECONDS [download|idle] [HOST]
// Prints "connected C of N" once every connect has ended, then, after SECONDS,
// "sessions with data D", "bytes B" and "open O" (connections the server has not ended). It keeps
// every connection open (still reading) until its standard input reaches a line or its end, then
// resets them all, prints "closed" and exits. Linux only: a measuring tool for the bench scripts.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct CLoadSession {
    int nFd = -1;
    bool bConnecting = false;
    bool bConnected = false;
    bool bGotData = false;
    bool bClosed = false;
};

// Connects under way at once: more would only overflow the server's accept backlog and
// cost a one-second SYN retry each.
const int kConnectsInFlight = 200;

void RaiseOwnDescriptorLimit(size_t nWanted) {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0)
        return;
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    if (rl.rlim_cur < nWanted)
        std::fprintf(stderr, "descriptor limit %lu is below the %lu wanted\n",
                     static_cast<unsigned long>(rl.rlim_cur), static_cast<unsigned long>(nWanted));
}

double SecondsSince(std::chrono::steady_clock::time_point tStart) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
}

class CLoad {
public:
    CLoad(const sockaddr_in& sa, size_t nSessions, bool bDownload)
        : m_sa(sa), m_vecSessions(nSessions), m_bDownload(bDownload), m_nEpoll(epoll_create1(0)),
          m_vecBuffer(256 * 1024) {}

    // Opens every connection, keeping kConnectsInFlight connects under way.
    void ConnectAll() {
        size_t nNext = 0;
        int nInFlight = 0;
        size_t nEnded = 0;
        while (nEnded < m_vecSessions.size()) {
            while (nInFlight < kConnectsInFlight && nNext < m_vecSessions.size()) {
                if (StartConnect(nNext))
                    ++nInFlight;
                else
                    ++nEnded;
                ++nNext;
            }
            Poll(100, nInFlight, nEnded);
        }
    }

    // Reads whatever arrives for the given time.
    void Run(double dSeconds) {
        const auto tStart = std::chrono::steady_clock::now();
        int nInFlight = 0;
        size_t nEnded = 0;
        while (SecondsSince(tStart) < dSeconds)
            Poll(50, nInFlight, nEnded);
    }

    // Reads on until standard input has a line or ends.
    void HoldUntilStdin() {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kStdinTag;
        epoll_ctl(m_nEpoll, EPOLL_CTL_ADD, 0, &ev);
        int nInFlight = 0;
        size_t nEnded = 0;
        while (!m_bStdinReady)
            Poll(200, nInFlight, nEnded);
    }

    // Resets every connection: no TIME_WAIT left behind, and a server blocked sending
    // into one learns at once.
    void CloseAll() {
        for (CLoadSession& session : m_vecSessions) {
            if (session.nFd < 0)
                continue;
            linger lg{1, 0};
            setsockopt(session.nFd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
            close(session.nFd);
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
    unsigned long long Bytes() const { return m_nBytes; }
    int FirstError() const { return m_nFirstError; }

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

    bool StartConnect(size_t i) {
        CLoadSession& session = m_vecSessions[i];
        session.nFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (session.nFd < 0) {
            NoteError(errno);
            return false;
        }
        if (connect(session.nFd, reinterpret_cast<const sockaddr*>(&m_sa), sizeof(m_sa)) != 0 &&
            errno != EINPROGRESS) {
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
        session.bClosed = true;
    }

    void Poll(int nTimeoutMs, int& nInFlight, size_t& nEnded) {
        epoll_event events[512];
        const int n = epoll_wait(m_nEpoll, events, 512, nTimeoutMs);
        for (int k = 0; k < n; ++k) {
            if (events[k].data.u64 == kStdinTag) {
                m_bStdinReady = true;
                continue;
            }
            CLoadSession& session = m_vecSessions[events[k].data.u64];
            if (session.nFd < 0)
                continue;
            if (session.bConnecting) {
                session.bConnecting = false;
                --nInFlight;
                ++nEnded;
                int nError = 0;
                socklen_t nLen = sizeof(nError);
                getsockopt(session.nFd, SOL_SOCKET, SO_ERROR, &nError, &nLen);
                if (nError != 0) {
                    NoteError(nError);
                    Drop(session);
                    continue;
                }
                session.bConnected = true;
                if (m_bDownload) {
                    static const char kStart[4] = {'E', 'S', 'T', 1};
                    if (send(session.nFd, kStart, sizeof(kStart), MSG_NOSIGNAL) != 4) {
                        NoteError(errno);
                        Drop(session);
                        continue;
                    }
                }
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.u64 = events[k].data.u64;
                epoll_ctl(m_nEpoll, EPOLL_CTL_MOD, session.nFd, &ev);
                continue;
            }
            // Readable: take what is there. An idle connection only ever sees its end.
            const ssize_t nRead = recv(session.nFd, m_vecBuffer.data(), m_vecBuffer.size(), 0);
            if (nRead > 0) {
                session.bGotData = true;
                m_nBytes += static_cast<unsigned long long>(nRead);
            } else if (nRead == 0 || (errno != EAGAIN && errno != EINTR)) {
                Drop(session);
            }
        }
    }

    sockaddr_in m_sa;
    std::vector<CLoadSession> m_vecSessions;
    bool m_bDownload;
    int m_nEpoll;
    std::vector<char> m_vecBuffer;
    unsigned long long m_nBytes = 0;
    int m_nFirstError = 0;
    bool m_bStdinReady = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT N SECONDS [download|idle] [HOST]\n", argv[0]);
        return 2;
    }
    const int nPort = std::atoi(argv[1]);
    const size_t nSessions = static_cast<size_t>(std::atol(argv[2]));
    const double dSeconds = std::atof(argv[3]);
    const bool bDownload = argc < 5 || std::string(argv[4]) != "idle";
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    if (inet_pton(AF_INET, argc > 5 ? argv[5] : "127.0.0.1", &sa.sin_addr) != 1) {
        std::fprintf(stderr, "not an IPv4 address\n");
        return 2;
    }
    RaiseOwnDescriptorLimit(nSessions + 16);

    CLoad load(sa, nSessions, bDownload);
    const auto tStart = std::chrono::steady_clock::now();
    load.ConnectAll();
    std::printf("connected %zu of %zu in %.2f s", load.Connected(), nSessions,
                SecondsSince(tStart));
    if (load.FirstError() != 0)
        std::printf(" (first error: %s)", std::strerror(load.FirstError()));
    std::printf("\n");
    std::fflush(stdout);

    load.Run(dSeconds);
    std::printf("sessions with data %zu\nbytes %llu\nopen %zu\n", load.WithData(), load.Bytes(),
                load.Open());
    std::fflush(stdout);

    load.HoldUntilStdin();
    load.CloseAll();
    std::printf("closed\n");
    return 0;
}
