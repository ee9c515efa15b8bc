// POSIX side of the socket shim.
#include "support/socket_native.h"

#include "support/platform.h"

#include <csignal>
#include <fcntl.h>

bool InitSocketLibrary() {
    // MSG_NOSIGNAL covers our own sends; ignoring the signal also covers any library
    // code that writes to a socket.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Sockets report through errno like every other call here: one last-error pair.
int GetLastSocketError() {
    return GetThreadLastError();
}

void SetLastSocketError(int nError) {
    SetThreadLastError(nError);
}

void SetResolveError(int nResult) {
    // Resolver codes are negative and never collide with errno values; GetErrorText
    // knows to ask gai_strerror for them.
    if (nResult == EAI_SYSTEM && errno != 0)
        return;
    errno = nResult != 0 ? nResult : EAI_NONAME;
}
