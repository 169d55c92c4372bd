// The counter's database schema, in one place: the host code tables (downloaded as they stand by
// function 2, so their column names are the host's), the business tables behind the query functions,
// and an index for every filter those functions apply.
#pragma once

#include "server/Db.h"

#include <string>
#include <string_view>

namespace orvo::server {

constexpr int kSchemaVersion = 1;

// Creates every table and index that does not exist yet and records the schema version.
// Fails when the file holds another schema version.
bool createSchema(Db& db, std::string& error);

// True when the operators table holds no row (a fresh database that --demo may seed).
bool isEmpty(Db& db, bool& empty, std::string& error);

// The host code tables that function 2 may download, with the SQL that reads each in table order.
// Returns nullptr for a name that is not one of them: the name never reaches SQL text.
const char* downloadQueryFor(std::string_view tableName);

} // namespace orvo::server
