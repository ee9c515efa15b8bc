// Runs the real tachyra window under its own Xvfb server and drives it: through the
// program's test control channel (read controls, click, set texts, read and answer
// message boxes) and through real X input events (xdotool) for keys and mouse clicks.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

// A private X server on a display number it picks itself (-displayfd).
class CXvfb {
public:
    // Starts it and waits (bounded) until it accepts clients; false on failure.
    bool Start(std::string& strError);
    // Ends it and waits (bounded) for it to leave.
    void Stop();
    ~CXvfb() { Stop(); }
    const std::string& Display() const { return m_strDisplay; }

private:
    pid_t m_pid = -1;
    std::string m_strDisplay;
};

struct CAppOptions {
    // Limit on the size of any file the program writes (0: none). A write past it fails
    // as on a full disk.
    long nFileSizeLimit = 0;
    std::vector<std::string> vecExtraEnv;
};

class CWindowDriver {
public:
    CWindowDriver(std::string strDisplay, std::string strRoot);
    ~CWindowDriver();

    // Starts tachyra with XDG_CONFIG_HOME (and HOME, XDG_DATA_*) inside strRoot and waits
    // until its window is mapped.
    bool Launch(std::string& strError, const CAppOptions& options = CAppOptions());
    // One request; the reply without "ok " (an "err ..." reply is returned whole, and a
    // lost channel gives "err lost").
    std::string Ask(const std::string& strRequest);
    // Polls fnDone every 50 ms until it holds or nSeconds have passed.
    static bool WaitUntil(const std::function<bool()>& fnDone, double nSeconds = 10);
    // Waits until Ask(strRequest) == strExpected; false on timeout.
    bool WaitFor(const std::string& strRequest, const std::string& strExpected,
                 double nSeconds = 10);
    // Waits (bounded) for the process to end; its exit code, or -1 (still running, then
    // killed) or -2 (ended by a signal).
    int WaitExit(double nSeconds = 10);
    bool Running();

    // Real X input through xdotool: keys to the focused window, clicks at a point.
    bool Key(const std::string& strKeys);
    bool TypeText(const std::string& strText);
    bool ClickAt(int x, int y);
    // Gives the window the input focus and waits until GTK reports it active.
    bool FocusWindow();
    // Screenshot of the whole screen.
    bool Screenshot(const std::string& strPath);

    const std::string& ConfigHome() const { return m_strConfig; }
    std::string SettingsPath() const { return m_strConfig + "/tachyra/settings.ini"; }
    std::string Output() const; // the program's stdout and stderr so far

private:
    bool RunTool(const std::vector<std::string>& vecArgs);

    std::string m_strDisplay;
    std::string m_strRoot;
    std::string m_strConfig;
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_strPending;
};

// Helpers of the tests.
std::string ReadWholeFile(const std::string& strPath);
void WriteWholeFile(const std::string& strPath, const std::string& strText);
std::string MakeTempDir();
void RemoveTree(const std::string& strPath);
// "12.34MB/s" at the end of a pane text as a number; -1 when it has none.
double PaneRate(const std::string& strPaneText);
std::vector<std::string> SplitTabs(const std::string& strText);
