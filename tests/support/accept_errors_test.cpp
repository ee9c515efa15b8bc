// Which accept failures pause the server and which end it, in both platforms' codes.
#include "support/accept_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(AcceptErrors, ShortagesAndOneFailedConnectionPassOthersEndTheRun) {
    for (int nError : {EMFILE, ENFILE, ENOBUFS, ENOMEM, ECONNABORTED, EPROTO, EPERM, EINTR})
        EXPECT_TRUE(IsTransientAcceptErrorPosix(nError)) << nError;
    for (int nError : {EBADF, EINVAL, ENOTSOCK, EOPNOTSUPP, EFAULT})
        EXPECT_FALSE(IsTransientAcceptErrorPosix(nError)) << nError;
    // WSAEMFILE, WSAENOBUFS, WSAECONNRESET, WSAECONNABORTED, WSAEINTR
    for (int nError : {10024, 10055, 10054, 10053, 10004})
        EXPECT_TRUE(IsTransientAcceptErrorWinsock(nError)) << nError;
    // WSAENOTSOCK, WSAEINVAL, WSAENETDOWN, WSAEOPNOTSUPP, WSANOTINITIALISED
    for (int nError : {10038, 10022, 10050, 10045, 10093})
        EXPECT_FALSE(IsTransientAcceptErrorWinsock(nError)) << nError;
}
