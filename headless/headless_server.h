// The headless test server shared by tachyra-cli and the Linux program without a display.
#pragma once

#include <string>

// Serves on strBind ("" = every IPv4 interface) and nPort (0 = any free port), printing
// "Tachyra server listening on port N" and then the receive and send rates each second.
// Call InstallStopSignal and InitSocketLibrary first. Returns 0 after a stop signal, 1
// when the port cannot be opened or accepting fails; errors are prefixed by pszProgram.
int RunServerMode(const char* pszProgram, const std::string& strBind, int nPort);
