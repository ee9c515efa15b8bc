// Runs the Windows programs under Wine on a private Xvfb display with a fresh Wine
// prefix, and the native peers (tachyra-cli) next to them. Every wait is bounded.
#pragma once

#include "testkit/child_process.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct CProcessResult {
    int nExitCode = -1; // -1: did not end in time (and was killed)
    std::string strOutput;
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
