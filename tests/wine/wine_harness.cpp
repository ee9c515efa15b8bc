// Child processes with bounded waits, and the Xvfb + Wine prefix they run in.
#include "wine_harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

bool IsExecutable(const std::string& strPath) {
    return access(strPath.c_str(), X_OK) == 0;
}

std::string FindProgram(const std::vector<std::string>& candidates) {
    for (const auto& c : candidates) {
        if (c.find('/') != std::string::npos) {
            if (IsExecutable(c))
                return c;
            continue;
        }
        const char* pszPath = std::getenv("PATH");
        std::string strPath = pszPath != nullptr ? pszPath : "/usr/bin:/bin";
        size_t start = 0;
        while (start <= strPath.size()) {
            size_t end = strPath.find(':', start);
            if (end == std::string::npos)
                end = strPath.size();
            std::string full = strPath.substr(start, end - start) + "/" + c;
            if (IsExecutable(full))
                return full;
            start = end + 1;
        }
    }
    return std::string();
}

} // namespace

CChildProcess::~CChildProcess() {
    if (m_pid > 0 && !m_bEnded)
        Wait(0);
    if (m_fdOut >= 0)
        close(m_fdOut);
}

bool CChildProcess::Start(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env, bool bCapture) {
    // A child object may run several processes one after the other.
    if (m_pid > 0 && !m_bEnded)
        Wait(0);
    if (m_fdOut >= 0)
        close(m_fdOut);
    m_fdOut = -1;
    m_pid = -1;
    m_nExitCode = -1;
    m_bEnded = false;
    m_strOutput.clear();
    int fds[2] = {-1, -1};
    if (bCapture && pipe(fds) != 0)
        return false;
    std::vector<std::string> envStrings;
    for (char** p = environ; *p != nullptr; ++p) {
        std::string entry = *p;
        std::string name = entry.substr(0, entry.find('='));
        if (env.count(name) == 0)
            envStrings.push_back(entry);
    }
    for (const auto& kv : env)
        envStrings.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& s : args)
        argp.push_back(&s[0]);
    argp.push_back(nullptr);

    m_pid = fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        setpgid(0, 0);
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 0);
        dup2(bCapture ? fds[1] : fdNull, 1);
        dup2(fdNull, 2);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (bCapture) {
        close(fds[1]);
        m_fdOut = fds[0];
    }
    return true;
}

void CChildProcess::Drain(int nMs) {
    if (m_fdOut < 0)
        return;
    pollfd pfd{m_fdOut, POLLIN, 0};
    if (poll(&pfd, 1, nMs) <= 0)
        return;
    char buf[4096];
    ssize_t n = read(m_fdOut, buf, sizeof(buf));
    if (n > 0)
        m_strOutput.append(buf, static_cast<size_t>(n));
    else if (n == 0) {
        close(m_fdOut);
        m_fdOut = -1;
    }
}

bool CChildProcess::Running() {
    if (m_pid <= 0 || m_bEnded)
        return false;
    int status = 0;
    pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_bEnded = true;
        m_nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int CChildProcess::Wait(int nMs) {
    if (m_pid <= 0)
        return -1;
    auto tEnd = Clock::now() + std::chrono::milliseconds(nMs);
    while (Running()) {
        if (Clock::now() >= tEnd) {
            kill(-m_pid, SIGKILL);
            kill(m_pid, SIGKILL);
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_bEnded = true;
            m_nExitCode = -1;
            break;
        }
        if (m_fdOut >= 0)
            Drain(20);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // What is left in the pipe after the end.
    while (m_fdOut >= 0) {
        size_t nBefore = m_strOutput.size();
        Drain(200);
        if (m_fdOut >= 0 && m_strOutput.size() == nBefore)
            break;
    }
    return m_nExitCode;
}

std::string CChildProcess::Output() {
    if (m_fdOut >= 0)
        Drain(0);
    // Windows programs end their lines with "\r\n".
    std::string strOutput;
    for (char c : m_strOutput) {
        if (c != '\r')
            strOutput += c;
    }
    return strOutput;
}

bool CWineHarness::SetUp(std::string& strError) {
    m_strWine = FindProgram({"/usr/lib/wine/wine64", "wine64", "wine"});
    m_strWineServer = FindProgram({"/usr/lib/wine/wineserver", "wineserver"});
    std::string strXvfb = FindProgram({"Xvfb"});
    if (m_strWine.empty() || m_strWineServer.empty() || strXvfb.empty()) {
        strError = "wine64, wineserver or Xvfb is missing (scripts/install-deps.sh test)";
        return false;
    }
    // Xvfb picks a free display and writes its number to the pipe.
    int fds[2];
    if (pipe(fds) != 0) {
        strError = "pipe failed";
        return false;
    }
    m_pidXvfb = fork();
    if (m_pidXvfb == 0) {
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 0);
        dup2(fdNull, 1);
        dup2(fdNull, 2);
        close(fds[0]);
        std::string strFd = std::to_string(fds[1]);
        execl(strXvfb.c_str(), "Xvfb", "-displayfd", strFd.c_str(), "-screen", "0", "1024x768x24",
              "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string strNumber;
    auto tEnd = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < tEnd && strNumber.find('\n') == std::string::npos) {
        pollfd pfd{fds[0], POLLIN, 0};
        if (poll(&pfd, 1, 200) > 0) {
            char buf[32];
            ssize_t n = read(fds[0], buf, sizeof(buf));
            if (n <= 0)
                break;
            strNumber.append(buf, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    if (strNumber.empty()) {
        strError = "Xvfb did not start";
        return false;
    }
    m_nDisplay = std::atoi(strNumber.c_str());

    char szTemplate[] = "/tmp/tachyra-wine-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) {
        strError = "mkdtemp failed";
        return false;
    }
    m_strPrefix = szTemplate;

    CChildProcess boot;
    boot.Start({m_strWine, "wineboot", "-i"}, Env("zh_CN.UTF-8"), false);
    int nBoot = boot.Wait(180000);
    if (nBoot == -1) {
        strError = "wineboot did not finish";
        return false;
    }
    return true;
}

void CWineHarness::TearDown() {
    if (!m_strPrefix.empty()) {
        CChildProcess kill;
        kill.Start({m_strWineServer, "-k"}, Env("C.UTF-8"), false);
        kill.Wait(30000);
        CChildProcess wait;
        wait.Start({m_strWineServer, "-w"}, Env("C.UTF-8"), false);
        wait.Wait(30000);
        CChildProcess remove;
        remove.Start({"/bin/rm", "-rf", m_strPrefix}, {}, false);
        remove.Wait(60000);
        m_strPrefix.clear();
    }
    if (m_pidXvfb > 0) {
        ::kill(m_pidXvfb, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(m_pidXvfb, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(m_pidXvfb, SIGKILL);
        waitpid(m_pidXvfb, &status, WNOHANG);
        m_pidXvfb = -1;
    }
}

std::map<std::string, std::string> CWineHarness::Env(const std::string& strLang) const {
    return {{"WINEPREFIX", m_strPrefix},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml="},
            {"DISPLAY", ":" + std::to_string(m_nDisplay)},
            {"LANG", strLang},
            {"LC_ALL", strLang}};
}

CProcessResult CWineHarness::Run(const std::string& strExe, const std::vector<std::string>& args,
                                 const std::string& strLang, int nTimeoutMs) {
    CChildProcess child;
    std::vector<std::string> argv{m_strWine, strExe};
    argv.insert(argv.end(), args.begin(), args.end());
    CProcessResult result;
    if (!child.Start(argv, Env(strLang), true))
        return result;
    result.nExitCode = child.Wait(nTimeoutMs);
    result.strOutput = child.Output();
    return result;
}

bool CWineHarness::Start(CChildProcess& child, const std::string& strExe,
                         const std::vector<std::string>& args, const std::string& strLang) {
    std::vector<std::string> argv{m_strWine, strExe};
    argv.insert(argv.end(), args.begin(), args.end());
    return child.Start(argv, Env(strLang), false);
}

bool CWineHarness::Screenshot(const std::string& strPath) {
    std::string strImport = FindProgram({"import"});
    if (strImport.empty())
        return false;
    CChildProcess shot;
    shot.Start(
        {strImport, "-display", ":" + std::to_string(m_nDisplay), "-window", "root", strPath}, {},
        false);
    return shot.Wait(30000) == 0;
}

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    int nPort = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        nPort = ntohs(addr.sin_port);
    close(fd);
    return nPort;
}
