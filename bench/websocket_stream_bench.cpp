// Loopback benchmark of the browser stream: one WebSocket connection reading frames as
// fast as it can next to one raw "EST" download connection, against a running server.
// Prints each rate in MB/s (1 MB = 1048576 bytes) and their ratio; asserts nothing.
//
// Usage: tachyra-ws-bench PORT [SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using SOCKET = int;
const SOCKET INVALID_SOCKET = -1;

SOCKET OpenTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

bool ConnectIPv4(SOCKET s, const char* pszAddr, int nPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    ::inet_pton(AF_INET, pszAddr, &sa.sin_addr);
    return ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

int RecvOnce(SOCKET s, void* p, size_t n) {
    return static_cast<int>(::recv(s, p, n, 0));
}

bool SendAll(SOCKET s, const void* p, size_t n) {
    const char* pc = static_cast<const char*>(p);
    while (n > 0) {
        const ssize_t nSent = ::send(s, pc, n, MSG_NOSIGNAL);
        if (nSent <= 0)
            return false;
        pc += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return true;
}

void ShutdownAndClose(SOCKET s) {
    ::shutdown(s, SHUT_RDWR);
    ::close(s);
}

struct CResult {
    uint64_t nBytes = 0; // payload bytes (WebSocket) or stream bytes (raw)
    uint64_t nFrames = 0;
    double dSeconds = 0;
    std::string strError;
};

SOCKET ConnectLoopback(int nPort, std::string& strError) {
    SOCKET s = OpenTcpSocket();
    if (s == INVALID_SOCKET || !ConnectIPv4(s, "127.0.0.1", nPort)) {
        strError = "cannot connect to 127.0.0.1:" + std::to_string(nPort);
        if (s != INVALID_SOCKET)
            ShutdownAndClose(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Reads the raw download stream until the deadline.
void RunRaw(int nPort, Clock::time_point tEnd, CResult& result) {
    SOCKET s = ConnectLoopback(nPort, result.strError);
    if (s == INVALID_SOCKET)
        return;
    const char hello[] = {'E', 'S', 'T', 1};
    if (!SendAll(s, hello, sizeof(hello))) {
        result.strError = "raw: send failed";
        ShutdownAndClose(s);
        return;
    }
    std::vector<char> buf(256 * 1024);
    const auto t0 = Clock::now();
    while (Clock::now() < tEnd) {
        int n = RecvOnce(s, buf.data(), buf.size());
        if (n <= 0) {
            result.strError = "raw: the stream ended early";
            break;
        }
        result.nBytes += static_cast<uint64_t>(n);
    }
    result.dSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    ShutdownAndClose(s);
}

// Opens the WebSocket, then parses frames (header and payload) until the deadline,
// counting payload bytes the way the page does.
void RunWebSocket(int nPort, Clock::time_point tEnd, CResult& result) {
    SOCKET s = ConnectLoopback(nPort, result.strError);
    if (s == INVALID_SOCKET)
        return;
    const std::string strRequest = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                   "Connection: Upgrade\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                   "Sec-WebSocket-Version: 13\r\n\r\n";
    const std::string strExpected = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                    "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                                    "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    if (!SendAll(s, strRequest.data(), strRequest.size())) {
        result.strError = "websocket: send failed";
        ShutdownAndClose(s);
        return;
    }
    std::vector<unsigned char> buf(256 * 1024);
    size_t nHave = 0;
    while (nHave < strExpected.size()) {
        int n = RecvOnce(s, buf.data() + nHave, strExpected.size() - nHave);
        if (n <= 0)
            break;
        nHave += static_cast<size_t>(n);
    }
    if (nHave != strExpected.size() || std::memcmp(buf.data(), strExpected.data(), nHave) != 0) {
        result.strError = "websocket: unexpected handshake answer";
        ShutdownAndClose(s);
        return;
    }

    // Frame parser: header bytes collected in hdr, then nLeft payload bytes.
    unsigned char hdr[10];
    size_t nHdr = 0, nHdrNeed = 2;
    uint64_t nLeft = 0;
    const auto t0 = Clock::now();
    while (Clock::now() < tEnd && result.strError.empty()) {
        int n = RecvOnce(s, buf.data(), buf.size());
        if (n <= 0) {
            result.strError = "websocket: the stream ended early";
            break;
        }
        size_t i = 0;
        while (i < static_cast<size_t>(n)) {
            if (nLeft > 0) {
                size_t nTake = static_cast<size_t>(n) - i;
                if (nTake > nLeft)
                    nTake = static_cast<size_t>(nLeft);
                nLeft -= nTake;
                i += nTake;
                result.nBytes += nTake;
                if (nLeft == 0)
                    ++result.nFrames;
                continue;
            }
            hdr[nHdr++] = buf[i++];
            if (nHdr == 2) {
                if (hdr[0] != 0x81 || (hdr[1] & 0x80) != 0) {
                    result.strError = "websocket: not an unmasked final text frame";
                    break;
                }
                unsigned nLen7 = hdr[1] & 0x7F;
                nHdrNeed = nLen7 == 126 ? 4 : (nLen7 == 127 ? 10 : 2);
            }
            if (nHdr == nHdrNeed) {
                unsigned nLen7 = hdr[1] & 0x7F;
                if (nLen7 < 126) {
                    nLeft = nLen7;
                } else {
                    nLeft = 0;
                    for (size_t k = 2; k < nHdrNeed; ++k)
                        nLeft = (nLeft << 8) | hdr[k];
                }
                nHdr = 0;
                nHdrNeed = 2;
                if (nLeft == 0)
                    ++result.nFrames;
            }
        }
    }
    result.dSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    ShutdownAndClose(s);
}

double Rate(const CResult& r) {
    return r.dSeconds > 0 ? static_cast<double>(r.nBytes) / 1048576.0 / r.dSeconds : 0;
}

void Print(const char* pszWhat, const CResult& r) {
    std::printf("%-28s %10.1f MB/s  (%llu bytes in %.2f s", pszWhat, Rate(r),
                static_cast<unsigned long long>(r.nBytes), r.dSeconds);
    if (r.nFrames != 0)
        std::printf(", %llu frames", static_cast<unsigned long long>(r.nFrames));
    std::printf(")%s%s\n", r.strError.empty() ? "" : "  error: ", r.strError.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    const int nPort = std::atoi(argv[1]);
    int nSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    if (nSeconds < 1 || nSeconds > 600)
        nSeconds = 10;

    // Side by side: both connections at once, the same seconds.
    CResult ws, raw;
    const auto tEnd = Clock::now() + std::chrono::seconds(nSeconds);
    std::thread tWs(RunWebSocket, nPort, tEnd, std::ref(ws));
    std::thread tRaw(RunRaw, nPort, tEnd, std::ref(raw));
    tWs.join();
    tRaw.join();
    std::printf("side by side, %d s:\n", nSeconds);
    Print("  websocket stream", ws);
    Print("  raw EST download", raw);
    std::printf("  ratio websocket/raw: %.3f\n", Rate(raw) > 0 ? Rate(ws) / Rate(raw) : 0.0);

    // One after the other, each alone, for comparison.
    CResult wsAlone, rawAlone;
    RunWebSocket(nPort, Clock::now() + std::chrono::seconds(nSeconds), wsAlone);
    RunRaw(nPort, Clock::now() + std::chrono::seconds(nSeconds), rawAlone);
    std::printf("alone, %d s each:\n", nSeconds);
    Print("  websocket stream", wsAlone);
    Print("  raw EST download", rawAlone);
    std::printf("  ratio websocket/raw: %.3f\n",
                Rate(rawAlone) > 0 ? Rate(wsAlone) / Rate(rawAlone) : 0.0);
    const bool bOk = ws.strError.empty() && raw.strError.empty() && wsAlone.strError.empty() &&
                     rawAlone.strError.empty();
    return bOk ? 0 : 1;
}
