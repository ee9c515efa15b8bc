// The Linux program without a display: the test server on port 10001, printing its rates.
#pragma once

// Runs until SIGINT or SIGTERM (exit status 0) or until the port cannot be opened (1).
int RunHeadlessServer(int nPort);
