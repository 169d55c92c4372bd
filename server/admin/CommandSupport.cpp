#include "server/admin/AdminStore.h"
#include "server/admin/Commands.h"
#include "server/store/StoreSource.h"

#include <cstdio>

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

std::unique_ptr<AdminStore> openForCommand(const std::string& target, bool prepare) {
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
