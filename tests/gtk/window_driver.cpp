// Process, X server and channel handling for the window tests.
#include "gtk/window_driver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef TACHYRA_GTK_APP_PATH
#error "TACHYRA_GTK_APP_PATH must name the tachyra binary"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Waits for pid to end within nSeconds; its status in *pStatus. False on timeout.
bool WaitPid(pid_t pid, double nSeconds, int* pStatus) {
    auto t0 = Clock::now();
    for (;;) {
        pid_t r = waitpid(pid, pStatus, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return true; // not our child any more
        if (SecondsSince(t0) > nSeconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string Unescape(const std::string& str) {
    std::string strOut;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == '\\' && i + 1 < str.size()) {
            char ch = str[++i];
            strOut += ch == 'n' ? '\n' : ch == 't' ? '\t' : ch;
        } else {
            strOut += str[i];
        }
    }
    return strOut;
}

} // namespace

bool CXvfb::Start(std::string& strError) {
    int aPipe[2];
    if (pipe(aPipe) != 0) {
        strError = "pipe failed";
        return false;
    }
    m_pid = fork();
    if (m_pid == 0) {
        close(aPipe[0]);
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 0);
        dup2(fdNull, 1);
        dup2(fdNull, 2);
        std::string strFd = std::to_string(aPipe[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", strFd.c_str(), "-screen", "0", "1024x768x24",
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(aPipe[1]);
    if (m_pid < 0) {
        close(aPipe[0]);
        strError = "fork failed";
        return false;
    }
    // Xvfb writes the display number once it is ready for clients.
    std::string strNumber;
    auto t0 = Clock::now();
    while (SecondsSince(t0) < 20) {
        struct pollfd pfd = {aPipe[0], POLLIN, 0};
        if (poll(&pfd, 1, 200) <= 0)
            continue;
        char szBuf[32];
        ssize_t n = read(aPipe[0], szBuf, sizeof(szBuf));
        if (n <= 0)
            break;
        strNumber.append(szBuf, static_cast<size_t>(n));
        if (strNumber.find('\n') != std::string::npos)
            break;
    }
    close(aPipe[0]);
    while (!strNumber.empty() && (strNumber.back() == '\n' || strNumber.back() == ' '))
        strNumber.pop_back();
    if (strNumber.empty()) {
        strError = "Xvfb did not start (is the xvfb package installed?)";
        Stop();
        return false;
    }
    m_strDisplay = ":" + strNumber;
    return true;
}

void CXvfb::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int nStatus = 0;
    if (!WaitPid(m_pid, 5, &nStatus)) {
        kill(m_pid, SIGKILL);
        WaitPid(m_pid, 5, &nStatus);
    }
    m_pid = -1;
}

CWindowDriver::CWindowDriver(std::string strDisplay, std::string strRoot)
    : m_strDisplay(std::move(strDisplay)), m_strRoot(std::move(strRoot)),
      m_strConfig(m_strRoot + "/config") {}

CWindowDriver::~CWindowDriver() {
    if (m_fd >= 0)
        close(m_fd);
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int nStatus = 0;
        WaitPid(m_pid, 5, &nStatus);
    }
}

bool CWindowDriver::Launch(std::string& strError, const CAppOptions& options) {
    int aPair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, aPair) != 0) {
        strError = "socketpair failed";
        return false;
    }
    std::vector<std::string> vecEnv = {
        "DISPLAY=" + m_strDisplay,
        "HOME=" + m_strRoot + "/home",
        "XDG_CONFIG_HOME=" + m_strConfig,
        "XDG_DATA_HOME=" + m_strRoot + "/data",
        "XDG_DATA_DIRS=" + m_strRoot + "/data:/usr/local/share:/usr/share",
        "XDG_CACHE_HOME=" + m_strRoot + "/cache",
        "XDG_RUNTIME_DIR=" + m_strRoot + "/run",
        "PATH=/usr/local/bin:/usr/bin:/bin",
        "LANG=C.UTF-8",
        "GDK_BACKEND=x11",
        "NO_AT_BRIDGE=1",
        "GTK_A11Y=none",
        "GSETTINGS_BACKEND=memory",
        "TACHYRA_TEST_CONTROL_FD=3",
    };
    for (const std::string& str : options.vecExtraEnv)
        vecEnv.push_back(str);
    std::string strLog = m_strRoot + "/app.log";
    mkdir((m_strRoot + "/run").c_str(), 0700);

    m_pid = fork();
    if (m_pid == 0) {
        dup2(aPair[1], 3); // dup2 clears close-on-exec on the copy
        int fdLog = open(strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int fdNull = open("/dev/null", O_RDONLY);
        dup2(fdNull, 0);
        dup2(fdLog, 1);
        dup2(fdLog, 2);
        if (options.nFileSizeLimit > 0) {
            // A write past the limit fails with EFBIG instead of killing the process.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl;
            getrlimit(RLIMIT_FSIZE, &rl);
            rl.rlim_cur = static_cast<rlim_t>(options.nFileSizeLimit);
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        std::vector<char*> vecEnvp;
        for (std::string& str : vecEnv)
            vecEnvp.push_back(&str[0]);
        vecEnvp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(TACHYRA_GTK_APP_PATH), nullptr};
        execve(TACHYRA_GTK_APP_PATH, argv, vecEnvp.data());
        _exit(127);
    }
    close(aPair[1]);
    m_fd = aPair[0];
    if (m_pid < 0) {
        strError = "fork failed";
        return false;
    }
    if (!WaitFor("mapped", "1", 20)) {
        strError = "the window did not appear; output:\n" + Output();
        return false;
    }
    return true;
}

std::string CWindowDriver::Ask(const std::string& strRequest) {
    if (m_fd < 0)
        return "err lost";
    std::string strLine = strRequest + "\n";
    if (send(m_fd, strLine.data(), strLine.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(strLine.size()))
        return "err lost";
    auto t0 = Clock::now();
    for (;;) {
        size_t nEol = m_strPending.find('\n');
        if (nEol != std::string::npos) {
            std::string strReply = m_strPending.substr(0, nEol);
            m_strPending.erase(0, nEol + 1);
            if (strReply == "ok")
                return std::string();
            if (strReply.compare(0, 3, "ok ") == 0)
                return Unescape(strReply.substr(3));
            return strReply;
        }
        if (SecondsSince(t0) > 10)
            return "err timeout";
        struct pollfd pfd = {m_fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        char szBuf[4096];
        ssize_t n = recv(m_fd, szBuf, sizeof(szBuf), 0);
        if (n <= 0)
            return "err lost";
        m_strPending.append(szBuf, static_cast<size_t>(n));
    }
}

bool CWindowDriver::WaitUntil(const std::function<bool()>& fnDone, double nSeconds) {
    auto t0 = Clock::now();
    for (;;) {
        if (fnDone())
            return true;
        if (SecondsSince(t0) > nSeconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool CWindowDriver::WaitFor(const std::string& strRequest, const std::string& strExpected,
                            double nSeconds) {
    return WaitUntil([&] { return Ask(strRequest) == strExpected; }, nSeconds);
}

int CWindowDriver::WaitExit(double nSeconds) {
    if (m_pid <= 0)
        return -1;
    int nStatus = 0;
    if (!WaitPid(m_pid, nSeconds, &nStatus)) {
        kill(m_pid, SIGKILL);
        WaitPid(m_pid, 5, &nStatus);
        m_pid = -1;
        return -1;
    }
    m_pid = -1;
    if (WIFEXITED(nStatus))
        return WEXITSTATUS(nStatus);
    return -2;
}

bool CWindowDriver::Running() {
    if (m_pid <= 0)
        return false;
    int nStatus = 0;
    return waitpid(m_pid, &nStatus, WNOHANG) == 0;
}

bool CWindowDriver::RunTool(const std::vector<std::string>& vecArgs) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", m_strDisplay.c_str(), 1);
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 0);
        dup2(fdNull, 1);
        std::vector<char*> argv;
        for (const std::string& str : vecArgs)
            argv.push_back(const_cast<char*>(str.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0)
        return false;
    int nStatus = 0;
    if (!WaitPid(pid, 20, &nStatus)) {
        kill(pid, SIGKILL);
        WaitPid(pid, 5, &nStatus);
        return false;
    }
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

bool CWindowDriver::Key(const std::string& strKeys) {
    return RunTool({"xdotool", "key", "--clearmodifiers", strKeys});
}

bool CWindowDriver::TypeText(const std::string& strText) {
    return RunTool({"xdotool", "type", "--delay", "20", strText});
}

bool CWindowDriver::ClickAt(int x, int y) {
    return RunTool({"xdotool", "mousemove", std::to_string(x), std::to_string(y)}) &&
           RunTool({"xdotool", "click", "1"});
}

bool CWindowDriver::FocusWindow() {
    std::string strXid = Ask("xid");
    if (strXid.compare(0, 3, "err") == 0)
        return false;
    return WaitUntil(
        [&] {
            if (Ask("active") == "1")
                return true;
            RunTool({"xdotool", "windowfocus", strXid});
            return false;
        },
        10);
}

bool CWindowDriver::Screenshot(const std::string& strPath) {
    return RunTool({"import", "-display", m_strDisplay, "-window", "root", strPath});
}

std::string CWindowDriver::Output() const {
    return ReadWholeFile(m_strRoot + "/app.log");
}

std::string ReadWholeFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string& strPath, const std::string& strText) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strText;
}

std::string MakeTempDir() {
    char szTemplate[] = "/tmp/tachyra-gtk-XXXXXX";
    const char* psz = mkdtemp(szTemplate);
    return psz != nullptr ? psz : "";
}

void RemoveTree(const std::string& strPath) {
    if (strPath.compare(0, 17, "/tmp/tachyra-gtk-") != 0)
        return;
    std::string strCmd = "rm -rf '" + strPath + "'";
    if (std::system(strCmd.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", strPath.c_str());
}

double PaneRate(const std::string& strPaneText) {
    const std::string strColon = "：";
    size_t nPos = strPaneText.find(strColon);
    size_t nEnd = strPaneText.rfind("MB/s");
    if (nPos == std::string::npos || nEnd == std::string::npos)
        return -1;
    std::string strNumber =
        strPaneText.substr(nPos + strColon.size(), nEnd - nPos - strColon.size());
    char* pEnd = nullptr;
    double d = std::strtod(strNumber.c_str(), &pEnd);
    return pEnd != strNumber.c_str() ? d : -1;
}

std::vector<std::string> SplitTabs(const std::string& strText) {
    std::vector<std::string> vec;
    size_t nStart = 0;
    for (;;) {
        size_t nTab = strText.find('\t', nStart);
        vec.push_back(strText.substr(nStart, nTab - nStart));
        if (nTab == std::string::npos)
            break;
        nStart = nTab + 1;
    }
    return vec;
}
