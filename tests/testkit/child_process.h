// A second process for the network tests: spawned with its standard output on a pipe,
// read line by line with bounded waits, stopped by signal, always reaped.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts argv[0] with the arguments, in a process group of its own, with the extra
    // environment variables added (or replaced). With bCapture, stdout and stderr are
    // kept separately; without, both go to /dev/null. fdAs3, when given, is the child's
    // descriptor 3. An object may run several processes one after the other.
    bool Start(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}, bool bCapture = true,
               int fdAs3 = -1);
    // True until the process has ended (and been reaped).
    bool Running();
    // Reads stdout until a line containing strNeedle arrives; returns that line, or ""
    // when the process ends or the wait runs out.
    std::string WaitForLine(const std::string& strNeedle,
                            std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Everything written to stdout / stderr so far (reads what is pending).
    std::string Stdout();
    std::string Stderr();
    void Signal(int nSignal);
    // Waits for the exit; returns the exit status, or -1 (then kills its whole process
    // group) on time-out, or 128 + signal when it died by a signal.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    int Pid() const { return m_nPid; }

private:
    void Pump(int nTimeoutMs);
    void Reap(int nStatus);
    void CloseOutputs();
    int m_nPid = -1;
    int m_fdOut = -1;
    int m_fdErr = -1;
    std::string m_strOut;
    std::string m_strErr;
    size_t m_nScanned = 0;
    bool m_bExited = false;
    int m_nStatus = 0;
};

// Path of tachyra-cli in the build tree.
std::string CliPath();

// Starts "tachyra-cli -s -B 127.0.0.1 -p 0" with the extra arguments, behind the command
// prefix (e.g. prlimit), and returns the port it listens on (0 on failure).
int StartCliServer(CChildProcess& child, const std::vector<std::string>& extra = {},
                   std::vector<std::string> prefix = {});
