// tachyra-cli results: the kept history printed without a server.
#pragma once

#include <string>

struct CResultsOptions {
    std::string strDb; // empty: the server's default file
    bool bCsv = false;
    bool bJson = false;
    int nLimit = 0; // 0: all
};

// Prints the history as a table, CSV or JSON. Returns the exit status: 0, or 1 when the
// file cannot be read as a results database.
int RunResultsMode(const CResultsOptions& options);
