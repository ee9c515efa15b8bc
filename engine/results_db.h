// The results database: one SQLite file, one table of finished tests. Nothing here is
// thread-safe; the server touches it only from its history writer, the CLI from its one
// thread.
#pragma once

#include "engine/test_result.h"

#include <string>
#include <vector>

struct sqlite3;

class CResultsDb {
public:
    CResultsDb() = default;
    ~CResultsDb() { Close(); }
    CResultsDb(const CResultsDb&) = delete;
    CResultsDb& operator=(const CResultsDb&) = delete;

    // Opens (bCreate: creating the folder, the file and the table) the database at
    // strPath. False with strError set when the file is not a database, is damaged,
    // locked or cannot be made.
    bool Open(const std::string& strPath, bool bCreate, std::string& strError);
    void Close();
    bool IsOpen() const { return m_pDb != nullptr; }
    bool Insert(const CTestResult& result, std::string& strError);
    // Gives the newest test of kind "full" from strPeer that began at dSince or later
    // its latency figures. True also when there is none.
    bool SetLatency(const std::string& strPeer, double dSince, const std::string& strLatencyJson,
                    std::string& strError);
    // The newest nLimit tests (0: all), newest first.
    bool Query(int nLimit, std::vector<CTestResult>& vecOut, std::string& strError);

private:
    bool Fail(const char* pszWhat, std::string& strError);
    sqlite3* m_pDb = nullptr;
};

// The database file used when none is named: in the user's data folder (the platform
// decides which), under "tachyra" (Linux) or "Tachyra" (Windows).
std::string DefaultResultsPath();
