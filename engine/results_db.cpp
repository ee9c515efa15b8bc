#include "engine/results_db.h"

#include "support/platform.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

namespace {

const char kSchema[] = "CREATE TABLE IF NOT EXISTS tests ("
                       "id INTEGER PRIMARY KEY, time REAL NOT NULL, peer TEXT NOT NULL, "
                       "kind TEXT NOT NULL, direction TEXT NOT NULL, seconds REAL NOT NULL, "
                       "recv_bytes INTEGER NOT NULL, send_bytes INTEGER NOT NULL, latency_ms TEXT);"
                       "CREATE INDEX IF NOT EXISTS tests_time ON tests(time);";

// A prepared statement, finalized however the caller leaves.
class CStatement {
public:
    CStatement(sqlite3* pDb, const char* pszSql) {
        if (sqlite3_prepare_v2(pDb, pszSql, -1, &m_pStmt, nullptr) != SQLITE_OK)
            m_pStmt = nullptr;
    }
    ~CStatement() { sqlite3_finalize(m_pStmt); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;
    sqlite3_stmt* Get() const { return m_pStmt; }
    void Text(int nIndex, const std::string& strText) {
        sqlite3_bind_text(m_pStmt, nIndex, strText.c_str(), static_cast<int>(strText.size()),
                          SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* m_pStmt = nullptr;
};

std::string ColumnText(sqlite3_stmt* pStmt, int nColumn) {
    const unsigned char* p = sqlite3_column_text(pStmt, nColumn);
    return p != nullptr ? reinterpret_cast<const char*>(p) : std::string();
}

std::filesystem::path Utf8Path(const std::string& strPath) {
    return std::filesystem::path(std::u8string(strPath.begin(), strPath.end()));
}

} // namespace

bool CResultsDb::Fail(const char* pszWhat, std::string& strError) {
    strError =
        std::string(pszWhat) + ": " + (m_pDb != nullptr ? sqlite3_errmsg(m_pDb) : "out of memory");
    return false;
}

bool CResultsDb::Open(const std::string& strPath, bool bCreate, std::string& strError) {
    Close();
    if (bCreate) {
        const std::filesystem::path folder = Utf8Path(strPath).parent_path();
        std::error_code ec;
        if (!folder.empty())
            std::filesystem::create_directories(folder, ec);
        if (ec) {
            strError = "cannot make the folder " + strPath + ": " + ec.message();
            return false;
        }
    }
    const int nFlags = bCreate ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(strPath.c_str(), &m_pDb, nFlags, nullptr) != SQLITE_OK) {
        Fail(strPath.c_str(), strError);
        Close();
        return false;
    }
    // Another process (tachyra-cli results) may be reading for a moment.
    sqlite3_busy_timeout(m_pDb, 2000);
    const bool bReady =
        bCreate ? sqlite3_exec(m_pDb, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK &&
                      sqlite3_exec(m_pDb, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL",
                                   nullptr, nullptr, nullptr) == SQLITE_OK
                : sqlite3_exec(m_pDb, "SELECT count(*) FROM tests", nullptr, nullptr, nullptr) ==
                      SQLITE_OK;
    if (!bReady) {
        Fail(strPath.c_str(), strError);
        Close();
        return false;
    }
    return true;
}

void CResultsDb::Close() {
    sqlite3_close(m_pDb);
    m_pDb = nullptr;
}

bool CResultsDb::Insert(const CTestResult& result, std::string& strError) {
    CStatement stmt(m_pDb, "INSERT INTO tests (time, peer, kind, direction, seconds, recv_bytes, "
                           "send_bytes, latency_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    if (stmt.Get() == nullptr)
        return Fail("cannot keep a result", strError);
    sqlite3_bind_double(stmt.Get(), 1, result.dTime);
    stmt.Text(2, result.strPeer);
    stmt.Text(3, result.strKind);
    stmt.Text(4, result.strDirection);
    sqlite3_bind_double(stmt.Get(), 5, result.dSeconds);
    sqlite3_bind_int64(stmt.Get(), 6, static_cast<sqlite3_int64>(result.nRecvBytes));
    sqlite3_bind_int64(stmt.Get(), 7, static_cast<sqlite3_int64>(result.nSendBytes));
    if (result.strLatencyJson.empty())
        sqlite3_bind_null(stmt.Get(), 8);
    else
        stmt.Text(8, result.strLatencyJson);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE)
        return Fail("cannot keep a result", strError);
    return true;
}

bool CResultsDb::SetLatency(const std::string& strPeer, double dSince,
                            const std::string& strLatencyJson, std::string& strError) {
    CStatement stmt(m_pDb, "UPDATE tests SET latency_ms = ? WHERE id = (SELECT id FROM tests "
                           "WHERE peer = ? AND kind = 'full' AND time >= ? "
                           "ORDER BY time DESC LIMIT 1)");
    if (stmt.Get() == nullptr)
        return Fail("cannot keep a result", strError);
    stmt.Text(1, strLatencyJson);
    stmt.Text(2, strPeer);
    sqlite3_bind_double(stmt.Get(), 3, dSince);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE)
        return Fail("cannot keep a result", strError);
    return true;
}

bool CResultsDb::Query(int nLimit, std::vector<CTestResult>& vecOut, std::string& strError) {
    vecOut.clear();
    CStatement stmt(m_pDb, "SELECT time, peer, kind, direction, seconds, recv_bytes, send_bytes, "
                           "latency_ms FROM tests ORDER BY time DESC, id DESC LIMIT ?");
    if (stmt.Get() == nullptr)
        return Fail("cannot read the results", strError);
    sqlite3_bind_int64(stmt.Get(), 1, nLimit > 0 ? nLimit : -1);
    int nStep;
    while ((nStep = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
        CTestResult result;
        result.dTime = sqlite3_column_double(stmt.Get(), 0);
        result.strPeer = ColumnText(stmt.Get(), 1);
        result.strKind = ColumnText(stmt.Get(), 2);
        result.strDirection = ColumnText(stmt.Get(), 3);
        result.dSeconds = sqlite3_column_double(stmt.Get(), 4);
        result.nRecvBytes = static_cast<uint64_t>(sqlite3_column_int64(stmt.Get(), 5));
        result.nSendBytes = static_cast<uint64_t>(sqlite3_column_int64(stmt.Get(), 6));
        result.strLatencyJson = ColumnText(stmt.Get(), 7);
        vecOut.push_back(std::move(result));
    }
    if (nStep != SQLITE_DONE)
        return Fail("cannot read the results", strError);
    return true;
}

std::string DefaultResultsPath() {
    const std::string strData = GetUserDataDirectory();
    if (strData.empty())
        return std::string();
    const std::filesystem::path path =
        Utf8Path(strData) / Utf8Path(kUserDataFolderName) / "results.sqlite";
    const std::u8string strU8 = path.u8string();
    return std::string(strU8.begin(), strU8.end());
}
