// POSIX facts: errno, the C library's error strings, /proc/self/exe.
#include "support/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

int GetThreadLastError() {
    return errno;
}

void SetThreadLastError(int nError) {
    errno = nError;
}

std::string GetSystemErrorMessage(int nCode) {
    if (nCode < 0) {
        // Negative codes are the resolver's (getaddrinfo) and have their own texts.
        return gai_strerror(nCode);
    }
    char szBuf[256] = {0};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(nCode, szBuf, sizeof(szBuf));
#else
    if (strerror_r(nCode, szBuf, sizeof(szBuf)) != 0)
        return std::string();
    return szBuf;
#endif
}

void WriteDebugOutput(const std::string& strLine) {
    std::fwrite(strLine.data(), 1, strLine.size(), stderr);
    std::fflush(stderr);
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

std::string GetProcessImagePath() {
    char szPath[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", szPath, PATH_MAX);
    if (n <= 0)
        return std::string();
    return std::string(szPath, static_cast<size_t>(n));
}

char PathSeparator() {
    return '/';
}

void RaiseDescriptorLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

long DescriptorLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY)
        return -1;
    return static_cast<long>(lim.rlim_cur);
}

std::string Utf8FromProgramText(const std::string& strText) {
    return strText;
}

const char* const kUserDataFolderName = "tachyra";

std::string GetUserDataDirectory() {
    const char* pszData = std::getenv("XDG_DATA_HOME");
    if (pszData != nullptr && pszData[0] == '/')
        return pszData;
    const char* pszHome = std::getenv("HOME");
    if (pszHome == nullptr || pszHome[0] == '\0')
        return std::string();
    return std::string(pszHome) + "/.local/share";
}
