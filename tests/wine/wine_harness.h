// Runs the Windows programs under Wine on a private Xvfb display with a fresh Wine
// prefix, and the native peers (tachyra-cli) next to them. Every wait is bounded.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct CProcessResult {
    int nExitCode = -1; // -1: did not end in time (and was killed)
    std::string strOutput;
};

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts argv with the extra environment; standard output is kept when bCapture.
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               bool bCapture);
    // Waits up to nMs for the end; the exit code, or -1 after killing it on time-out.
    int Wait(int nMs);
    // Output read so far (all of it once Wait returned).
    std::string Output();
    bool Running();
    pid_t Pid() const { return m_pid; }

private:
    void Drain(int nMs);
    pid_t m_pid = -1;
    int m_fdOut = -1;
    int m_nExitCode = -1;
    bool m_bEnded = false;
    std::string m_strOutput;
};

class CWineHarness {
public:
    // Starts Xvfb, makes the prefix and boots it. False (with a reason) when it cannot.
    bool SetUp(std::string& strError);
    void TearDown();

    // Environment for a Wine process under the given locale.
    std::map<std::string, std::string> Env(const std::string& strLang) const;
    std::string Wine() const { return m_strWine; }
    int Display() const { return m_nDisplay; }

    // Runs a Windows program to its end.
    CProcessResult Run(const std::string& strExe, const std::vector<std::string>& args,
                       const std::string& strLang, int nTimeoutMs);
    // Starts a Windows program in the background.
    bool Start(CChildProcess& child, const std::string& strExe,
               const std::vector<std::string>& args, const std::string& strLang);
    // Saves the screen as PNG.
    bool Screenshot(const std::string& strPath);

private:
    std::string m_strWine;
    std::string m_strWineServer;
    std::string m_strPrefix;
    int m_nDisplay = -1;
    pid_t m_pidXvfb = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
