#include "support/accept_errors.h"

#include <cerrno>

namespace {

// Winsock's codes are fixed numbers; spelled out so that the table builds everywhere.
enum : int {
    kWsaEintr = 10004,
    kWsaEmfile = 10024,
    kWsaEwouldblock = 10035,
    kWsaEconnaborted = 10053,
    kWsaEconnreset = 10054,
    kWsaEnobufs = 10055,
    kWsaEtimedout = 10060,
};

} // namespace

bool IsTransientAcceptErrorPosix(int nError) {
    switch (nError) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case EINTR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

bool IsTransientAcceptErrorWinsock(int nError) {
    switch (nError) {
    case kWsaEmfile:
    case kWsaEnobufs:
    case kWsaEconnreset:
    case kWsaEconnaborted:
    case kWsaEintr:
    case kWsaEwouldblock:
    case kWsaEtimedout:
        return true;
    default:
        return false;
    }
}

bool IsTransientAcceptError(int nError) {
#if defined(_WIN32)
    return IsTransientAcceptErrorWinsock(nError);
#else
    return IsTransientAcceptErrorPosix(nError);
#endif
}
