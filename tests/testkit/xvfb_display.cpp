#include "testkit/xvfb_display.h"

#include <csignal>

bool CXvfbDisplay::Start(std::string& strError) {
    // -displayfd 1: the display number arrives on stdout once clients can connect; the
    // server's own chatter on stderr is dropped so that no unread pipe can stall it.
    const bool bStarted = m_xvfb.Start(
        {"/bin/sh", "-c",
         "exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null"});
    const std::string strLine = bStarted ? m_xvfb.WaitForLine("", std::chrono::seconds(20)) : "";
    if (strLine.empty()) {
        strError = bStarted ? "Xvfb did not start (is the xvfb package installed?)"
                            : "cannot start /bin/sh";
        Stop();
        return false;
    }
    m_strName = ":" + strLine;
    return true;
}

void CXvfbDisplay::Stop() {
    m_xvfb.Signal(SIGTERM);
    m_xvfb.Wait(std::chrono::seconds(5));
    m_strName.clear();
}

bool CXvfbDisplay::Run(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    CChildProcess child;
    return child.Start(args, {{"DISPLAY", m_strName}}, false) && child.Wait(timeout) == 0;
}
