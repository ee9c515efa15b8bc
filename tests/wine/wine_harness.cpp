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
    int nBoot = boot.Wait(std::chrono::milliseconds(180000));
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
        kill.Wait(std::chrono::milliseconds(30000));
        CChildProcess wait;
        wait.Start({m_strWineServer, "-w"}, Env("C.UTF-8"), false);
        wait.Wait(std::chrono::milliseconds(30000));
        CChildProcess remove;
        remove.Start({"/bin/rm", "-rf", m_strPrefix}, {}, false);
        remove.Wait(std::chrono::milliseconds(60000));
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
    result.nExitCode = child.Wait(std::chrono::milliseconds(nTimeoutMs));
    // Windows programs end their lines with "\r\n".
    for (char ch : child.Stdout()) {
        if (ch != '\r')
            result.strOutput += ch;
    }
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
    return shot.Wait(std::chrono::milliseconds(30000)) == 0;
}
