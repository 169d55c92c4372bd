// Revocation across two servers sharing one database, the same on either back-end.
#pragma once

#include <string>
#include <vector>

namespace orvo::test {

// Runs two servers on db (a prepared demo database: SQLite file or PostgreSQL target) and checks that
// the operator commands and `sessions end` reach the sessions open on both; extraArgs go to each server.
void revocationReachesSessionsOnTwoServers(const std::string& db, const std::vector<std::string>& extraArgs);

// Runs a server on db and checks that a login whose connection is gone before its answer, and the
// sessions of a server killed outright (ended by the next one started on this host), leave nothing live.
void nothingIsLeftLiveOfDroppedLoginsAndKilledServers(const std::string& db);

} // namespace orvo::test
