// backup FILE | migrate
#include "server/Schema.h"
#include "server/admin/AdminStore.h"
#include "server/admin/Commands.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace orvo::server::admin {
namespace {

struct MaintenanceArgs {
    std::string db, file;
};

int backupCommand(const CommandContext& context, MaintenanceArgs& args) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    struct stat info {};
    if (stat(args.file.c_str(), &info) == 0) {
        std::fprintf(stderr, "orvo-counterd: %s exists already; a backup never overwrites a file\n",
                     args.file.c_str());
        return kExitFailed;
    }
    Db db;
    std::string error;
    if (!openForCommand(args.db, db))
        return kExitFailed;
    if (!backupTo(db, args.file, error)) {
        std::fprintf(stderr, "orvo-counterd: backup to %s: %s\n", args.file.c_str(), error.c_str());
        return kExitFailed;
    }
    return kExitDone;
}

int migrateCommand(const CommandContext& context, MaintenanceArgs& args) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    Db db;
    std::string error;
    int from = 0;
    if (!db.open(args.db, false, error) || !readSchemaVersion(db, from, error)) {
        std::fprintf(stderr, "orvo-counterd: %s: %s\n", args.db.c_str(), error.c_str());
        return kExitFailed;
    }
    if (from == 0) // a missing file: created at the current version, as every subcommand does
        return openForCommand(args.db, db) ? kExitDone : kExitFailed;
    if (!migrateSchema(db, from, error)) {
        std::fprintf(stderr, "orvo-counterd: %s: %s; nothing changed\n", args.db.c_str(), error.c_str());
        return kExitFailed;
    }
    if (from == kSchemaVersion)
        std::fprintf(stderr, "orvo-counterd: %s is at schema version %d already\n", args.db.c_str(), from);
    else
        std::fprintf(stderr, "orvo-counterd: %s migrated from schema version %d to %d\n", args.db.c_str(),
                     from, kSchemaVersion);
    return kExitDone;
}

} // namespace

void addMaintenanceCommands(CLI::App& app, const CommandContext& context) {
    auto args = std::make_shared<MaintenanceArgs>();
    CLI::App* backup =
        app.add_subcommand("backup", "copy the database consistently, also while the server runs");
    backup->add_option("FILE", args->file, "new file to write")->required();
    addDbOption(*backup, args->db);
    backup->callback(
        [context, args] { *context.chosen = [context, args] { return backupCommand(context, *args); }; });

    CLI::App* migrate = app.add_subcommand("migrate", "bring an older database to this program's schema");
    addDbOption(*migrate, args->db);
    migrate->callback(
        [context, args] { *context.chosen = [context, args] { return migrateCommand(context, *args); }; });
}

} // namespace orvo::server::admin
