#include "testkit/child_process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

CChildProcess::~CChildProcess() {
    if (m_nPid > 0 && !m_bExited) {
        Kill();
        Wait(std::chrono::seconds(10));
    }
    CloseOutputs();
}

void CChildProcess::Kill() {
    ::kill(-m_nPid, SIGKILL);
    ::kill(m_nPid, SIGKILL);
}

void CChildProcess::CloseOutputs() {
    for (int& fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool CChildProcess::Start(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, bool bCapture, int fdAs3) {
    if (Running())
        Wait(std::chrono::milliseconds(0));
    CloseOutputs();
    m_nPid = -1;
    m_bExited = false;
    m_nStatus = 0;
    m_texts[0] = m_texts[1] = "";
    m_nScanned = 0;

    int pipes[2][2] = {{-1, -1}, {-1, -1}}; // stdout, stderr: read end, write end
    if (bCapture && (::pipe2(pipes[0], O_CLOEXEC) != 0 || ::pipe2(pipes[1], O_CLOEXEC) != 0)) {
        for (int fd : {pipes[0][0], pipes[0][1], pipes[1][0], pipes[1][1]})
            if (fd >= 0)
                ::close(fd);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (int i : {0, 1}) {
        if (bCapture)
            posix_spawn_file_actions_adddup2(&actions, pipes[i][1], i + 1);
        else
            posix_spawn_file_actions_addopen(&actions, i + 1, "/dev/null", O_WRONLY, 0);
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
        const std::string strEntry = *p;
        if (env.count(strEntry.substr(0, strEntry.find('='))) == 0)
            envStrings.push_back(strEntry);
    }
    for (const auto& kv : env)
        envStrings.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp, argv;
    for (auto& s : envStrings)
        envp.push_back(&s[0]);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    envp.push_back(nullptr);
    argv.push_back(nullptr);

    const int nRet = ::posix_spawn(&m_nPid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    for (int i = 0; bCapture && i < 2; ++i) {
        ::close(pipes[i][1]);
        m_fds[i] = pipes[i][0];
    }
    if (nRet != 0)
        m_nPid = -1;
    return nRet == 0;
}

void CChildProcess::Pump(int nTimeoutMs) {
    pollfd fds[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
    if (::poll(fds, 2, nTimeoutMs) <= 0)
        return;
    char szBuf[4096];
    for (int i = 0; i < 2; ++i) {
        const ssize_t n = fds[i].revents == 0 ? -1 : ::read(m_fds[i], szBuf, sizeof(szBuf));
        if (n > 0)
            m_texts[i].append(szBuf, static_cast<size_t>(n));
        else if (n == 0) {
            ::close(m_fds[i]);
            m_fds[i] = -1;
        }
    }
}

bool CChildProcess::Running() {
    if (m_nPid <= 0 || m_bExited)
        return false;
    m_bExited = ::waitpid(m_nPid, &m_nStatus, WNOHANG) == m_nPid;
    return !m_bExited;
}

std::string CChildProcess::WaitForLine(const std::string& strNeedle,
                                       std::chrono::milliseconds timeout) {
    const auto tEnd = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (size_t nEol; (nEol = m_texts[0].find('\n', m_nScanned)) != std::string::npos;) {
            std::string strLine = m_texts[0].substr(m_nScanned, nEol - m_nScanned);
            m_nScanned = nEol + 1;
            if (strLine.find(strNeedle) != std::string::npos)
                return strLine;
        }
        // Once the process has gone and its output is read to the end, nothing more comes.
        if (std::chrono::steady_clock::now() >= tEnd || (!Running() && m_fds[0] < 0))
            return std::string();
        Pump(50);
    }
}

std::string CChildProcess::Stdout() {
    Pump(0);
    return m_texts[0];
}

std::string CChildProcess::Stderr() {
    Pump(0);
    return m_texts[1];
}

void CChildProcess::Signal(int nSignal) {
    if (Running())
        ::kill(m_nPid, nSignal);
}

int CChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (m_nPid <= 0)
        return -1;
    const auto tEnd = std::chrono::steady_clock::now() + timeout;
    bool bTimedOut = false;
    while (!bTimedOut && Running()) {
        bTimedOut = std::chrono::steady_clock::now() >= tEnd;
        if (bTimedOut) {
            Kill();
            ::waitpid(m_nPid, &m_nStatus, 0);
            m_bExited = true;
        } else {
            Pump(20);
        }
    }
    // Read what is left in the pipes; a grandchild holding them open must not hang us.
    for (int i = 0; i < 50 && (m_fds[0] >= 0 || m_fds[1] >= 0); ++i)
        Pump(bTimedOut ? 0 : 20);
    if (bTimedOut)
        return -1;
    if (WIFEXITED(m_nStatus))
        return WEXITSTATUS(m_nStatus);
    return WIFSIGNALED(m_nStatus) ? 128 + WTERMSIG(m_nStatus) : -1;
}

bool WaitUntil(const std::function<bool()>& fnDone, std::chrono::milliseconds timeout,
               int nStepMs) {
    for (const auto tEnd = std::chrono::steady_clock::now() + timeout; !fnDone();) {
        if (std::chrono::steady_clock::now() >= tEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(nStepMs));
    }
    return true;
}

std::string CliPath() {
    const char* pszEnv = std::getenv("TACHYRA_CLI");
    return pszEnv != nullptr ? pszEnv : TACHYRA_CLI_PATH;
}

int StartCliServer(CChildProcess& child, const std::vector<std::string>& extra,
                   std::vector<std::string> prefix) {
    prefix.insert(prefix.end(), {CliPath(), "-s", "-B", "127.0.0.1", "-p", "0"});
    prefix.insert(prefix.end(), extra.begin(), extra.end());
    const std::string strLine = child.Start(prefix) ? child.WaitForLine("listening on port") : "";
    return strLine.empty() ? 0 : std::atoi(strLine.substr(strLine.rfind(' ') + 1).c_str());
}
