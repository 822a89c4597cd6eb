// A thin C++ face on SQLite 3: a database, its prepared statements and their result rows, and one
// exception type. Private to the process manager (its reputation database) and the tool that
// builds that database.
//
// Threads: an object is used by one thread at a time.
#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

class CppSQLite3Exception {
public:
    // Text: "<code's name>[<code>]: <message>", such as "SQLITE_ERROR[1]: no such table: unwanted".
    CppSQLite3Exception(int nErrCode, const std::string& strErrMess);

    int errorCode() const { return m_nErrCode; }
    const char* errorMessage() const { return m_strErrMess.c_str(); }

    // The name of a result code ("SQLITE_BUSY"; an extended code by its primary name).
    static const char* errorCodeAsString(int nErrCode);

private:
    int m_nErrCode;
    std::string m_strErrMess;
};

class CppSQLite3Query {
public:
    CppSQLite3Query() = default;
    CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof);

    bool eof() const { return m_bEof; }
    void nextRow();
    // Done with the rows; the statement stays with its CppSQLite3Statement, ready to run again.
    void finalize();

private:
    sqlite3* m_pDB = nullptr;
    sqlite3_stmt* m_pVM = nullptr;
    bool m_bEof = true;
};

class CppSQLite3Statement {
public:
    CppSQLite3Statement() = default;
    CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM);
    CppSQLite3Statement(CppSQLite3Statement&& other) noexcept;
    CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
    CppSQLite3Statement(const CppSQLite3Statement&) = delete;
    CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
    ~CppSQLite3Statement();

    // Binds UTF-8 text to the 1-based parameter nParam (copied).
    void bind(int nParam, const std::string& strValue);
    // Runs the statement from its first row; a statement run before is reset first.
    CppSQLite3Query execQuery();
    // Runs a statement that returns no rows; the number of rows it changed.
    int execDML();
    void finalize();

private:
    void reset();

    sqlite3* m_pDB = nullptr;
    sqlite3_stmt* m_pVM = nullptr;
};

class CppSQLite3DB {
public:
    CppSQLite3DB() = default;
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    ~CppSQLite3DB();

    // Opens an existing database read-only, or with bWritable a database that is created when
    // missing. Throws when it cannot be opened (a missing file read-only: SQLITE_CANTOPEN).
    void open(const std::string& strFile, bool bWritable = false);
    void close();
    // Prepares one statement; throws on a syntax error or a missing table.
    CppSQLite3Statement compileStatement(const std::string& strSQL);
    // Runs one or more statements that return no rows.
    void execDML(const std::string& strSQL);

private:
    void checkDB() const;

    sqlite3* m_pDB = nullptr;
};
