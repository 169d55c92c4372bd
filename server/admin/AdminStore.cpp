#include "server/admin/AdminStore.h"

#include <algorithm>
#include <array>

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
