// The table and maintenance subcommands' SQL for a PostgreSQL database.
//
// Tables are described from the schema's description, as on SQLite, so both back-ends give the same
// header, the same column names in their original case and the same checks; the database's own column
// list is compared with it first. Import rows travel as COPY data in
// text format (every value escaped, never SQL text), about twice as fast as a pipeline of bound
// INSERTs; PostgreSQL names the line of COPY data it refused, which maps back to the file's line.
#include "server/admin/AdminStore.h"
#include "server/admin/PgDump.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgSchema.h"

#include <cctype>
#include <cstdlib>
#include <unordered_set>

namespace orvo::server::admin {
namespace {

using pg::PgParams;
using pg::PgResult;

constexpr std::size_t kCopyChunkBytes = 256 * 1024; // COPY data is sent in chunks of about this size

std::string lowered(std::string_view name) {
    std::string text(name);
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Identifiers come from the schema's description only (letters, digits, "_"); unquoted names fold to lower
// case in PostgreSQL, so its tables and columns carry the lower-case names.
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

// The line of COPY data an error happened on ("COPY rules, line 57, column lsh: ..."), or 0.
std::size_t copyLine(const std::string& context) {
    const size_t at = context.find(", line ");
    if (context.rfind("COPY ", 0) != 0 || at == std::string::npos)
        return 0;
    return static_cast<std::size_t>(std::strtoull(context.c_str() + at + 7, nullptr, 10));
}

// One value in COPY's text format: backslash, tab, line feed and carriage return escaped.
void appendCopyValue(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

class PgAdminStore final : public AdminStore {
public:
    bool open(const std::string& conninfo, bool prepare, std::string& error) {
        m_conninfo = conninfo;
        return m_conn.open(conninfo, error) && (!prepare || pg::createPgSchema(m_conn, error));
    }

    bool describe(std::string_view table, TableInfo& info, std::string& error) override {
        if (!describeTable(table, info, error))
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
            else if (!maintainedByDatabase(info.name, name))
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
        m_copyLines.clear();
        m_data.clear();
        if (!m_conn.exec("BEGIN", error))
            return false;
        // References to the table are checked at commit, so a file that brings back every row still
        // referred to may replace a table others point at (the schema's keys are deferrable).
        if (replace &&
            !m_conn.exec(("SET CONSTRAINTS ALL DEFERRED; DELETE FROM " + identifier(table.name)).c_str(),
                         error))
            return false;
        std::string sql = "COPY " + identifier(table.name) + "(";
        m_references.assign(columns.size(), {});
        const Column* numbered = nullptr; // the row key, when the file leaves it out
        for (const Column& c : table.columns)
            if (c.rowKey)
                numbered = &c;
        for (size_t i = 0; i < columns.size(); ++i) {
            const Column& c = table.columns[static_cast<size_t>(columns[i])];
            if (&c == numbered)
                numbered = nullptr;
            sql += (i ? ", " : "") + identifier(c.name);
            if (!c.refTable.empty() && !loadReferences(c, m_references[i], error))
                return false;
        }
        m_nextKey = 0;
        if (numbered) {
            // Numbered as SQLite numbers rows without their INTEGER PRIMARY KEY: one more than the
            // largest. The lock keeps other writers from taking those numbers meanwhile (readers go on).
            const std::string name = identifier(table.name), key = identifier(numbered->name);
            if (!m_conn.exec(("LOCK TABLE " + name + " IN SHARE ROW EXCLUSIVE MODE").c_str(), error))
                return false;
            const PgResult largest = m_conn.query(
                ("SELECT coalesce(max(" + key + "), 0) FROM " + name).c_str(), PgParams(), error);
            if (!largest)
                return false;
            m_nextKey = largest.row(0).integer(0) + 1;
            sql += ", " + key;
        }
        sql += ") FROM STDIN";
        const PgResult copy(PQexec(m_conn.handle(), sql.c_str()));
        if (!copy || PQresultStatus(copy.raw()) != PGRES_COPY_IN) {
            error = "cannot start the copy: " + m_conn.lastError();
            return false;
        }
        return true;
    }

    bool referenceExists(std::size_t column, std::string_view value, bool& exists, std::string&) override {
        exists = m_references[column].count(std::string(value)) != 0;
        return true;
    }

    bool insertRow(const std::vector<std::string>& values, std::size_t line, RowFailure& failure) override {
        for (size_t f = 0; f < values.size(); ++f) {
            if (values[f].find('\0') != std::string::npos) {
                // COPY's text format cannot carry a NUL: refused rather than stored as something else,
                // unless a row before it was refused already (the first error is the one reported).
                if (!endCopy(failure))
                    return false;
                failure = {line, m_table->columns[static_cast<size_t>(m_columns[f])].name,
                           "a NUL character cannot be stored", false};
                return false;
            }
            if (f)
                m_data += '\t';
            appendCopyValue(m_data, values[f]);
        }
        if (m_nextKey)
            m_data += '\t' + std::to_string(m_nextKey++);
        m_data += '\n';
        m_copyLines.push_back(line);
        return m_data.size() < kCopyChunkBytes || send(failure);
    }

    bool finishRows(RowFailure& failure) override {
        // After a large import, so the planner knows the table's new shape.
        return endCopy(failure) &&
               m_conn.exec(("ANALYZE " + identifier(m_table->name)).c_str(), failure.message);
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

    // Hands the rows gathered so far to libpq (which blocks while the server is behind, never longer
    // than the connection lasts). Refusals arrive when the copy ends.
    bool send(RowFailure& failure) {
        if (m_data.empty())
            return true;
        if (PQputCopyData(m_conn.handle(), m_data.data(), static_cast<int>(m_data.size())) != 1) {
            failure = {0, {}, "cannot send the rows: " + m_conn.lastError(), false};
            return false;
        }
        m_data.clear();
        return true;
    }

    // Sends the rest of the rows and ends the copy; the first row the database refused fails it.
    bool endCopy(RowFailure& failure) {
        if (!send(failure))
            return false;
        if (PQputCopyEnd(m_conn.handle(), nullptr) != 1) {
            failure = {0, {}, "cannot end the copy: " + m_conn.lastError(), false};
            return false;
        }
        const PgResult done(PQgetResult(m_conn.handle()));
        while (PGresult* rest = PQgetResult(m_conn.handle()))
            PQclear(rest);
        if (done && PQresultStatus(done.raw()) == PGRES_COMMAND_OK)
            return true;
        if (done)
            describeRefusal(done.raw(), failure);
        else
            failure = {0, {}, m_conn.lastError(), false};
        return false;
    }

    void describeRefusal(const PGresult* result, RowFailure& failure) {
        const std::string state = errorField(result, PG_DIAG_SQLSTATE);
        const std::string detail = errorField(result, PG_DIAG_MESSAGE_DETAIL);
        std::string column = errorField(result, PG_DIAG_COLUMN_NAME);
        if (column.empty())
            column = keyColumn(detail);
        const std::size_t copied = copyLine(errorField(result, PG_DIAG_CONTEXT));
        failure.line = copied >= 1 && copied <= m_copyLines.size() ? m_copyLines[copied - 1] : 0;
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
    bool m_hasRowid = false;
    const TableInfo* m_table = nullptr;
    std::vector<int> m_columns;
    std::vector<std::unordered_set<std::string>> m_references; // indexed like the import's columns
    std::vector<std::size_t> m_copyLines;                      // the file's line of each row of COPY data
    std::string m_data;                                        // COPY data not handed to libpq yet
    std::int64_t m_nextKey = 0; // the next row key to give, when the file has none
};

} // namespace

std::unique_ptr<AdminStore> openPgAdminStore(const std::string& conninfo, bool prepare, std::string& error) {
    auto store = std::make_unique<PgAdminStore>();
    if (!store->open(conninfo, prepare, error))
        return nullptr;
    return store;
}

} // namespace orvo::server::admin
