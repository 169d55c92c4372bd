#include "server/store/sqlite/WalFiles.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::server {
namespace {

// The byte of the -shm file every open connection holds a shared lock on (walformat: 120 bytes of
// header locks, then eight lock slots, then the DMS byte).
constexpr off_t kDeadManSwitchByte = 128;

} // namespace

bool openedByAnotherProcess(const std::string& path, bool& opened, std::string& error) {
    opened = false;
    const std::string shm = path + "-shm";
    const int fd = ::open(shm.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = shm + ": " + std::strerror(errno);
        return false;
    }
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kDeadManSwitchByte;
    probe.l_len = 1;
    // F_GETLK reports a lock of another process that would conflict; this process's own are ignored.
    const bool asked = ::fcntl(fd, F_GETLK, &probe) == 0;
    const int why = errno;
    ::close(fd);
    if (!asked) {
        error = shm + ": " + std::strerror(why);
        return false;
    }
    opened = probe.l_type != F_UNLCK;
    return true;
}

bool foldWriteAheadLog(const std::string& path, int busyMs, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return true;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, busyMs);
    // A connection learns that the file is in WAL mode when it first reads it; until then a checkpoint
    // finds no log to fold.
    int logFrames = 0, copiedFrames = 0;
    int rc = sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &copiedFrames);
    const bool done = rc == SQLITE_OK && logFrames == copiedFrames;
    if (!done)
        error = std::string("checkpoint: ") + sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    return done;
}

} // namespace orvo::server
