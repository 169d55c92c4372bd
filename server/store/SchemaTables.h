// The counter's database, described once: tables, columns with their types, defaults, keys, lengths and
// formats, indexes, and what the database maintains by itself. Both back-ends make a fresh database's
// tables and indexes from it (SchemaDdl.h), and the administration commands describe, check, import and
// export tables from it. Later changes are migration steps per back-end; an element added or replaced by
// a step says so (since / until), so the description shows the current shape and can still render the
// first version that the steps start from.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace orvo::server {

// The schema version this program reads and writes: the first version plus one migration step each.
constexpr int kSchemaVersion = 8;

namespace schema {

enum class ColumnType { Text, Integer };

// What a text column holds, as import checks it.
enum class TextFormat { Free, Decimal, Date, Time };

// Lengths of text columns are counted in GBK bytes, as the client receives them.
inline constexpr std::size_t kCodeBytes = 32;      // codes without a width on the client
inline constexpr std::size_t kDecimalBytes = 32;   // prices, offsets, deviations
inline constexpr std::size_t kDateBytes = 10;      // YYYY.MM.DD
inline constexpr std::size_t kTimeBytes = 8;       // HH:MM:SS
inline constexpr std::size_t kNameBytes = 64;      // names without a width on the client
inline constexpr std::size_t kFreeTextBytes = 255; // texts without a width on the client

struct ColumnSpec {
    std::string_view name;
    ColumnType type = ColumnType::Text;
    std::size_t maxBytes = 0; // text only
    TextFormat format = TextFormat::Free;
    std::string_view defaultSql; // an SQL literal ("''", "0", "1"); empty: no default, a value is required
    bool primaryKey = false;
    bool unique = false;
    // A value that must exist in another table. declared: a foreign key of the database; otherwise only
    // import checks it (an empty value is then not looked up when the column allows empty).
    std::string_view refTable, refColumn;
    bool declared = false;
    bool maintained = false; // written by the database itself (triggers): never imported or exported
    int since = 1;           // the schema version that added it

    constexpr ColumnSpec withDefault(std::string_view sql) const {
        ColumnSpec c = *this;
        c.defaultSql = sql;
        return c;
    }
    constexpr ColumnSpec key() const {
        ColumnSpec c = *this;
        c.primaryKey = true;
        return c;
    }
    constexpr ColumnSpec uniqueKey() const {
        ColumnSpec c = *this;
        c.unique = true;
        return c;
    }
    // A foreign key of the database.
    constexpr ColumnSpec references(std::string_view table, std::string_view column) const {
        ColumnSpec c = *this;
        c.refTable = table;
        c.refColumn = column;
        c.declared = true;
        return c;
    }
    // A reference that import checks but the database does not declare.
    constexpr ColumnSpec checkedIn(std::string_view table, std::string_view column) const {
        ColumnSpec c = references(table, column);
        c.declared = false;
        return c;
    }
    constexpr ColumnSpec addedIn(int version) const {
        ColumnSpec c = *this;
        c.since = version;
        return c;
    }
    constexpr ColumnSpec maintainedByDatabase() const {
        ColumnSpec c = *this;
        c.maintained = true;
        return c;
    }
    constexpr bool hasDefault() const { return !defaultSql.empty(); }
};

constexpr ColumnSpec text(std::string_view name, std::size_t maxBytes, TextFormat format = TextFormat::Free) {
    ColumnSpec c;
    c.name = name;
    c.maxBytes = maxBytes;
    c.format = format;
    return c;
}
constexpr ColumnSpec decimal(std::string_view name) {
    return text(name, kDecimalBytes, TextFormat::Decimal);
}
constexpr ColumnSpec date(std::string_view name) {
    return text(name, kDateBytes, TextFormat::Date);
}
constexpr ColumnSpec timeOfDay(std::string_view name) {
    return text(name, kTimeBytes, TextFormat::Time);
}
constexpr ColumnSpec integer(std::string_view name) {
    ColumnSpec c;
    c.name = name;
    c.type = ColumnType::Integer;
    return c;
}

struct IndexSpec {
    constexpr IndexSpec(std::string_view name_, std::string_view columns_, bool keyOrdered_ = false,
                        int since_ = 1, int until_ = 0)
        : name(name_), columns(columns_), keyOrdered(keyOrdered_), since(since_), until(until_) {}

    std::string_view name;
    std::string_view columns; // "kind, valid_date"
    // Entries of equal values in the order of the table's key: implicit in SQLite (the rowid ends every
    // index entry), the key column appended on PostgreSQL.
    bool keyOrdered;
    int since;
    int until; // the version whose step dropped it (0: current)
};

struct TableSpec {
    std::string_view name;
    std::string_view comment; // a line of SQL comment above the table
    std::span<const ColumnSpec> columns;
    std::span<const IndexSpec> indexes;
    // Exported and imported by the table commands; the position in tables() is the import order.
    bool importable = false;
    // Row order is insertion order (SQLite's implicit rowid; an explicit rowid column on PostgreSQL).
    bool insertionOrder = false;
    // What the database's triggers keep up to date in this table, and why (empty: nothing).
    std::string_view maintained;
    int since = 1; // the schema version that added the table (its step creates it)
};

// Every table, in an order in which each one's references come before it: importing the importable
// ones in this order satisfies every reference.
std::span<const TableSpec> tables();

// The table of that name, or nullptr.
const TableSpec* findTable(std::string_view name);

// The column of that name in the table, or nullptr.
const ColumnSpec* findColumn(const TableSpec& table, std::string_view name);

} // namespace schema
} // namespace orvo::server
