// A second process for the network tests: spawned with its output on pipes, read line by
// line with bounded waits, stopped by signal, always reaped.
#pragma once

#include "testkit/raw_socket.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts argv[0] (a path, or with env a name on PATH) in a process group of its own,
    // once, with env added to (or replacing) the environment. With bCapture, stdout and
    // stderr are kept apart; without, both go to /dev/null. fdAs3, when given, is the
    // child's descriptor 3.
    bool Start(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}, bool bCapture = true,
               int fdAs3 = -1);
    bool Running(); // true until the process has ended and been reaped
    // The next stdout line containing strNeedle, or "" once the process has ended or the
    // wait has run out.
    std::string WaitForLine(const std::string& strNeedle,
                            std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::string Stdout() { return Output(0); } // everything written so far
    std::string Stderr() { return Output(1); }
    void Signal(int nSignal);
    // The exit status, 128 + signal when a signal ended it, or -1 after a time-out (which
    // kills its whole process group).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    void Pump(int nTimeoutMs);
    std::string Output(int i) {
        Pump(0);
        return m_texts[i];
    }
    int m_nPid = -1;
    int m_fds[2] = {-1, -1}; // stdout, stderr
    std::string m_texts[2];
    size_t m_nScanned = 0;
    bool m_bExited = false;
    int m_nStatus = 0;
};

// Polls fnDone every nStepMs until it holds; false once the time has run out.
bool WaitUntil(const std::function<bool()>& fnDone,
               std::chrono::milliseconds timeout = std::chrono::seconds(10), int nStepMs = 50);

std::string CliPath(); // tachyra-cli in the build tree

// Starts "tachyra-cli -s -B 127.0.0.1 -p 0" with the extra arguments, behind the command
// prefix (e.g. prlimit); returns the port it listens on (0 on failure).
int StartCliServer(CChildProcess& child, const std::vector<std::string>& extra = {},
                   std::vector<std::string> prefix = {});

// A loopback port whose connects never complete: it never accepts, and a connect of its own
// fills its queue (of no room), so the kernel drops every further SYN.
struct CUnansweredPort {
    CUnansweredPort() { fill.Connect(listener.Port()); }
    int Port() const { return listener.Port(); }
    CLoopbackPort listener{true, 0};
    CRawSocket fill;
};
