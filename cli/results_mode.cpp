#include "cli/results_mode.h"

#include "engine/results_db.h"
#include "engine/results_format.h"
#include "support/format.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

int RunResultsMode(const CResultsOptions& options) {
    const std::string strPath = options.strDb.empty() ? DefaultResultsPath() : options.strDb;
    if (strPath.empty()) {
        std::fprintf(stderr, "tachyra-cli: no data folder (set HOME) and no --results-db\n");
        return 1;
    }
    std::vector<CTestResult> vecResults;
    std::error_code ec;
    // No file yet: no test has been kept, which is an empty history, not a failure.
    if (std::filesystem::exists(
            std::filesystem::path(std::u8string(strPath.begin(), strPath.end())), ec)) {
        CResultsDb db;
        std::string strError;
        if (!db.Open(strPath, false, strError) || !db.Query(options.nLimit, vecResults, strError)) {
            std::fprintf(stderr, "tachyra-cli: cannot read the results: %s\n", strError.c_str());
            return 1;
        }
    }
    if (options.bJson) {
        std::fputs(FormatResultsJson(vecResults).c_str(), stdout);
        return 0;
    }
    if (options.bCsv) {
        std::fputs(FormatResultsCsv(vecResults).c_str(), stdout);
        return 0;
    }
    if (vecResults.empty()) {
        PrintLine(stdout, "No tests kept in " + strPath);
        return 0;
    }
    PrintLine(stdout,
              FormatString("%-24s %-39s %-9s %-8s %8s %10s %10s  %s", "Time", "Peer", "Kind", "Way",
                           "Seconds", "Recv MB/s", "Send MB/s", "Latency (ms)"));
    for (const CTestResult& r : vecResults)
        PrintLine(stdout,
                  FormatString("%-24s %-39s %-9s %-8s %8.1f %10.2f %10.2f  %s",
                               FormatIsoTime(r.dTime).c_str(), r.strPeer.c_str(), r.strKind.c_str(),
                               r.strDirection.c_str(), r.dSeconds,
                               ResultMBps(r.nRecvBytes, r.dSeconds),
                               ResultMBps(r.nSendBytes, r.dSeconds), r.strLatencyJson.c_str()));
    return 0;
}
