#include "server/admin/AdminStore.h"
#include "server/admin/Commands.h"
#include "server/store/StoreSource.h"
#include "server/store/sqlite/WalFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::server::admin {

void addDbOption(CLI::App& command, std::string& path) {
    command.add_option("--db", path,
                       "SQLite database file or PostgreSQL URI (default: the server's --db); "
                       "the schema is created when missing");
}

bool resolveDb(const CommandContext& context, std::string& path) {
    if (path.empty() && context.defaultDb)
        path = *context.defaultDb;
    if (path.empty()) {
        std::fprintf(stderr, "orvo-counterd: --db is required\n");
        return false;
    }
    return true;
}

void printDbError(const std::string& target, const std::string& error) {
    std::fprintf(stderr, "orvo-counterd: %s: %s\n", redactedTarget(target).c_str(), error.c_str());
}

bool requireExistingDb(const std::string& target) {
    struct stat info {};
    if (isPostgresTarget(target) || stat(target.c_str(), &info) == 0)
        return true;
    std::fprintf(stderr,
                 "orvo-counterd: %s: no such database (serving or 'orvo-counterd migrate --db %s' creates "
                 "one)\n",
                 target.c_str(), target.c_str());
    return false;
}

void foldWriteAhead(const std::string& target) {
    constexpr int kReaderWaitMs = 2000;
    std::string ignored;
    if (!isPostgresTarget(target))
        foldWriteAheadLog(target, kReaderWaitMs, ignored);
}

bool createPrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0) {
        std::fprintf(stderr, "orvo-counterd: %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

std::unique_ptr<AdminStore> openForCommand(const std::string& target, bool prepare) {
    // migrate opens without preparing: it alone may make a new database.
    if (prepare && !requireExistingDb(target))
        return nullptr;
    std::string error;
    std::unique_ptr<AdminStore> store = openAdminStore(target, prepare, error);
    if (!store)
        printDbError(target, error);
    return store;
}

std::unique_ptr<AdminStore> openAdminStore(const std::string& target, bool prepare, std::string& error) {
    return isPostgresTarget(target) ? openPgAdminStore(target, prepare, error)
                                    : openSqliteAdminStore(target, prepare, error);
}

} // namespace orvo::server::admin
