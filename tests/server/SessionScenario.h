// Revocation across two servers sharing one database, the same on either back-end.
#pragma once

#include <string>
#include <vector>

namespace orvo::test {

// Runs two servers on db (a prepared demo database: SQLite file or PostgreSQL target) and checks that
// the operator commands and `sessions end` reach the sessions open on both; extraArgs go to each server.
void revocationReachesSessionsOnTwoServers(const std::string& db, const std::vector<std::string>& extraArgs);

} // namespace orvo::test
