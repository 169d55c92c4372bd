#include "server/admin/Commands.h"

#include "server/Store.h"
#include "server/store/StoreSource.h"

#include <cstdio>

namespace orvo::server::admin {

void addDbOption(CLI::App& command, std::string& path, bool postgresAllowed) {
    command.add_option("--db", path,
                       postgresAllowed
                           ? "SQLite database file or PostgreSQL URI (default: the server's --db); "
                             "the schema is created when missing"
                           : "SQLite database file (default: the server's --db); created when missing");
}

bool resolveDb(const CommandContext& context, std::string& path, bool postgresAllowed) {
    if (path.empty() && context.defaultDb)
        path = *context.defaultDb;
    if (path.empty()) {
        std::fprintf(stderr, "orvo-counterd: --db is required\n");
        return false;
    }
    if (!postgresAllowed && isPostgresTarget(path)) {
        // Never taken for a file name: that would create a stray SQLite file named after the URI.
        std::fprintf(stderr, "orvo-counterd: this command works on a SQLite database file only\n");
        return false;
    }
    return true;
}

bool openForCommand(const std::string& path, Db& db) {
    std::string error;
    if (!prepareStore(path, nullptr, error) || !db.open(path, false, error)) {
        std::fprintf(stderr, "orvo-counterd: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

} // namespace orvo::server::admin
