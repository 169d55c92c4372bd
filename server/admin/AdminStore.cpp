#include "server/admin/AdminStore.h"

#include <algorithm>
#include <array>

namespace orvo::server::admin {
namespace {

bool runChange(Db& db, Statement& stmt, std::string_view name, std::string& error) {
    if (!stmt.execute()) {
        error = db.lastError();
        return false;
    }
    if (sqlite3_changes(db.handle()) == 0) {
        error = "no operator named '" + std::string(name) + "'";
        return false;
    }
    return true;
}

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

bool addOperator(Db& db, std::string_view name, std::string_view hash, std::string_view branches,
                 std::string_view groups, std::string& error) {
    Statement put;
    if (!db.prepare("INSERT INTO operators(name, pwhash, branches, groups, enabled) VALUES(?, ?, ?, ?, 1)",
                    put, error))
        return false;
    put.bind(1, name);
    put.bind(2, hash);
    put.bind(3, branches);
    put.bind(4, groups);
    if (!put.execute()) {
        error = sqlite3_extended_errcode(db.handle()) == SQLITE_CONSTRAINT_PRIMARYKEY
                    ? "an operator named '" + std::string(name) + "' exists already"
                    : db.lastError();
        return false;
    }
    return true;
}

bool setOperatorPassword(Db& db, std::string_view name, std::string_view hash, std::string& error) {
    Statement put;
    if (!db.prepare("UPDATE operators SET pwhash = ? WHERE name = ?", put, error))
        return false;
    put.bind(1, hash);
    put.bind(2, name);
    return runChange(db, put, name, error);
}

bool setOperatorEnabled(Db& db, std::string_view name, bool enabled, std::string& error) {
    Statement put;
    if (!db.prepare("UPDATE operators SET enabled = ? WHERE name = ?", put, error))
        return false;
    put.bind(1, static_cast<std::int64_t>(enabled ? 1 : 0));
    put.bind(2, name);
    return runChange(db, put, name, error);
}

bool setOperatorPermissions(Db& db, std::string_view name, std::string_view branches, std::string_view groups,
                            std::string& error) {
    Statement put;
    if (!db.prepare("UPDATE operators SET branches = ?, groups = ? WHERE name = ?", put, error))
        return false;
    put.bind(1, branches);
    put.bind(2, groups);
    put.bind(3, name);
    return runChange(db, put, name, error);
}

bool listOperators(Db& db, std::vector<OperatorRow>& rows, std::string& error) {
    Statement get;
    if (!db.prepare("SELECT name, enabled, branches, groups, last_login FROM operators ORDER BY name", get,
                    error))
        return false;
    rows.clear();
    int rc = 0;
    while ((rc = get.step()) == SQLITE_ROW)
        rows.push_back({std::string(get.text(0)), get.integer(1) != 0, std::string(get.text(2)),
                        std::string(get.text(3)), std::string(get.text(4))});
    if (rc != SQLITE_DONE) {
        error = db.lastError();
        return false;
    }
    return true;
}

bool unknownCodes(Db& db, bool groups, const std::vector<std::string>& codes,
                  std::vector<std::string>& unknown, std::string& error) {
    Statement find;
    if (!db.prepare(groups ? "SELECT 1 FROM KHQZ WHERE KHQZ = ?" : "SELECT 1 FROM YYB WHERE JGBM = ?", find,
                    error))
        return false;
    unknown.clear();
    for (const std::string& code : codes) {
        if (code == "9999")
            continue;
        find.bind(1, code);
        const int rc = find.step();
        find.reset();
        if (rc == SQLITE_DONE)
            unknown.push_back(code);
        else if (rc != SQLITE_ROW) {
            error = db.lastError();
            return false;
        }
    }
    return true;
}

const std::vector<std::string>& importableTables() {
    // Code tables and organisations first, then customers, then what refers to them.
    static const std::vector<std::string> tables{
        "YYB",  "KHQZ", "QHJYS", "JYS",       "QHPZ",        "QHHYDM",         "QHXTDM", "XTDM",  "BZ",
        "ZQLB", "YWKM", "JYLB",  "customers", "link_groups", "link_subgroups", "rules",  "orders"};
    return tables;
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
        Column c;
        c.name = std::string(columns.text(0));
        const bool integer = columns.text(1) == "INTEGER";
        const bool emptyDefault = columns.text(3) == "''";
        c.required = columns.integer(2) != 0 && columns.isNull(3) && !(integer && columns.integer(4) != 0);
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

bool exportRows(Db& db, const TableInfo& table, const std::function<bool(const Statement&)>& row,
                std::string& error) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < table.columns.size(); ++i)
        sql += (i ? ", " : "") + quoted(table.columns[i].name);
    sql += " FROM " + quoted(table.name) + " ORDER BY rowid";
    Statement get;
    if (!db.prepare(sql, get, error))
        return false;
    int rc = 0;
    while ((rc = get.step()) == SQLITE_ROW)
        if (!row(get)) {
            error = "cannot write the rows";
            return false;
        }
    if (rc != SQLITE_DONE) {
        error = db.lastError();
        return false;
    }
    return true;
}

bool prepareImport(Db& db, const TableInfo& table, const std::vector<int>& columns, ImportStatements& out,
                   std::string& error) {
    // A large import touches every index page again and again; a cache that holds them keeps the
    // transaction from spilling the same pages to the log over and over.
    if (!db.exec("PRAGMA cache_size = -131072", error)) // 128 MiB
        return false;
    std::string sql = "INSERT INTO " + quoted(table.name) + "(";
    std::string values;
    out.references.clear();
    out.references.resize(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& c = table.columns[static_cast<size_t>(columns[i])];
        sql += (i ? ", " : "") + quoted(c.name);
        values += i ? ", ?" : "?";
        if (!c.refTable.empty() &&
            !db.prepare("SELECT 1 FROM " + quoted(c.refTable) + " WHERE " + quoted(c.refColumn) + " = ?",
                        out.references[i], error))
            return false;
    }
    sql += ") VALUES(" + values + ")";
    return db.prepare(sql, out.insert, error);
}

bool deleteAllRows(Db& db, const TableInfo& table, std::string& error) {
    // References from other tables are checked at commit (the setting ends with the transaction), so
    // a file that brings back every row still referred to may replace a table others point at.
    return db.exec(("PRAGMA defer_foreign_keys = ON; DELETE FROM " + quoted(table.name)).c_str(), error);
}

bool referenceExists(Statement& check, std::string_view value) {
    check.bind(1, value);
    const bool found = check.step() == SQLITE_ROW;
    check.reset();
    return found;
}

bool refreshStatistics(Db& db, const TableInfo& table, std::string& error) {
    return db.exec(("ANALYZE " + quoted(table.name)).c_str(), error);
}

bool backupTo(Db& db, const std::string& target, std::string& error) {
    // VACUUM INTO reads inside one transaction: the copy is of one moment, whatever writers do meanwhile.
    Statement copy;
    if (!db.prepare("VACUUM INTO ?", copy, error))
        return false;
    copy.bind(1, target);
    if (!copy.execute()) {
        error = db.lastError();
        return false;
    }
    return true;
}

} // namespace orvo::server::admin
