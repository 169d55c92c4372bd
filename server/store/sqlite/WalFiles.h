// The write-ahead files beside a SQLite database: whether another process has the database open, and
// folding the write-ahead log back into the database file so that the file alone holds every commit.
#pragma once

#include <string>

namespace orvo::server {

// Whether a process other than this one has the database at path open. Every connection to a database
// in WAL mode holds a shared lock on the "DMS" byte of its -shm file for as long as it is open (SQLite's
// documented WAL-index locking); a process that could take that byte exclusively is alone. A database
// without a -shm file is open nowhere. False with the reason in error when the -shm file cannot be read.
bool openedByAnotherProcess(const std::string& path, bool& opened, std::string& error);

// Copies every commit of the write-ahead log into the database file and empties the log (a TRUNCATE
// checkpoint), waiting at most busyMs for readers of other processes. A file that is not there is left
// alone (true). False with the reason when the checkpoint could not finish, the data then still being
// safe in the log.
bool foldWriteAheadLog(const std::string& path, int busyMs, std::string& error);

} // namespace orvo::server
