// The headless test server shared by tachyra-cli and the Linux program without a display.
#pragma once

#include "engine/settings.h"

// Serves with settings (port 0 = any free port; the built-in page texts when it has
// none), printing "Tachyra server listening on port N" and then the receive and send
// rates each second; with bJsonStream, one JSON object per line instead (listening, each
// second's figures, each session's start and end). Call InstallStopSignal and
// InitSocketLibrary first. Returns 0 after a stop signal, 1 when the port cannot be opened
// or the listening socket fails; errors are prefixed by pszProgram.
int RunServerMode(const char* pszProgram, const CServerSettings& settings,
                  bool bJsonStream = false);
