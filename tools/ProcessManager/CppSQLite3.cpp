#include "tools/ProcessManager/CppSQLite3.h"

#include <sqlite3.h>

#include <iterator>
#include <string>
#include <utility>

namespace {

// Errors the wrapper itself raises, beyond SQLite's codes.
constexpr int CPPSQLITE_ERROR = 1000;

[[noreturn]] void Throw(sqlite3* pDB, int nCode) {
    throw CppSQLite3Exception(nCode, pDB != nullptr ? sqlite3_errmsg(pDB) : sqlite3_errstr(nCode));
}

}  // namespace

CppSQLite3Exception::CppSQLite3Exception(int nErrCode, const std::string& strErrMess)
    : m_nErrCode(nErrCode),
      m_strErrMess(std::string(errorCodeAsString(nErrCode)) + "[" + std::to_string(nErrCode) + "]: " + strErrMess) {}

const char* CppSQLite3Exception::errorCodeAsString(int nErrCode) {
    static const char* const s_aNames[] = {
        "SQLITE_OK", "SQLITE_ERROR", "SQLITE_INTERNAL", "SQLITE_PERM", "SQLITE_ABORT", "SQLITE_BUSY",
        "SQLITE_LOCKED", "SQLITE_NOMEM", "SQLITE_READONLY", "SQLITE_INTERRUPT", "SQLITE_IOERR",
        "SQLITE_CORRUPT", "SQLITE_NOTFOUND", "SQLITE_FULL", "SQLITE_CANTOPEN", "SQLITE_PROTOCOL",
        "SQLITE_EMPTY", "SQLITE_SCHEMA", "SQLITE_TOOBIG", "SQLITE_CONSTRAINT", "SQLITE_MISMATCH",
        "SQLITE_MISUSE", "SQLITE_NOLFS", "SQLITE_AUTH", "SQLITE_FORMAT", "SQLITE_RANGE", "SQLITE_NOTADB",
        "SQLITE_NOTICE", "SQLITE_WARNING"};
    if (nErrCode == SQLITE_ROW) {
        return "SQLITE_ROW";
    }
    if (nErrCode == SQLITE_DONE) {
        return "SQLITE_DONE";
    }
    if (nErrCode == CPPSQLITE_ERROR) {
        return "CPPSQLITE_ERROR";
    }
    const int nPrimary = nErrCode & 0xff;
    return nErrCode >= 0 && nPrimary < static_cast<int>(std::size(s_aNames)) ? s_aNames[nPrimary] : "UNKNOWN_ERROR";
}

CppSQLite3Query::CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof) : m_pDB(pDB), m_pVM(pVM), m_bEof(bEof) {}

void CppSQLite3Query::nextRow() {
    if (m_pVM == nullptr || m_bEof) {
        return;
    }
    const int nRet = sqlite3_step(m_pVM);
    if (nRet == SQLITE_DONE) {
        m_bEof = true;
    } else if (nRet != SQLITE_ROW) {
        m_bEof = true;
        Throw(m_pDB, nRet);
    }
}

void CppSQLite3Query::finalize() {
    if (m_pVM != nullptr) {
        sqlite3_reset(m_pVM);
    }
    m_pVM = nullptr;
    m_bEof = true;
}

CppSQLite3Statement::CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM) : m_pDB(pDB), m_pVM(pVM) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& other) noexcept
    : m_pDB(std::exchange(other.m_pDB, nullptr)), m_pVM(std::exchange(other.m_pVM, nullptr)) {}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
    if (this != &other) {
        finalize();
        m_pDB = std::exchange(other.m_pDB, nullptr);
        m_pVM = std::exchange(other.m_pVM, nullptr);
    }
    return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() { finalize(); }

void CppSQLite3Statement::reset() {
    if (m_pVM == nullptr) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
    }
    sqlite3_reset(m_pVM);
}

void CppSQLite3Statement::bind(int nParam, const std::string& strValue) {
    reset();
    const int nRet = sqlite3_bind_text(m_pVM, nParam, strValue.data(), static_cast<int>(strValue.size()),
                                       SQLITE_TRANSIENT);
    if (nRet != SQLITE_OK) {
        Throw(m_pDB, nRet);
    }
}

CppSQLite3Query CppSQLite3Statement::execQuery() {
    reset();
    const int nRet = sqlite3_step(m_pVM);
    if (nRet != SQLITE_ROW && nRet != SQLITE_DONE) {
        Throw(m_pDB, nRet);
    }
    return CppSQLite3Query(m_pDB, m_pVM, nRet == SQLITE_DONE);
}

int CppSQLite3Statement::execDML() {
    reset();
    const int nRet = sqlite3_step(m_pVM);
    if (nRet != SQLITE_DONE && nRet != SQLITE_ROW) {
        Throw(m_pDB, nRet);
    }
    return sqlite3_changes(m_pDB);
}

void CppSQLite3Statement::finalize() {
    if (m_pVM != nullptr) {
        sqlite3_finalize(m_pVM);
        m_pVM = nullptr;
    }
}

CppSQLite3DB::~CppSQLite3DB() { close(); }

void CppSQLite3DB::open(const std::string& strFile, bool bWritable) {
    close();
    const int nFlags = bWritable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    const int nRet = sqlite3_open_v2(strFile.c_str(), &m_pDB, nFlags, nullptr);
    if (nRet != SQLITE_OK) {
        const std::string strError = m_pDB != nullptr ? sqlite3_errmsg(m_pDB) : sqlite3_errstr(nRet);
        close();
        throw CppSQLite3Exception(nRet, strError + " (" + strFile + ")");
    }
}

void CppSQLite3DB::close() {
    if (m_pDB != nullptr) {
        sqlite3_close_v2(m_pDB);
        m_pDB = nullptr;
    }
}

void CppSQLite3DB::checkDB() const {
    if (m_pDB == nullptr) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Database not open");
    }
}

CppSQLite3Statement CppSQLite3DB::compileStatement(const std::string& strSQL) {
    checkDB();
    sqlite3_stmt* pVM = nullptr;
    const int nRet = sqlite3_prepare_v2(m_pDB, strSQL.c_str(), static_cast<int>(strSQL.size()), &pVM, nullptr);
    if (nRet != SQLITE_OK) {
        Throw(m_pDB, nRet);
    }
    return CppSQLite3Statement(m_pDB, pVM);
}

void CppSQLite3DB::execDML(const std::string& strSQL) {
    checkDB();
    char* pszError = nullptr;
    const int nRet = sqlite3_exec(m_pDB, strSQL.c_str(), nullptr, nullptr, &pszError);
    if (nRet != SQLITE_OK) {
        const std::string strError = pszError != nullptr ? pszError : sqlite3_errmsg(m_pDB);
        sqlite3_free(pszError);
        throw CppSQLite3Exception(nRet, strError);
    }
}
