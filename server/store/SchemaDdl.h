// A fresh database's tables and indexes, written in each back-end's SQL from the schema's description.
#pragma once

#include <string>

namespace orvo::server::schema {

enum class Dialect { Sqlite, Postgres };

// CREATE TABLE and CREATE INDEX statements (IF NOT EXISTS) for the tables and indexes as they stood at
// the given schema version: a fresh database gets version 1 this way and then runs every migration step,
// so fresh and migrated databases are the same.
//
// PostgreSQL's translations: text is the domain gbk (text collated "C": values are the GBK bytes as
// stored, compared byte by byte as SQLite does; the statements create the domain); integers are bigint;
// a table kept in insertion order gets an explicit rowid column last (SQLite's is implicit); references
// are DEFERRABLE, so an import with --replace may delete rows and bring them back before the check.
std::string tablesSql(Dialect dialect, int version);

} // namespace orvo::server::schema
