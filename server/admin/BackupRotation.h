// Backups into a folder, as a timer takes them: each file named after the moment it was taken
// (counter-20261208T023000Z.db, .dump for PostgreSQL), so that names sort by age, and the oldest
// removed beyond a number to keep. Files of other names in the folder are never touched.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace orvo::server::admin {

std::string timedBackupName(bool postgres, std::time_t taken);

// Removes the oldest timed backups of the folder so that `keep` remain; removed names them.
bool pruneTimedBackups(const std::string& folder, std::size_t keep, std::vector<std::string>& removed,
                       std::string& error);

} // namespace orvo::server::admin
