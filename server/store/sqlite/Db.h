// Thin RAII layer over SQLite: one connection, prepared statements with bound parameters only.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvo::server {

class Statement;
class WriteGate;

class Db {
public:
    Db() = default;
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    Db(Db&& other) noexcept;
    Db& operator=(Db&& other) noexcept;

    // Opens (and with create, creates) the file; sets WAL, a busy time-out and foreign keys. ":memory:"
    // is a private database in memory, as SQLite names it.
    bool open(const std::string& path, bool readOnly, std::string& error);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Whether the path still names the file this connection opened: a file moved over it, or a backup
    // restored by replacing it, leaves the connection reading the old one (kept alive by the open
    // handle). Memory databases are always Same.
    enum class FileState { Same, Replaced, Gone };
    FileState fileState() const;
    // The opened file's device and inode ("" for a memory database).
    std::string fileIdentity() const;
    // Closes and opens the path again, as it was opened.
    bool reopen(std::string& error);
    const std::string& path() const { return m_path; }

    // How long a write waits for the file: for this process's other writers, then for other processes.
    void setBusyTimeout(int ms);
    int busyTimeoutMs() const { return m_busyMs; }
    // The queue of this process's writers to the opened file; null for a memory database, which is
    // the connection's own.
    std::shared_ptr<WriteGate> writeGate();

    bool exec(const char* sql, std::string& error);
    bool prepare(std::string_view sql, Statement& stmt, std::string& error);
    std::string lastError() const;
    sqlite3* handle() const { return m_db; }

private:
    bool openOnce(std::string& error);

    sqlite3* m_db = nullptr;
    std::string m_path;
    bool m_readOnly = false;
    bool m_onDisk = false; // the identity below is known
    std::uint64_t m_device = 0, m_inode = 0;
    int m_busyMs = 5000;
    std::shared_ptr<WriteGate> m_gate; // taken on first write
};

class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;

    // Parameters are numbered from 1, as SQLite numbers them. Texts are copied by SQLite.
    bool bind(int index, std::string_view text);
    bool bind(int index, std::int64_t value);
    bool bind(int index, double value);
    bool bindNull(int index);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    bool reset();
    bool execute(); // step once to SQLITE_DONE, then reset for the next use

    int columnCount() const;
    const char* columnName(int col) const;
    std::string_view text(int col) const;
    std::int64_t integer(int col) const;
    bool isNull(int col) const;

    sqlite3_stmt* handle() const { return m_stmt; }
    void attach(sqlite3_stmt* stmt);

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// A write transaction (BEGIN IMMEDIATE) taken in turn with the process's other writers of the file:
// commits on commit(), rolls back on destruction otherwise. The wait for the turn and for the file
// together last at most the connection's busy time-out. On a connection already inside a transaction
// it joins that one: the outer transaction commits or rolls back the whole.
class Transaction {
public:
    explicit Transaction(Db& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return m_open; }
    // Why it could not begin ("database is locked" when the wait ran out).
    const std::string& error() const { return m_error; }
    bool commit(std::string& error);

private:
    void leaveGate();

    Db& m_db;
    std::shared_ptr<WriteGate> m_gate; // entered, until the transaction ends
    bool m_open = false;
    bool m_joined = false; // part of a transaction begun before
    std::string m_error;
};

} // namespace orvo::server
