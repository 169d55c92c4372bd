#include "server/store/postgres/PgConnection.h"

#include <charconv>
#include <cstdlib>
#include <utility>

#include <poll.h>

namespace orvo::server::pg {
namespace {

// Server messages such as "relation already exists, skipping" belong in the server's log, not on stderr.
void ignoreNotice(void*, const char*) {}

std::string trimmed(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// A statement the database cancelled for its time-out says so in words a user can act on.
std::string resultError(const PGresult* result) {
    std::string message = trimmed(PQresultErrorMessage(result));
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string_view code = state ? state : "";
    if (code == "57014" && message.find("statement timeout") != std::string::npos)
        return "the database took too long: the query ran past its time-out (" + message + ")";
    if (code == "55P03")
        return "the database took too long: the query waited past its lock time-out (" + message + ")";
    return message;
}

} // namespace

PgParams& PgParams::add(std::string_view text) {
    m_values.emplace_back(text);
    m_null.push_back(false);
    return *this;
}

PgParams& PgParams::add(std::int64_t number) {
    m_values.push_back(std::to_string(number));
    m_null.push_back(false);
    return *this;
}

PgParams& PgParams::addNull() {
    m_values.emplace_back();
    m_null.push_back(true);
    return *this;
}

bool PgParams::valid(std::string& error) const {
    for (std::size_t i = 0; i < m_values.size(); ++i)
        if (!m_null[i] && m_values[i].find('\0') != std::string::npos) {
            error = "parameter $" + std::to_string(i + 1) + " holds a NUL byte, which text cannot store";
            return false;
        }
    return true;
}

std::vector<const char*> PgParams::pointers() const {
    std::vector<const char*> out;
    out.reserve(m_values.size());
    for (std::size_t i = 0; i < m_values.size(); ++i)
        out.push_back(m_null[i] ? nullptr : m_values[i].c_str());
    return out;
}

std::string_view PgRow::text(int col) const {
    return {PQgetvalue(m_result, m_row, col), static_cast<std::size_t>(PQgetlength(m_result, m_row, col))};
}

std::int64_t PgRow::integer(int col) const {
    const std::string_view t = text(col);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size() ? value : 0;
}

std::int64_t PgResult::affected() const {
    if (!m_result)
        return 0;
    return std::strtoll(PQcmdTuples(m_result.get()), nullptr, 10);
}

PgConnection::~PgConnection() {
    close();
}

bool PgConnection::open(const std::string& conninfo, std::string& error) {
    close();
    // Later keywords override earlier ones, and the caller's string is expanded in dbname's place: our
    // connect time-out is only a default, while the client encoding is always ours.
    std::vector<const char*> keys, values;
    const char* envTimeout = std::getenv("PGCONNECT_TIMEOUT");
    if (!envTimeout || !*envTimeout) {
        keys.push_back("connect_timeout");
        values.push_back("10");
    }
    // Over TCP, a database host that vanishes without closing the connection is noticed within about
    // a minute and a half instead of the system's two hours: no wait for a row lasts for ever.
    for (const auto& [key, value] :
         {std::pair{"keepalives_idle", "60"}, std::pair{"keepalives_interval", "10"},
          std::pair{"keepalives_count", "3"}}) {
        keys.push_back(key);
        values.push_back(value);
    }
    keys.push_back("fallback_application_name");
    values.push_back("orvo-counterd");
    keys.push_back("dbname");
    values.push_back(conninfo.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    m_conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!m_conn) {
        error = "out of memory connecting to PostgreSQL";
        return false;
    }
    if (PQstatus(m_conn) != CONNECTION_OK) {
        error = "cannot connect to PostgreSQL: " + lastError();
        close();
        return false;
    }
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
    const char* encoding = PQparameterStatus(m_conn, "server_encoding");
    const std::string_view name = encoding ? encoding : "?";
    if (name != "UTF8" && name != "SQL_ASCII") {
        error = std::string("database '") + PQdb(m_conn) + "' has encoding " + std::string(name) +
                "; the counter store keeps UTF-8 text and needs a UTF8 (or SQL_ASCII) database "
                "(createdb -E UTF8 -T template0 DBNAME)";
        close();
        return false;
    }
    // The database's own encoding on the wire: text passes unconverted, whatever PGCLIENTENCODING says.
    if (PQsetClientEncoding(m_conn, encoding) != 0) {
        error = "cannot set the client encoding to " + std::string(name) + ": " + lastError();
        close();
        return false;
    }
    return true;
}

void PgConnection::close() {
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_prepared.clear();
}

bool PgConnection::setTimeouts(const PgTimeouts& timeouts, std::string& error) {
    const std::string sql = "SET statement_timeout = " + std::to_string(std::max(0, timeouts.statementMs)) +
                            "; SET lock_timeout = " + std::to_string(std::max(0, timeouts.lockMs));
    return exec(sql.c_str(), error);
}

bool PgConnection::isBroken() {
    if (!m_conn)
        return true;
    // A server that ends the session sends an error and then closes: read both, as far as they are there.
    for (int i = 0; i < 4 && PQstatus(m_conn) == CONNECTION_OK; ++i) {
        pollfd p{PQsocket(m_conn), POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || !PQconsumeInput(m_conn))
            break;
    }
    return PQstatus(m_conn) != CONNECTION_OK;
}

bool PgConnection::isIdle() const {
    return m_conn && PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_IDLE;
}

std::string PgConnection::lastError() const {
    return m_conn ? trimmed(PQerrorMessage(m_conn)) : "not connected";
}

PgResult PgConnection::finish(PGresult* raw, std::string& error) {
    PgResult result(raw);
    const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    error = raw ? resultError(raw) : lastError();
    if (error.empty())
        error = lastError();
    return PgResult();
}

bool PgConnection::exec(const char* sql, std::string& error) {
    if (!m_conn) {
        error = "not connected";
        return false;
    }
    return static_cast<bool>(finish(PQexec(m_conn, sql), error));
}

PgResult PgConnection::query(const char* sql, const PgParams& params, std::string& error) {
    if (!m_conn) {
        error = "not connected";
        return PgResult();
    }
    if (!params.valid(error))
        return PgResult();
    const std::vector<const char*> values = params.pointers();
    return finish(PQexecParams(m_conn, sql, params.count(), nullptr, values.data(), nullptr, nullptr, 0),
                  error);
}

bool PgConnection::prepare(const std::string& name, const char* sql, std::string& error) {
    if (!m_conn) {
        error = "not connected";
        return false;
    }
    for (const std::string& done : m_prepared)
        if (done == name)
            return true;
    if (!finish(PQprepare(m_conn, name.c_str(), sql, 0, nullptr), error))
        return false;
    m_prepared.push_back(name);
    return true;
}

PgResult PgConnection::queryPrepared(const std::string& name, const PgParams& params, std::string& error) {
    if (!m_conn) {
        error = "not connected";
        return PgResult();
    }
    if (!params.valid(error))
        return PgResult();
    const std::vector<const char*> values = params.pointers();
    return finish(PQexecPrepared(m_conn, name.c_str(), params.count(), values.data(), nullptr, nullptr, 0),
                  error);
}

std::int64_t PgConnection::stream(const char* sql, const PgParams& params, const RowSink& onRow,
                                  std::string& error) {
    if (!m_conn) {
        error = "not connected";
        return -1;
    }
    if (!params.valid(error))
        return -1;
    const std::vector<const char*> values = params.pointers();
    if (!PQsendQueryParams(m_conn, sql, params.count(), nullptr, values.data(), nullptr, nullptr, 0)) {
        error = lastError();
        return -1;
    }
    return collect(onRow, error);
}

std::int64_t PgConnection::streamPrepared(const std::string& name, const PgParams& params,
                                          const RowSink& onRow, std::string& error) {
    if (!m_conn) {
        error = "not connected";
        return -1;
    }
    if (!params.valid(error))
        return -1;
    const std::vector<const char*> values = params.pointers();
    if (!PQsendQueryPrepared(m_conn, name.c_str(), params.count(), values.data(), nullptr, nullptr, 0)) {
        error = lastError();
        return -1;
    }
    return collect(onRow, error);
}

std::int64_t PgConnection::collect(const RowSink& onRow, std::string& error) {
    if (!PQsetSingleRowMode(m_conn)) {
        error = "cannot stream the result row by row";
        while (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
        return -1;
    }
    std::int64_t rows = 0;
    bool stopped = false;
    bool failed = false;
    while (PGresult* raw = PQgetResult(m_conn)) {
        PgResult result(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_SINGLE_TUPLE) {
            if (stopped || failed)
                continue; // rows still on their way after a cancel: drain them
            ++rows;
            if (!onRow(result.row(0))) {
                stopped = true;
                if (PGcancel* cancel = PQgetCancel(m_conn)) {
                    char why[256];
                    PQcancel(cancel, why, sizeof why);
                    PQfreeCancel(cancel);
                }
            }
        } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && !stopped && !failed) {
            failed = true;
            error = resultError(raw);
        }
    }
    if (failed)
        return -1;
    if (PQstatus(m_conn) != CONNECTION_OK) {
        error = lastError();
        return -1;
    }
    return rows;
}

} // namespace orvo::server::pg
