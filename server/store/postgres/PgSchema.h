// The counter's database schema for PostgreSQL, in one place: the same tables, columns, keys, indexes
// and constraints as the SQLite schema, and the same schema version recorded in the meta table.
#pragma once

#include "server/store/postgres/PgConnection.h"

#include <string>
#include <string_view>

namespace orvo::server::pg {

// The version recorded in the database; 0 when it holds no schema yet.
bool readPgSchemaVersion(PgConnection& conn, int& version, std::string& error);

// Creates the schema in an empty database and records its version, in one transaction; servers that start
// at once against the same database take turns. Fails when the database holds another schema version.
bool createPgSchema(PgConnection& conn, std::string& error);

// Brings a database of an older schema version forward to the current one, step by step as the SQLite
// schema's migration does, in one transaction (PostgreSQL's DDL is transactional: a failed step changes
// nothing). from says the version found; an empty database gets the current schema, a current one is
// left as it is, a newer one is refused.
bool migratePgSchema(PgConnection& conn, int& from, std::string& error);

// True when the operators table holds no row (a fresh database that --demo may seed).
bool isPgEmpty(PgConnection& conn, bool& empty, std::string& error);

// The host code tables that function 2 may download, with the SQL that reads each in table order and
// names its columns as the client reads them. nullptr for any other name: the name never reaches SQL.
const char* pgDownloadQueryFor(std::string_view tableName);

} // namespace orvo::server::pg
