// The counter's database schema, in one place: the host code tables (downloaded as they stand by
// function 2, so their column names are the host's), the business tables behind the query functions,
// and an index for every filter those functions apply.
#pragma once

#include "server/store/sqlite/Db.h"

#include <string>
#include <string_view>

namespace orvo::server {

// The schema version this program reads and writes; see the migration steps in Schema.cpp.
constexpr int kSchemaVersion = 4;

// The version recorded in the database; 0 for an empty file. Fails for a file that holds tables but
// no version (not a counter database).
bool readSchemaVersion(Db& db, int& version, std::string& error);

// Creates the whole schema in an empty file (one transaction) and records its version. A database of
// the current version is left alone; an older or newer one is refused, saying what to do.
bool createSchema(Db& db, std::string& error);

// Opens (or creates) the file and gives it the schema as createSchema does; the connection is closed again.
bool prepareSchemaFile(const std::string& path, std::string& error);

// Brings a database of an older version forward to kSchemaVersion in one transaction; from says the
// version it had (0: an empty file). A database already current, or empty, is left as it is.
bool migrateSchema(Db& db, int& from, std::string& error);

// True when the operators table holds no row (a fresh database that --demo may seed).
bool isEmpty(Db& db, bool& empty, std::string& error);

// The host code tables that function 2 may download, with the SQL that reads each in table order.
// Returns nullptr for a name that is not one of them: the name never reaches SQL text.
const char* downloadQueryFor(std::string_view tableName);

} // namespace orvo::server
