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
        ::kill(-m_nPid, SIGKILL);
        ::kill(m_nPid, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    CloseOutputs();
}

void CChildProcess::CloseOutputs() {
    if (m_fdOut >= 0)
        ::close(m_fdOut);
    if (m_fdErr >= 0)
        ::close(m_fdErr);
    m_fdOut = m_fdErr = -1;
}

bool CChildProcess::Start(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, bool bCapture, int fdAs3) {
    if (Running())
        Wait(std::chrono::milliseconds(0));
    CloseOutputs();
    m_nPid = -1;
    m_bExited = false;
    m_nStatus = 0;
    m_strOut.clear();
    m_strErr.clear();
    m_nScanned = 0;

    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (bCapture && (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)) {
        for (int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                ::close(fd);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (bCapture) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (fdAs3 >= 0)
        posix_spawn_file_actions_adddup2(&actions, fdAs3, 3); // clears close-on-exec
    // Nothing else the test runner left open leaks into the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, fdAs3 >= 0 ? 4 : 3);
    // The test runner may block signals; the child must see SIGINT and SIGTERM. Its own
    // process group lets a time-out kill whatever it started as well.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> envStrings;
    for (char** p = environ; *p != nullptr; ++p) {
        std::string strEntry = *p;
        if (env.count(strEntry.substr(0, strEntry.find('='))) == 0)
            envStrings.push_back(strEntry);
    }
    for (const auto& kv : env)
        envStrings.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int nRet = ::posix_spawn(&m_nPid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (bCapture) {
        ::close(out[1]);
        ::close(err[1]);
        m_fdOut = out[0];
        m_fdErr = err[0];
    }
    if (nRet != 0)
        m_nPid = -1;
    return nRet == 0;
}

void CChildProcess::Pump(int nTimeoutMs) {
    pollfd fds[2] = {{m_fdOut, POLLIN, 0}, {m_fdErr, POLLIN, 0}};
    if (::poll(fds, 2, nTimeoutMs) <= 0)
        return;
    char szBuf[4096];
    int* pFds[2] = {&m_fdOut, &m_fdErr};
    std::string* pTexts[2] = {&m_strOut, &m_strErr};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        ssize_t n = ::read(*pFds[i], szBuf, sizeof(szBuf));
        if (n > 0) {
            pTexts[i]->append(szBuf, static_cast<size_t>(n));
        } else if (n == 0) {
            ::close(*pFds[i]);
            *pFds[i] = -1;
        }
    }
}

void CChildProcess::Reap(int nStatus) {
    m_bExited = true;
    m_nStatus = nStatus;
}

bool CChildProcess::Running() {
    if (m_nPid <= 0 || m_bExited)
        return false;
    int nStatus = 0;
    if (::waitpid(m_nPid, &nStatus, WNOHANG) == m_nPid) {
        Reap(nStatus);
        return false;
    }
    return true;
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
        // Once the process has gone and its output is read to the end, nothing more comes.
        if (!Running() && m_fdOut < 0)
            return std::string();
        Pump(50);
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
    if (Running())
        ::kill(m_nPid, nSignal);
}

int CChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (m_nPid <= 0)
        return -1;
    auto tEnd = std::chrono::steady_clock::now() + timeout;
    bool bTimedOut = false;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= tEnd) {
            ::kill(-m_nPid, SIGKILL);
            ::kill(m_nPid, SIGKILL);
            int nStatus = 0;
            ::waitpid(m_nPid, &nStatus, 0);
            Reap(nStatus);
            bTimedOut = true;
            break;
        }
        Pump(20);
    }
    // Read what is left in the pipes; a grandchild holding them open must not hang us.
    for (int i = 0; i < 50 && (m_fdOut >= 0 || m_fdErr >= 0); ++i)
        Pump(bTimedOut ? 0 : 20);
    if (bTimedOut)
        return -1;
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

int StartCliServer(CChildProcess& child, const std::vector<std::string>& extra,
                   std::vector<std::string> prefix) {
    prefix.insert(prefix.end(), {CliPath(), "-s", "-B", "127.0.0.1", "-p", "0"});
    prefix.insert(prefix.end(), extra.begin(), extra.end());
    if (!child.Start(prefix))
        return 0;
    std::string strLine = child.WaitForLine("listening on port");
    if (strLine.empty())
        return 0;
    return std::atoi(strLine.substr(strLine.rfind(' ') + 1).c_str());
}
