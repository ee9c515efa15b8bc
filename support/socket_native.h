// The system's own socket headers, for the shim's source files only.
#pragma once

#include "support/socket.h"

#if defined(_WIN32)
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// The error code a rejected argument leaves behind (WSAEINVAL or EINVAL).
int InvalidArgumentError();
// Leaves a failed name lookup's result code as the last error (see GetErrorText).
void SetResolveError(int nResult);
// The error of a time limit that ran out (ETIMEDOUT or WSAETIMEDOUT).
int TimedOutError();

// The pieces of a connect with a time limit.
bool SetNonBlocking(SOCKET s, bool bNonBlocking);
// The error of a non-blocking connect that goes on in the background.
bool IsConnectInProgress(int nError);
// Waits up to nTimeoutMs for a pending connect: 1 when it has an outcome, 0 when not yet.
int WaitConnectOutcome(SOCKET s, int nTimeoutMs);
// The outcome of a finished connect: 0, or its error.
int PendingSocketError(SOCKET s);
