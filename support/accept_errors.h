// Which failures of accept() end a server run. Running out of descriptors or memory, and
// the failure of one incoming connection, pass: the listening socket is still good, so
// the server pauses briefly and goes on. Anything else means the listening socket itself
// failed.
#pragma once

// For the error codes of this platform (errno or WSAGetLastError).
bool IsTransientAcceptError(int nError);

// The two tables, callable on any platform so that both can be checked anywhere.
bool IsTransientAcceptErrorPosix(int nError);
bool IsTransientAcceptErrorWinsock(int nError);
