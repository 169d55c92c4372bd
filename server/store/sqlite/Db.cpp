#include "server/store/sqlite/Db.h"

#include "server/store/sqlite/WriteGate.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace orvo::server {

Db::~Db() {
    close();
}

Db::Db(Db&& other) noexcept {
    *this = std::move(other);
}

Db& Db::operator=(Db&& other) noexcept {
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_path = std::move(other.m_path);
        m_readOnly = other.m_readOnly;
        m_onDisk = std::exchange(other.m_onDisk, false);
        m_device = other.m_device;
        m_inode = other.m_inode;
        m_busyMs = other.m_busyMs;
        m_gate = std::move(other.m_gate);
    }
    return *this;
}

namespace {

bool identityOf(const std::string& path, std::uint64_t& device, std::uint64_t& inode) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    device = static_cast<std::uint64_t>(info.st_dev);
    inode = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

} // namespace

bool Db::open(const std::string& path, bool readOnly, std::string& error) {
    close();
    m_path = path;
    m_readOnly = readOnly;
    // The file named before and after opening is the one opened, unless it was replaced meanwhile:
    // then it is opened again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!openOnce(error))
            return false;
        std::uint64_t device = 0, inode = 0;
        const bool onDisk = path != ":memory:" && !path.empty() && identityOf(path, m_device, m_inode);
        if (!onDisk || (identityOf(path, device, inode) && device == m_device && inode == m_inode)) {
            m_onDisk = onDisk;
            return true;
        }
    }
    m_onDisk = false;
    return true;
}

bool Db::reopen(std::string& error) {
    const std::string path = m_path;
    return open(path, m_readOnly, error);
}

Db::FileState Db::fileState() const {
    if (!m_onDisk)
        return FileState::Same;
    std::uint64_t device = 0, inode = 0;
    if (!identityOf(m_path, device, inode))
        return FileState::Gone;
    return device == m_device && inode == m_inode ? FileState::Same : FileState::Replaced;
}

std::string Db::fileIdentity() const {
    return m_onDisk ? std::to_string(m_device) + ":" + std::to_string(m_inode) : std::string();
}

bool Db::openOnce(std::string& error) {
    close();
    const std::string& path = m_path;
    const bool readOnly = m_readOnly;
    if (!readOnly && path != ":memory:") {
        // Created by us first, owner-only: it holds password hashes and every customer's data. SQLite
        // gives its -wal, -shm and journal files the permissions of the database file.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    flags |= SQLITE_OPEN_NOMUTEX; // each connection is used by one thread at a time
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, m_busyMs);
    sqlite3_extended_result_codes(m_db, 1);
    // A reading connection maps the file: each commit elsewhere makes it drop the pages it holds, and
    // mapped pages are read again without a copy (a server's connections beside a busy writer spent
    // most of their time in read calls). Writers keep reading through calls.
    const char* pragmas = readOnly
                              ? "PRAGMA foreign_keys=ON; PRAGMA mmap_size=268435456;"
                              : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;";
    if (!exec(pragmas, error)) {
        close();
        return false;
    }
    return true;
}

void Db::close() {
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_onDisk = false;
    m_gate.reset(); // opened again, the path may name another file
}

void Db::setBusyTimeout(int ms) {
    m_busyMs = std::max(ms, 0);
    if (m_db)
        sqlite3_busy_timeout(m_db, m_busyMs);
}

std::shared_ptr<WriteGate> Db::writeGate() {
    if (!m_gate && m_onDisk)
        m_gate = WriteGate::forFile(fileIdentity());
    return m_gate;
}

bool Db::exec(const char* sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        error = msg ? msg : "sqlite error";
        sqlite3_free(msg);
        return false;
    }
    return true;
}

bool Db::prepare(std::string_view sql, Statement& stmt, std::string& error) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(m_db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw,
                           nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    stmt.attach(raw);
    return true;
}

std::string Db::lastError() const {
    return m_db ? sqlite3_errmsg(m_db) : "database not open";
}

Statement::~Statement() {
    attach(nullptr);
}

Statement::Statement(Statement&& other) noexcept : m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other)
        attach(std::exchange(other.m_stmt, nullptr));
    return *this;
}

void Statement::attach(sqlite3_stmt* stmt) {
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = stmt;
}

bool Statement::bind(int index, std::string_view text) {
    return sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
           SQLITE_OK;
}

bool Statement::bind(int index, std::int64_t value) {
    return sqlite3_bind_int64(m_stmt, index, value) == SQLITE_OK;
}

bool Statement::bind(int index, double value) {
    return sqlite3_bind_double(m_stmt, index, value) == SQLITE_OK;
}

bool Statement::bindNull(int index) {
    return sqlite3_bind_null(m_stmt, index) == SQLITE_OK;
}

int Statement::step() {
    return sqlite3_step(m_stmt);
}

bool Statement::reset() {
    sqlite3_clear_bindings(m_stmt);
    return sqlite3_reset(m_stmt) == SQLITE_OK;
}

bool Statement::execute() {
    int rc = sqlite3_step(m_stmt);
    bool ok = rc == SQLITE_DONE;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    return ok;
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

const char* Statement::columnName(int col) const {
    return sqlite3_column_name(m_stmt, col);
}

std::string_view Statement::text(int col) const {
    const unsigned char* p = sqlite3_column_text(m_stmt, col);
    if (!p)
        return {};
    return {reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(m_stmt, col))};
}

std::int64_t Statement::integer(int col) const {
    return sqlite3_column_int64(m_stmt, col);
}

bool Statement::isNull(int col) const {
    return sqlite3_column_type(m_stmt, col) == SQLITE_NULL;
}

Transaction::Transaction(Db& db) : m_db(db) {
    using namespace std::chrono;
    if (!m_db.isOpen()) {
        m_error = "database not open";
        return;
    }
    if (sqlite3_get_autocommit(m_db.handle()) == 0) {
        m_open = m_joined = true;
        return;
    }
    const auto began = steady_clock::now();
    const milliseconds patience(m_db.busyTimeoutMs());
    m_gate = m_db.writeGate();
    if (m_gate && !m_gate->enter(patience)) {
        m_gate.reset();
        m_error = "database is locked: other writers of this process held it for " +
                  std::to_string(patience.count()) + " ms";
        return;
    }
    // What is left of the wait goes to writers in other processes.
    const auto left = duration_cast<milliseconds>(patience - (steady_clock::now() - began)).count();
    sqlite3_busy_timeout(m_db.handle(), static_cast<int>(std::max<std::int64_t>(left, 1)));
    m_open = m_db.exec("BEGIN IMMEDIATE", m_error);
    sqlite3_busy_timeout(m_db.handle(), m_db.busyTimeoutMs());
    if (!m_open)
        leaveGate();
}

Transaction::~Transaction() {
    if (m_open && !m_joined) {
        std::string ignored;
        m_db.exec("ROLLBACK", ignored);
    }
    leaveGate();
}

void Transaction::leaveGate() {
    if (m_gate)
        std::exchange(m_gate, nullptr)->leave();
}

bool Transaction::commit(std::string& error) {
    if (!m_open) {
        error = m_error.empty() ? "no open transaction" : m_error;
        return false;
    }
    m_open = false;
    if (m_joined)
        return true;
    bool committed = m_db.exec("COMMIT", error);
    if (!committed) {
        // A COMMIT refused (a deferred constraint) leaves the transaction open: end it here, changing
        // nothing.
        std::string ignored;
        m_db.exec("ROLLBACK", ignored);
    }
    leaveGate();
    return committed;
}

} // namespace orvo::server
