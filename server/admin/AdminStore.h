// What the table and maintenance subcommands ask of a SQLite database, with every piece of their SQL
// text in AdminStore.cpp, so that another store can answer the same calls. The operator subcommands
// have their own interface, OperatorStore.h.
#pragma once

#include "server/Db.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server::admin {

enum class ColumnKind { Text, Integer, Decimal, Date, Time };

struct Column {
    std::string name;
    ColumnKind kind = ColumnKind::Text;
    bool required = false; // NOT NULL without a default: the column must be in the file
    bool emptyAllowed = true;
    // A value that must exist in another table (empty values are not looked up when emptyAllowed).
    std::string refTable, refColumn;
};

struct TableInfo {
    std::string name;
    std::vector<Column> columns;
};

// The tables that can be exported and imported, in an order in which importing them one after another
// satisfies every reference.
const std::vector<std::string>& importableTables();
bool describeTable(Db& db, std::string_view table, TableInfo& info, std::string& error);

// Streams the table's rows in stored order; values as text.
bool exportRows(Db& db, const TableInfo& table, const std::function<bool(const Statement&)>& row,
                std::string& error);

// The statements of one import: the insert of the given columns, a reference check per column that
// has one, and for --replace the deletion of the present rows.
struct ImportStatements {
    Statement insert;
    std::vector<Statement> references; // indexed like the columns; unprepared when none
};
bool prepareImport(Db& db, const TableInfo& table, const std::vector<int>& columns, ImportStatements& out,
                   std::string& error);
bool deleteAllRows(Db& db, const TableInfo& table, std::string& error);
bool referenceExists(Statement& check, std::string_view value);
// After a large import, so the planner knows the table's new shape.
bool refreshStatistics(Db& db, const TableInfo& table, std::string& error);

// A consistent copy of the whole database into a new file, taken while others read and write it.
bool backupTo(Db& db, const std::string& target, std::string& error);

} // namespace orvo::server::admin
