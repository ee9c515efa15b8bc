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

// Leaves a failed name lookup's result code as the last error (see GetErrorText).
void SetResolveError(int nResult);
