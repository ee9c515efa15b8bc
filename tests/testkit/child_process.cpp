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
    if (Running())
        Wait(std::chrono::milliseconds(0)); // kills it
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

bool CChildProcess::Start(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, bool bCapture, int fdAs3) {
    int pipes[2][2] = {{-1, -1}, {-1, -1}}; // stdout, stderr: read end, write end
    if (bCapture && (::pipe2(pipes[0], O_CLOEXEC) != 0 || ::pipe2(pipes[1], O_CLOEXEC) != 0))
        return false;
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

    // env(1) sets the variables given and runs the program.
    std::vector<std::string> argv(args);
    if (!env.empty())
        argv.insert(argv.begin(), "/usr/bin/env");
    for (const auto& [strName, strValue] : env)
        argv.insert(argv.begin() + 1, strName + "=" + strValue);
    std::vector<char*> pointers;
    for (std::string& str : argv)
        pointers.push_back(str.data());
    pointers.push_back(nullptr);
    if (::posix_spawn(&m_nPid, pointers[0], &actions, &attr, pointers.data(), environ) != 0)
        m_nPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    for (int i = 0; bCapture && i < 2; ++i) {
        ::close(pipes[i][1]);
        m_fds[i] = pipes[i][0];
    }
    return m_nPid > 0;
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

void CChildProcess::Signal(int nSignal) {
    if (Running())
        ::kill(m_nPid, nSignal);
}

int CChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (m_nPid <= 0)
        return -1;
    for (const auto tEnd = std::chrono::steady_clock::now() + timeout;
         Running() && std::chrono::steady_clock::now() < tEnd;)
        Pump(20);
    const bool bTimedOut = Running();
    if (bTimedOut) { // the whole process group
        ::kill(-m_nPid, SIGKILL);
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, &m_nStatus, 0);
        m_bExited = true;
    }
    // Read what is left in the pipes; a grandchild holding them open must not hang us.
    for (int i = 0; i < 50 && (m_fds[0] >= 0 || m_fds[1] >= 0); ++i)
        Pump(bTimedOut ? 0 : 20);
    if (bTimedOut || !(WIFEXITED(m_nStatus) || WIFSIGNALED(m_nStatus)))
        return -1;
    return WIFEXITED(m_nStatus) ? WEXITSTATUS(m_nStatus) : 128 + WTERMSIG(m_nStatus);
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
