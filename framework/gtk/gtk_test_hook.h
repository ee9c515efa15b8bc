// A line-based control channel through which the window tests read and drive the real
// window from another process. It exists only when the environment variable
// TACHYRA_TEST_CONTROL_FD names an open socket the test runner passed in; the program
// never opens it on its own.
//
// Requests are one line each, "command [id] [text]"; every request gets one line back,
// "ok [payload]" or "err reason", with "\\", "\n" and "\t" in the payload escaped as
// "\\\\", "\\n" and "\\t". Commands that may open a modal box (click, answer, close,
// menu) are queued to the main loop and answered at once, so the runner can go on
// reading the window while the box is up.
#pragma once

#include <string>

class CGtkWindowSystem;

// Starts serving the channel on the main loop when the variable is set; returns whether
// it did. Call on the dialog's thread before the main loop runs.
bool StartGtkTestHook(CGtkWindowSystem* pWindowSystem);

// The reply to one request line (exposed for the unit tests of the parser).
std::string HandleGtkTestRequest(CGtkWindowSystem* pWs, const std::string& strLine);
// Escaping of reply payloads.
std::string EscapeTestPayload(const std::string& strText);
