// A private X server for the window tests, and X clients run on it.
#pragma once

#include "testkit/child_process.h"

#include <csignal>

// Xvfb on a display number it picks itself (-displayfd); ended with the object.
class CXvfbDisplay {
public:
    ~CXvfbDisplay() { Stop(); }
    // Starts it and waits (bounded) until it takes clients; false with a reason.
    bool Start(std::string& strError) {
        // -displayfd 1: the display number arrives on stdout once clients can connect; the
        // server's own chatter on stderr is dropped so that no unread pipe can stall it.
        m_xvfb.Start({"/bin/sh", "-c",
                      "exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset "
                      "2>/dev/null"});
        const std::string strLine = m_xvfb.WaitForLine("", std::chrono::seconds(20));
        m_strName = strLine.empty() ? "" : ":" + strLine;
        strError = "Xvfb did not start (is the xvfb package installed?)";
        return !strLine.empty();
    }
    void Stop() {
        m_xvfb.Signal(SIGTERM);
        m_xvfb.Wait(std::chrono::seconds(5));
        m_strName.clear();
    }
    const std::string& Name() const { return m_strName; } // ":N"
    // Runs an X client found on PATH on this display to its end; true on exit code 0.
    bool Run(const std::vector<std::string>& args,
             std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        CChildProcess child;
        return child.Start(args, {{"DISPLAY", m_strName}}, false) && child.Wait(timeout) == 0;
    }
    // The whole screen as PNG (ImageMagick's import).
    bool Screenshot(const std::string& strPath) {
        return Run({"import", "-window", "root", strPath});
    }

private:
    CChildProcess m_xvfb;
    std::string m_strName;
};
