// The kernel's figures of a TCP socket on POSIX systems. Linux's own header is used
// because the C library's copy of tcp_info ends before the byte counts.
#include "support/socket.h"

#if defined(__linux__)
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#endif

CTcpFigures GetTcpFigures(SOCKET s) {
    CTcpFigures figures;
#if defined(__linux__)
    tcp_info info{};
    socklen_t nLen = sizeof(info);
    if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &nLen) != 0)
        return figures;
    if (info.tcpi_rtt != 0)
        figures.dRttMs = info.tcpi_rtt / 1000.0;
    if (info.tcpi_rcv_rtt != 0)
        figures.dReceiverRttMs = info.tcpi_rcv_rtt / 1000.0;
    // Kernels before 4.1 fill a shorter structure without the byte counts.
    if (nLen >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof(info.tcpi_bytes_acked))
        figures.nBytesAcked = info.tcpi_bytes_acked;
#else
    (void)s;
#endif
    return figures;
}
