// Thin RAII layer over libpq: one connection, statements with bound parameters only (text format), and
// large results streamed one row at a time.
//
// The store keeps text as UTF-8 and every text column collates "C" (byte order, as SQLite compares), so
// the database may be UTF8 (createdb's default) or SQL_ASCII (bytes in, the same bytes out). open() sets
// the client encoding to the database's own, so that no byte is ever converted, and refuses a database
// in any other encoding, where UTF-8 text would be converted or rejected.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server::pg {

// Values for one statement, in $1, $2, ... order; each a bound text-format parameter, never SQL text.
class PgParams {
public:
    PgParams& add(std::string_view text);
    PgParams& add(std::int64_t number);
    PgParams& addNull();

    int count() const { return static_cast<int>(m_values.size()); }
    // libpq reads text parameters up to their first NUL, so a value holding one would be silently cut
    // short (and a hostile value could match what it was never meant to); such values are refused.
    bool valid(std::string& error) const;
    std::vector<const char*> pointers() const;

private:
    std::vector<std::string> m_values;
    std::vector<bool> m_null;
};

// One row of a result: values are views into the result and valid while the row is.
class PgRow {
public:
    PgRow(const PGresult* result, int row) : m_result(result), m_row(row) {}
    int columns() const { return PQnfields(m_result); }
    const char* columnName(int col) const { return PQfname(m_result, col); }
    bool isNull(int col) const { return PQgetisnull(m_result, m_row, col) != 0; }
    std::string_view text(int col) const;
    // The column as an integer; 0 for NULL or text that is not a whole number.
    std::int64_t integer(int col) const;
    // Rows held by the result this row came from: 1 while streaming.
    int rowsHeld() const { return PQntuples(m_result); }

private:
    const PGresult* m_result;
    int m_row;
};

struct PgResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};

// A whole result, for small answers (a count, a version, one operator).
class PgResult {
public:
    PgResult() = default;
    explicit PgResult(PGresult* r) : m_result(r) {}
    explicit operator bool() const { return m_result != nullptr; }
    int rows() const { return m_result ? PQntuples(m_result.get()) : 0; }
    int columns() const { return m_result ? PQnfields(m_result.get()) : 0; }
    const char* columnName(int col) const { return PQfname(m_result.get(), col); }
    PgRow row(int index) const { return PgRow(m_result.get(), index); }
    std::int64_t affected() const;
    const PGresult* raw() const { return m_result.get(); }

private:
    std::unique_ptr<PGresult, PgResultFree> m_result;
};

// How long a pooled session's statement may run, and wait for a lock, before the database cancels it
// (milliseconds; 0: no limit). A cancelled statement fails with a text that says the database took too long.
struct PgTimeouts {
    int statementMs = 30000;
    int lockMs = 5000;
};

class PgConnection {
public:
    PgConnection() = default;
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // conninfo is anything libpq accepts (a URI such as postgresql://user@host:5432/db, or key=value
    // pairs, or empty); libpq's PG* environment variables fill what it leaves out. Without a connect
    // time-out in either, connecting gives up after 10 seconds; TCP keepalives notice a vanished host
    // within about 90 seconds. A server's pooled sessions get their statement and lock time-outs from
    // setTimeouts(); others keep the database's settings (or options=-c ...).
    bool open(const std::string& conninfo, std::string& error);
    void close();
    // Sets the session's statement and lock time-outs (they hold until the connection closes).
    bool setTimeouts(const PgTimeouts& timeouts, std::string& error);
    bool isOpen() const { return m_conn != nullptr; }
    // Reads what the server sent while the connection sat idle: true when it has gone (terminated,
    // restarted, network lost). Never blocks.
    bool isBroken();
    // True outside any transaction and with no statement running: fit to be handed to someone else.
    bool isIdle() const;

    // Statements without parameters (DDL, BEGIN, COMMIT); the text may hold several.
    bool exec(const char* sql, std::string& error);
    // One statement with bound parameters; the result is held whole, so for small answers only.
    PgResult query(const char* sql, const PgParams& params, std::string& error);
    // Prepares a named statement on this connection (once; later calls with the same name do nothing).
    bool prepare(const std::string& name, const char* sql, std::string& error);
    PgResult queryPrepared(const std::string& name, const PgParams& params, std::string& error);

    // Runs the statement and hands its rows to onRow one at a time (single-row mode): at most one row is
    // held at once, whatever the result's size. onRow returns false to stop early; the rest of the
    // result is cancelled and drained (inside a transaction, that fails the transaction). Returns the number
    // of rows handed over, or -1 on error.
    using RowSink = std::function<bool(const PgRow&)>;
    std::int64_t stream(const char* sql, const PgParams& params, const RowSink& onRow, std::string& error);
    std::int64_t streamPrepared(const std::string& name, const PgParams& params, const RowSink& onRow,
                                std::string& error);

    int backendPid() const { return m_conn ? PQbackendPID(m_conn) : 0; }
    std::string lastError() const;
    PGconn* handle() const { return m_conn; }

private:
    std::int64_t collect(const RowSink& onRow, std::string& error);
    PgResult finish(PGresult* result, std::string& error);

    PGconn* m_conn = nullptr;
    std::vector<std::string> m_prepared;
};

} // namespace orvo::server::pg
