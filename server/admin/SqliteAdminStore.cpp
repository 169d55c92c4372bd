// The table and maintenance subcommands' SQL for a SQLite database file.
#include "server/admin/AdminStore.h"
#include "server/store/sqlite/Schema.h"

#include <charconv>
#include <optional>

namespace orvo::server::admin {
namespace {

// Identifiers in SQL text come from importableTables() and the schema's own column lists only.
std::string quoted(std::string_view identifier) {
    std::string text;
    text.reserve(identifier.size() + 2);
    text += '"';
    text.append(identifier);
    text += '"';
    return text;
}

// The column a constraint message names ("UNIQUE constraint failed: rules.lsh"), or empty.
std::string constraintColumn(const std::string& message) {
    const size_t dot = message.rfind('.');
    if (dot == std::string::npos)
        return {};
    size_t end = message.find_first_of(", ", dot);
    return message.substr(dot + 1, end == std::string::npos ? std::string::npos : end - dot - 1);
}

class SqliteAdminStore final : public AdminStore {
public:
    explicit SqliteAdminStore(Db& db) : m_db(db) {}
    SqliteAdminStore(Db&& owned, std::string path)
        : m_owned(std::move(owned)), m_db(m_owned), m_path(std::move(path)) {}

    bool describe(std::string_view table, TableInfo& info, std::string& error) override {
        return describeTable(table, info, error);
    }

    bool exportRows(const TableInfo& table, const RowSink& row, std::string& error) override {
        std::string sql = "SELECT ";
        for (size_t i = 0; i < table.columns.size(); ++i)
            sql += (i ? ", " : "") + quoted(table.columns[i].name);
        sql += " FROM " + quoted(table.name) + " ORDER BY rowid";
        Statement get;
        if (!m_db.prepare(sql, get, error))
            return false;
        std::vector<std::string_view> values(table.columns.size());
        int rc = 0;
        while ((rc = get.step()) == SQLITE_ROW) {
            for (size_t i = 0; i < values.size(); ++i)
                values[i] = get.text(static_cast<int>(i));
            if (!row(values)) {
                error = "cannot write the rows";
                return false;
            }
        }
        if (rc != SQLITE_DONE) {
            error = m_db.lastError();
            return false;
        }
        return true;
    }

    bool beginImport(const TableInfo& table, const std::vector<int>& columns, bool replace,
                     std::string& error) override {
        m_tx.emplace(m_db);
        if (!m_tx->ok()) {
            error = "database is busy: " + m_db.lastError();
            return false;
        }
        m_table = &table;
        m_columns = columns;
        // A large import touches every index page again and again; a cache that holds them keeps the
        // transaction from spilling the same pages to the log over and over.
        if (!m_db.exec("PRAGMA cache_size = -131072", error)) // 128 MiB
            return false;
        std::string sql = "INSERT INTO " + quoted(table.name) + "(";
        std::string values;
        m_references.clear();
        m_references.resize(columns.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            const Column& c = table.columns[static_cast<size_t>(columns[i])];
            sql += (i ? ", " : "") + quoted(c.name);
            values += i ? ", ?" : "?";
            if (!c.refTable.empty() && !m_db.prepare("SELECT 1 FROM " + quoted(c.refTable) + " WHERE " +
                                                         quoted(c.refColumn) + " = ?",
                                                     m_references[i], error))
                return false;
        }
        sql += ") VALUES(" + values + ")";
        if (!m_db.prepare(sql, m_insert, error))
            return false;
        // References from other tables are checked at commit (the setting ends with the transaction),
        // so a file that brings back every row still referred to may replace a table others point at.
        return !replace ||
               m_db.exec(("PRAGMA defer_foreign_keys = ON; DELETE FROM " + quoted(table.name)).c_str(),
                         error);
    }

    bool referenceExists(std::size_t column, std::string_view value, bool& exists,
                         std::string& error) override {
        Statement& check = m_references[column];
        check.bind(1, value);
        const int rc = check.step();
        check.reset();
        exists = rc == SQLITE_ROW;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            error = m_db.lastError();
            return false;
        }
        return true;
    }

    bool insertRow(const std::vector<std::string>& values, std::size_t line, RowFailure& failure) override {
        for (size_t f = 0; f < values.size(); ++f) {
            const Column& column = m_table->columns[static_cast<size_t>(m_columns[f])];
            std::int64_t number = 0;
            const std::string& value = values[f];
            if (column.kind == ColumnKind::Integer &&
                std::from_chars(value.data(), value.data() + value.size(), number).ec == std::errc())
                m_insert.bind(static_cast<int>(f + 1), number);
            else
                m_insert.bind(static_cast<int>(f + 1), std::string_view(values[f]));
        }
        if (m_insert.execute())
            return true;
        const std::string message = m_db.lastError();
        failure.line = line;
        failure.column = constraintColumn(message);
        failure.duplicate = (sqlite3_extended_errcode(m_db.handle()) & 0xFF) == SQLITE_CONSTRAINT &&
                            message.find("UNIQUE") != std::string::npos;
        failure.message = message;
        return false;
    }

    bool finishRows(RowFailure& failure) override {
        // After a large import, so the planner knows the table's new shape.
        return m_db.exec(("ANALYZE " + quoted(m_table->name)).c_str(), failure.message);
    }

    bool commitImport(bool& danglingReferences, std::string& error) override {
        const bool done = m_tx->commit(error);
        danglingReferences = !done && error.find("FOREIGN KEY") != std::string::npos;
        return done;
    }

    bool backupTo(const std::string& target, std::string& error) override {
        // VACUUM INTO reads inside one transaction: the copy is of one moment, whatever writers do.
        Statement copy;
        if (!m_db.prepare("VACUUM INTO ?", copy, error))
            return false;
        copy.bind(1, target);
        if (!copy.execute()) {
            error = m_db.lastError();
            return false;
        }
        return true;
    }

    bool migrate(int& from, std::string& error) override {
        if (!migrateSchema(m_db, from, error))
            return false;
        // An empty file gets the current schema, as every subcommand gives it.
        return from != 0 || prepareSchemaFile(m_path, error);
    }

private:
    Db m_owned;
    Db& m_db;
    std::string m_path;
    std::optional<Transaction> m_tx;
    const TableInfo* m_table = nullptr;
    std::vector<int> m_columns;
    Statement m_insert;
    std::vector<Statement> m_references; // indexed like the columns; unprepared when none
};

} // namespace

std::unique_ptr<AdminStore> sqliteAdminStore(Db& db) {
    return std::make_unique<SqliteAdminStore>(db);
}

std::unique_ptr<AdminStore> openSqliteAdminStore(const std::string& path, bool prepare, std::string& error) {
    Db db;
    if ((prepare && !prepareSchemaFile(path, error)) || !db.open(path, false, error))
        return nullptr;
    return std::make_unique<SqliteAdminStore>(std::move(db), path);
}

} // namespace orvo::server::admin
