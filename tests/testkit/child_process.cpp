#include "testkit/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

CChildProcess::~CChildProcess() {
    if (m_nPid > 0 && !m_bExited) {
        ::kill(m_nPid, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    if (m_fdOut >= 0)
        ::close(m_fdOut);
    if (m_fdErr >= 0)
        ::close(m_fdErr);
}

bool CChildProcess::Start(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // Nothing the test runner left open leaks into the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The test runner may block signals; the child must see SIGINT and SIGTERM.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int nRet = ::posix_spawn(&m_nPid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    ::close(err[1]);
    m_fdOut = out[0];
    m_fdErr = err[0];
    if (nRet != 0)
        m_nPid = -1;
    return nRet == 0;
}

void CChildProcess::Pump(int nTimeoutMs) {
    pollfd fds[2] = {{m_fdOut, POLLIN, 0}, {m_fdErr, POLLIN, 0}};
    if (::poll(fds, 2, nTimeoutMs) <= 0)
        return;
    char szBuf[4096];
    if (fds[0].revents != 0) {
        ssize_t n = ::read(m_fdOut, szBuf, sizeof(szBuf));
        if (n > 0)
            m_strOut.append(szBuf, static_cast<size_t>(n));
        else if (n == 0)
            fds[0].fd = -1;
    }
    if (fds[1].revents != 0) {
        ssize_t n = ::read(m_fdErr, szBuf, sizeof(szBuf));
        if (n > 0)
            m_strErr.append(szBuf, static_cast<size_t>(n));
    }
}

std::string CChildProcess::WaitForLine(const std::string& strNeedle,
                                       std::chrono::milliseconds timeout) {
    auto tEnd = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (;;) {
            size_t nEol = m_strOut.find('\n', m_nScanned);
            if (nEol == std::string::npos)
                break;
            std::string strLine = m_strOut.substr(m_nScanned, nEol - m_nScanned);
            m_nScanned = nEol + 1;
            if (strLine.find(strNeedle) != std::string::npos)
                return strLine;
        }
        if (std::chrono::steady_clock::now() >= tEnd)
            return std::string();
        if (!m_bExited) {
            int nStatus = 0;
            if (::waitpid(m_nPid, &nStatus, WNOHANG) == m_nPid) {
                m_bExited = true;
                m_nStatus = nStatus;
            }
        }
        size_t nBefore = m_strOut.size();
        Pump(50);
        if (m_bExited && m_strOut.size() == nBefore &&
            m_strOut.find('\n', m_nScanned) == std::string::npos)
            return std::string();
    }
}

std::string CChildProcess::Stdout() {
    Pump(0);
    return m_strOut;
}

std::string CChildProcess::Stderr() {
    Pump(0);
    return m_strErr;
}

void CChildProcess::Signal(int nSignal) {
    if (m_nPid > 0 && !m_bExited)
        ::kill(m_nPid, nSignal);
}

int CChildProcess::Wait(std::chrono::milliseconds timeout) {
    auto tEnd = std::chrono::steady_clock::now() + timeout;
    while (!m_bExited) {
        int nStatus = 0;
        pid_t r = ::waitpid(m_nPid, &nStatus, WNOHANG);
        if (r == m_nPid) {
            m_bExited = true;
            m_nStatus = nStatus;
            break;
        }
        if (std::chrono::steady_clock::now() >= tEnd) {
            ::kill(m_nPid, SIGKILL);
            ::waitpid(m_nPid, &nStatus, 0);
            m_bExited = true;
            m_nStatus = nStatus;
            Pump(0);
            return -1;
        }
        Pump(20);
    }
    for (int i = 0; i < 50; ++i)
        Pump(0);
    if (WIFEXITED(m_nStatus))
        return WEXITSTATUS(m_nStatus);
    if (WIFSIGNALED(m_nStatus))
        return 128 + WTERMSIG(m_nStatus);
    return -1;
}

std::string CliPath() {
    const char* pszEnv = std::getenv("TACHYRA_CLI");
    return pszEnv != nullptr ? pszEnv : TACHYRA_CLI_PATH;
}

int StartCliServer(CChildProcess& child) {
    if (!child.Start({CliPath(), "-s", "-B", "127.0.0.1", "-p", "0"}))
        return 0;
    std::string strLine = child.WaitForLine("listening on port");
    if (strLine.empty())
        return 0;
    return std::atoi(strLine.substr(strLine.rfind(' ') + 1).c_str());
}
