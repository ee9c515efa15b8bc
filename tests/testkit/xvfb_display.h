// A private X server for the window tests, and X clients run on it.
#pragma once

#include "testkit/child_process.h"

// Xvfb on a display number it picks itself (-displayfd); ended with the object.
class CXvfbDisplay {
public:
    ~CXvfbDisplay() { Stop(); }
    // Starts it and waits (bounded) until it takes clients; false with a reason.
    bool Start(std::string& strError);
    void Stop();
    const std::string& Name() const { return m_strName; } // ":N"
    // Runs an X client found on PATH on this display to its end; true on exit code 0.
    bool Run(const std::vector<std::string>& args,
             std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // The whole screen as PNG (ImageMagick's import).
    bool Screenshot(const std::string& strPath) {
        return Run({"import", "-window", "root", strPath});
    }

private:
    CChildProcess m_xvfb;
    std::string m_strName;
};
