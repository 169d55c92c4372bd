// The table and maintenance subcommands' SQL for a PostgreSQL database.
//
// Tables are described from the SQLite schema (the PostgreSQL schema is the same column for column), so
// both back-ends give the same header, the same column names in their original case and the same
// checks; the database's own column list is compared with it first. Import rows are sent through
// libpq's pipeline mode, a prepared statement with every value bound: the rows of a batch travel
// without waiting for each answer, and the first refused one is still known by its line.
#include "server/Schema.h"
#include "server/admin/AdminStore.h"
#include "server/admin/PgDump.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgSchema.h"

#include <cctype>
#include <deque>
#include <unordered_set>

namespace orvo::server::admin {
namespace {

using pg::PgParams;
using pg::PgResult;

constexpr std::size_t kRowsPerBatch = 1000; // answers of a batch (~30 bytes a row) fit the socket buffer
// The unnamed statement: replaced by the next import on the connection, nothing else runs meanwhile.
constexpr const char* kInsertStatement = "";

std::string lowered(std::string_view name) {
    std::string text(name);
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Identifiers come from the SQLite schema only (letters, digits, "_"); unquoted names fold to lower case
// in PostgreSQL, so its tables and columns carry the lower-case names.
std::string identifier(std::string_view name) {
    return '"' + lowered(name) + '"';
}

std::string errorField(const PGresult* result, int field) {
    const char* text = PQresultErrorField(result, field);
    return text ? text : "";
}

// The first column named in "Key (khh)=(...) already exists." / "... is not present in table ...".
std::string keyColumn(const std::string& detail) {
    const size_t open = detail.find("Key (");
    if (open == std::string::npos)
        return {};
    const size_t end = detail.find_first_of(",)", open + 5);
    return end == std::string::npos ? std::string() : detail.substr(open + 5, end - open - 5);
}

class PgAdminStore final : public AdminStore {
public:
    bool open(const std::string& conninfo, bool prepare, std::string& error) {
        m_conninfo = conninfo;
        return m_conn.open(conninfo, error) && (!prepare || pg::createPgSchema(m_conn, error));
    }

    bool describe(std::string_view table, TableInfo& info, std::string& error) override {
        if (!m_schema.isOpen() &&
            (!m_schema.open(":memory:", false, error) || !createSchema(m_schema, error)))
            return false;
        if (!describeTable(m_schema, table, info, error))
            return false;
        const PgResult columns = m_conn.query("SELECT column_name FROM information_schema.columns "
                                              "WHERE table_schema = current_schema() AND table_name = $1 "
                                              "ORDER BY ordinal_position",
                                              PgParams().add(lowered(table)), error);
        if (!columns)
            return false;
        std::vector<std::string> expected, found;
        for (const Column& c : info.columns)
            expected.push_back(lowered(c.name));
        m_hasRowid = false;
        for (int i = 0; i < columns.rows(); ++i) {
            const std::string name(columns.row(i).text(0));
            if (name == "rowid")
                m_hasRowid = true; // the insertion order SQLite keeps implicitly
            else
                found.push_back(name);
        }
        if (found != expected) {
            error = "table " + info.name + " of the database does not have the columns this program expects";
            return false;
        }
        return true;
    }

    bool exportRows(const TableInfo& table, const RowSink& row, std::string& error) override {
        std::string sql = "SELECT ";
        std::string order = "rowid";
        for (size_t i = 0; i < table.columns.size(); ++i) {
            sql += (i ? ", " : "") + identifier(table.columns[i].name);
            if (!m_hasRowid && table.columns[i].rowKey)
                order = identifier(table.columns[i].name);
        }
        sql += " FROM " + identifier(table.name) + " ORDER BY " + order;
        std::vector<std::string_view> values(table.columns.size());
        bool written = true;
        const std::int64_t rows = m_conn.stream(
            sql.c_str(), PgParams(),
            [&](const pg::PgRow& got) {
                for (size_t i = 0; i < values.size(); ++i)
                    values[i] = got.text(static_cast<int>(i));
                written = row(values);
                return written;
            },
            error);
        if (!written)
            error = "cannot write the rows";
        return rows >= 0 && written;
    }

    bool beginImport(const TableInfo& table, const std::vector<int>& columns, bool replace,
                     std::string& error) override {
        m_table = &table;
        m_columns = columns;
        if (!m_conn.exec("BEGIN", error))
            return false;
        // References to the table are checked at commit, so a file that brings back every row still
        // referred to may replace a table others point at (the schema's keys are deferrable).
        if (replace &&
            !m_conn.exec(("SET CONSTRAINTS ALL DEFERRED; DELETE FROM " + identifier(table.name)).c_str(),
                         error))
            return false;
        std::string sql = "INSERT INTO " + identifier(table.name) + "(";
        std::string values;
        const Column* numbered = nullptr; // the row key, when the file leaves it out
        for (const Column& c : table.columns)
            if (c.rowKey)
                numbered = &c;
        m_references.assign(columns.size(), {});
        for (size_t i = 0; i < columns.size(); ++i) {
            const Column& c = table.columns[static_cast<size_t>(columns[i])];
            if (&c == numbered)
                numbered = nullptr;
            sql += (i ? ", " : "") + identifier(c.name);
            values += (i ? ", $" : "$") + std::to_string(i + 1);
            if (!c.refTable.empty() && !loadReferences(c, m_references[i], error))
                return false;
        }
        if (numbered) {
            // As SQLite numbers a row without its INTEGER PRIMARY KEY: one more than the largest.
            sql += ", " + identifier(numbered->name);
            values += ", (SELECT coalesce(max(" + identifier(numbered->name) + "), 0) + 1 FROM " +
                      identifier(table.name) + ")";
        }
        sql += ") VALUES(" + values + ")";
        PgResult prepared(PQprepare(m_conn.handle(), kInsertStatement, sql.c_str(), 0, nullptr));
        if (!prepared || PQresultStatus(prepared.raw()) != PGRES_COMMAND_OK) {
            error = "cannot prepare the insert: " + m_conn.lastError();
            return false;
        }
        if (!PQenterPipelineMode(m_conn.handle())) {
            error = "cannot send rows in a pipeline: " + m_conn.lastError();
            return false;
        }
        return true;
    }

    bool referenceExists(std::size_t column, std::string_view value, bool& exists, std::string&) override {
        exists = m_references[column].count(std::string(value)) != 0;
        return true;
    }

    bool insertRow(const std::vector<std::string>& values, std::size_t line, RowFailure& failure) override {
        std::vector<const char*> pointers;
        pointers.reserve(values.size());
        for (size_t f = 0; f < values.size(); ++f) {
            if (values[f].find('\0') != std::string::npos) {
                // libpq would cut the value short at the NUL and store something else. A row sent
                // earlier and refused is the first error, so the batch is read first.
                if (!collect(failure))
                    return false;
                failure = {line, m_table->columns[static_cast<size_t>(m_columns[f])].name,
                           "a NUL character cannot be stored", false};
                return false;
            }
            pointers.push_back(values[f].c_str());
        }
        if (!PQsendQueryPrepared(m_conn.handle(), kInsertStatement, static_cast<int>(pointers.size()),
                                 pointers.data(), nullptr, nullptr, 0)) {
            failure = {line, {}, m_conn.lastError(), false};
            return false;
        }
        m_sentLines.push_back(line);
        return m_sentLines.size() < kRowsPerBatch || collect(failure);
    }

    bool finishRows(RowFailure& failure) override {
        if (!collect(failure))
            return false;
        if (!PQexitPipelineMode(m_conn.handle())) {
            failure.message = m_conn.lastError();
            return false;
        }
        // After a large import, so the planner knows the table's new shape.
        return m_conn.exec(("ANALYZE " + identifier(m_table->name)).c_str(), failure.message);
    }

    bool commitImport(bool& danglingReferences, std::string& error) override {
        danglingReferences = false;
        // COMMIT of a transaction that failed earlier answers success but rolls back.
        const bool failedEarlier = PQtransactionStatus(m_conn.handle()) == PQTRANS_INERROR;
        PgResult done(PQexec(m_conn.handle(), "COMMIT"));
        if (done && PQresultStatus(done.raw()) == PGRES_COMMAND_OK && !failedEarlier)
            return true;
        if (failedEarlier) {
            error = "the transaction failed earlier and was rolled back";
            return false;
        }
        danglingReferences = done && errorField(done.raw(), PG_DIAG_SQLSTATE) == "23503";
        error = m_conn.lastError();
        return false;
    }

    bool backupTo(const std::string& target, std::string& error) override {
        return dumpPostgres(m_conninfo, target, error);
    }

    bool migrate(int& from, std::string& error) override { return pg::migratePgSchema(m_conn, from, error); }

private:
    bool loadReferences(const Column& c, std::unordered_set<std::string>& known, std::string& error) {
        // The referenced keys once, instead of a round trip per row; other tables are not changed by
        // this import, and the keys' own constraints still guard against a concurrent deletion.
        const std::string sql =
            "SELECT DISTINCT " + identifier(c.refColumn) + " FROM " + identifier(c.refTable);
        return m_conn.stream(
                   sql.c_str(), PgParams(),
                   [&known](const pg::PgRow& row) {
                       known.emplace(row.text(0));
                       return true;
                   },
                   error) >= 0;
    }

    // Ends the batch sent so far and reads its answers; the first refused row fails the import.
    bool collect(RowFailure& failure) {
        PGconn* conn = m_conn.handle();
        if (m_sentLines.empty())
            return true;
        if (!PQpipelineSync(conn)) {
            failure = {m_sentLines.front(), {}, m_conn.lastError(), false};
            return false;
        }
        bool refused = false;
        for (const std::size_t line : m_sentLines) {
            PgResult result(PQgetResult(conn));
            const ExecStatusType status = result ? PQresultStatus(result.raw()) : PGRES_FATAL_ERROR;
            if (!result) {
                failure = {line, {}, "connection lost: " + m_conn.lastError(), false};
                return false;
            }
            PgResult end(PQgetResult(conn)); // each statement's answers end with a null result
            if (status == PGRES_FATAL_ERROR && !refused) {
                refused = true;
                describeRefusal(result.raw(), line, failure);
            }
        }
        m_sentLines.clear();
        PgResult sync(PQgetResult(conn));
        if (!refused && (!sync || PQresultStatus(sync.raw()) != PGRES_PIPELINE_SYNC)) {
            failure = {0, {}, "unexpected answer from the database: " + m_conn.lastError(), false};
            return false;
        }
        return !refused;
    }

    void describeRefusal(const PGresult* result, std::size_t line, RowFailure& failure) {
        const std::string state = errorField(result, PG_DIAG_SQLSTATE);
        const std::string detail = errorField(result, PG_DIAG_MESSAGE_DETAIL);
        std::string column = errorField(result, PG_DIAG_COLUMN_NAME);
        if (column.empty())
            column = keyColumn(detail);
        failure.line = line;
        failure.column.clear();
        for (const Column& c : m_table->columns)
            if (lowered(c.name) == column)
                failure.column = c.name;
        failure.duplicate = state == "23505";
        failure.message = failure.duplicate && !detail.empty() ? detail
                                                               : errorField(result, PG_DIAG_MESSAGE_PRIMARY) +
                                                                     (detail.empty() ? "" : ": " + detail);
    }

    pg::PgConnection m_conn; // closing it mid-import ends the session, which rolls the transaction back
    std::string m_conninfo;
    Db m_schema; // the SQLite schema in memory, which describes the tables
    bool m_hasRowid = false;
    const TableInfo* m_table = nullptr;
    std::vector<int> m_columns;
    std::vector<std::unordered_set<std::string>> m_references; // indexed like the import's columns
    std::deque<std::size_t> m_sentLines;                       // the rows of the batch not answered yet
};

} // namespace

std::unique_ptr<AdminStore> openPgAdminStore(const std::string& conninfo, bool prepare, std::string& error) {
    auto store = std::make_unique<PgAdminStore>();
    if (!store->open(conninfo, prepare, error))
        return nullptr;
    return store;
}

} // namespace orvo::server::admin
