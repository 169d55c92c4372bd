// The table and maintenance subcommands' SQL for a SQLite database file, and the description of the
// tables from the SQLite schema that both back-ends use.
#include "server/admin/AdminStore.h"
#include "server/store/sqlite/Schema.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace orvo::server::admin {
namespace {

// References the schema does not declare (a code may name an organisation or a group of the code
// tables); those it declares come from the foreign-key list.
struct ExtraReference {
    const char* table;
    const char* column;
    const char* refTable;
    const char* refColumn;
};
constexpr std::array<ExtraReference, 6> kExtraReferences{{
    {"KHQZ", "YYB", "YYB", "JGBM"},
    {"customers", "yyb", "YYB", "JGBM"},
    {"customers", "branch", "YYB", "JGBM"},
    {"customers", "khqz", "KHQZ", "KHQZ"},
    {"link_groups", "yyb", "YYB", "JGBM"},
    {"orders", "khh", "customers", "khh"},
}};

constexpr std::array<std::string_view, 4> kDateColumns{"set_date", "valid_date", "wtrq", "xgrq"};
constexpr std::array<std::string_view, 4> kTimeColumns{"set_time", "wtsj", "sbsj", "xgsj"};
constexpr std::array<std::string_view, 12> kDecimalColumns{
    "price",         "trig_price",     "ticks_profit", "ticks_loss", "off_profit_trig", "off_profit_order",
    "off_loss_trig", "off_loss_order", "src_price",    "deviation",  "avg_price",       "fill_price"};

template <size_t N> bool listed(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Identifiers in SQL text come from importableTables() and the schema's own column lists only.
std::string quoted(std::string_view identifier) {
    std::string text;
    text.reserve(identifier.size() + 2);
    text += '"';
    text.append(identifier);
    text += '"';
    return text;
}

} // namespace

const std::vector<std::string>& importableTables() {
    // Code tables and organisations first, then customers, then what refers to them.
    static const std::vector<std::string> tables{
        "YYB",  "KHQZ", "QHJYS", "JYS",       "QHPZ",        "QHHYDM",         "QHXTDM", "XTDM",  "BZ",
        "ZQLB", "YWKM", "JYLB",  "customers", "link_groups", "link_subgroups", "rules",  "orders"};
    return tables;
}

bool maintainedByDatabase(std::string_view table, std::string_view column) {
    return table == "rules" && column == "rev";
}

bool describeTable(Db& db, std::string_view table, TableInfo& info, std::string& error) {
    const auto& tables = importableTables();
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) {
        error = "no importable table '" + std::string(table) + "' (orvo-counterd tables lists them)";
        return false;
    }
    info = TableInfo{std::string(table), {}};
    Statement columns;
    if (!db.prepare("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?) ORDER BY cid",
                    columns, error))
        return false;
    columns.bind(1, table);
    while (columns.step() == SQLITE_ROW) {
        if (maintainedByDatabase(table, columns.text(0)))
            continue;
        Column c;
        c.name = std::string(columns.text(0));
        const bool integer = columns.text(1) == "INTEGER";
        const bool emptyDefault = columns.text(3) == "''";
        c.rowKey = integer && columns.integer(4) != 0;
        c.required = columns.integer(2) != 0 && columns.isNull(3) && !c.rowKey;
        if (integer)
            c.kind = ColumnKind::Integer;
        else if (listed(kDateColumns, c.name))
            c.kind = ColumnKind::Date;
        else if (listed(kTimeColumns, c.name))
            c.kind = ColumnKind::Time;
        else if (listed(kDecimalColumns, c.name))
            c.kind = ColumnKind::Decimal;
        c.emptyAllowed = c.kind == ColumnKind::Text || emptyDefault;
        info.columns.push_back(std::move(c));
    }
    Statement keys;
    if (!db.prepare("SELECT \"from\", \"table\", \"to\" FROM pragma_foreign_key_list(?)", keys, error))
        return false;
    keys.bind(1, table);
    auto setReference = [&info](std::string_view column, std::string_view refTable,
                                std::string_view refColumn) {
        for (Column& c : info.columns)
            if (c.name == column) {
                c.refTable = std::string(refTable);
                c.refColumn = std::string(refColumn);
            }
    };
    while (keys.step() == SQLITE_ROW)
        setReference(keys.text(0), keys.text(1), keys.text(2));
    for (const ExtraReference& ref : kExtraReferences)
        if (table == ref.table)
            setReference(ref.column, ref.refTable, ref.refColumn);
    return true;
}

namespace {

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
        return describeTable(m_db, table, info, error);
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
