// What the table and maintenance subcommands ask of a database. One implementation per kind of --db
// (SqliteAdminStore.cpp, PgAdminStore.cpp), each holding all of its SQL with every value bound, so that
// tables, export, import, backup and migrate behave alike on a SQLite file and on a PostgreSQL database.
// The operator subcommands have their own interface, OperatorStore.h.
#pragma once

#include "server/store/sqlite/Db.h"

#include <cstddef>
#include <functional>
#include <memory>
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
    bool rowKey = false;      // the INTEGER PRIMARY KEY: numbered max + 1 when the file leaves it out
    std::size_t maxBytes = 0; // Text and the text-held kinds: the longest value, in GBK bytes
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

// Columns that the database keeps itself (a rule's revision, drawn by triggers on every write): not
// data of the brokerage's, so never exported, and never imported, since the database would draw anew.
bool maintainedByDatabase(std::string_view table, std::string_view column);

// The table as the schema's description (server/store/SchemaTables.h) declares it, without the columns
// the database maintains: columns in order, their kinds, lengths and references. Both back-ends describe
// their tables this way, so the two give the same header and the same checks.
bool describeTable(std::string_view table, TableInfo& info, std::string& error);
// The same; the database is not asked (kept for callers that have one at hand).
bool describeTable(Db& db, std::string_view table, TableInfo& info, std::string& error);

// Why the back-end refused a row, and which row (the line it was read from).
struct RowFailure {
    std::size_t line = 0;
    std::string column; // as TableInfo names it; empty when the back-end did not say
    std::string message;
    bool duplicate = false; // a unique key that is there already
};

class AdminStore {
public:
    virtual ~AdminStore() = default;

    virtual bool describe(std::string_view table, TableInfo& info, std::string& error) = 0;

    // Hands the table's rows to row in stored order, values as text in column order, all from one
    // snapshot; row returns false to stop (an error).
    using RowSink = std::function<bool(const std::vector<std::string_view>& values)>;
    virtual bool exportRows(const TableInfo& table, const RowSink& row, std::string& error) = 0;

    // An import is one transaction: beginImport starts it (with replace, the table's rows are deleted
    // first; references to them are checked at commit), commitImport ends it. Destroying the store, or
    // any failure, rolls it back. columns are indexes into table.columns, in the file's order.
    virtual bool beginImport(const TableInfo& table, const std::vector<int>& columns, bool replace,
                             std::string& error) = 0;
    // Whether value exists where the column (an index into the import's columns) refers to.
    virtual bool referenceExists(std::size_t column, std::string_view value, bool& exists,
                                 std::string& error) = 0;
    // Writes one row: values for the import's columns, integers in canonical decimal. A back-end may
    // queue rows and write them later, so a refusal may concern an earlier row: failure says which.
    virtual bool insertRow(const std::vector<std::string>& values, std::size_t line, RowFailure& failure) = 0;
    // Writes what is queued and refreshes the planner's statistics of the table.
    virtual bool finishRows(RowFailure& failure) = 0;
    // danglingReferences: the commit failed because rows of other tables refer to deleted ones.
    virtual bool commitImport(bool& danglingReferences, std::string& error) = 0;

    // A consistent copy of the whole database into a new file, taken while others read and write it.
    virtual bool backupTo(const std::string& target, std::string& error) = 0;
    // Brings an older schema forward in one transaction; from says the version found (0: none, and
    // the current schema is created).
    virtual bool migrate(int& from, std::string& error) = 0;
};

// Opens the database named by --db (see isPostgresTarget). With prepare, the current schema is created
// when missing and another schema version is refused; without, the database is opened as it is (for
// migrate). nullptr with the reason when it cannot.
std::unique_ptr<AdminStore> openAdminStore(const std::string& target, bool prepare, std::string& error);
std::unique_ptr<AdminStore> openSqliteAdminStore(const std::string& path, bool prepare, std::string& error);
std::unique_ptr<AdminStore> openPgAdminStore(const std::string& conninfo, bool prepare, std::string& error);
// A store over a SQLite database the caller has open and keeps open.
std::unique_ptr<AdminStore> sqliteAdminStore(Db& db);

} // namespace orvo::server::admin
