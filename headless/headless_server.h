// The headless test server shared by tachyra-cli and the Linux program without a display.
#pragma once

#include "engine/settings.h"

#include <functional>
#include <string>

// The text that draws an address as a QR code in a terminal (lines ending in '\n').
using FQrText = std::function<std::string(const std::string& strText)>;

// Serves with settings (port 0 = any free port; the built-in page texts when it has
// none), printing "Tachyra server listening on port N", the page addresses (on every
// interface, those of each network address as well) and, with qrText, the first full-test
// address as a QR code; then the receive and send rates of each second that moved bytes,
// and a line as each test ends. With bJsonStream, one JSON object per line instead
// (listening with the addresses, each second's figures, each session's start and end).
// Call InstallStopSignal and InitSocketLibrary first. Returns 0 after a stop signal, 1
// when the port cannot be opened or the listening socket fails; errors are prefixed by
// pszProgram.
int RunServerMode(const char* pszProgram, const CServerSettings& settings, bool bJsonStream = false,
                  FQrText qrText = nullptr);
