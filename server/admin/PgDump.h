// The backup of a PostgreSQL database: PostgreSQL's own pg_dump, in its custom format (which pg_restore
// reads, table by table if need be), taken in one snapshot while servers keep working.
#pragma once

#include <string>

namespace orvo::server::admin {

// Runs pg_dump (found on PATH) for the database named by conninfo into a temporary file beside target,
// and gives it target's name once complete; a failed or interrupted dump leaves nothing behind. No shell
// is involved and a password in conninfo reaches pg_dump through its environment, never its command line
// (libpq's PG* variables and password file are honoured as usual). Never overwrites target. On failure,
// error says why: pg_dump's exit status and its own message, or that it is not installed.
bool dumpPostgres(const std::string& conninfo, const std::string& target, std::string& error);

} // namespace orvo::server::admin
