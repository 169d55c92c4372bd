// backup FILE|FOLDER [--keep N] | migrate
#include "server/admin/BackupRotation.h"
#include "server/admin/Commands.h"
#include "server/store/SchemaTables.h"
#include "server/store/StoreSource.h"
#include "server/store/sqlite/WalFiles.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/stat.h>

namespace orvo::server::admin {
namespace {

struct MaintenanceArgs {
    std::string db, file;
    std::size_t keep = 0;
    bool ifNeeded = false;
};

int backupCommand(const CommandContext& context, MaintenanceArgs& args) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    // A folder gets a file named after the moment, and with --keep loses its oldest such files.
    struct stat info {};
    const bool intoFolder = stat(args.file.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    const std::string folder = args.file;
    if (args.keep > 0 && !intoFolder) {
        std::fprintf(stderr, "orvo-counterd: --keep wants a folder to back up into, %s is none\n",
                     args.file.c_str());
        return kExitUsage;
    }
    if (intoFolder)
        args.file = folder + "/" + timedBackupName(isPostgresTarget(args.db), std::time(nullptr));
    if (stat(args.file.c_str(), &info) == 0) {
        std::fprintf(stderr, "orvo-counterd: %s exists already; a backup never overwrites a file\n",
                     args.file.c_str());
        return kExitFailed;
    }
    std::unique_ptr<AdminStore> store = openForCommand(args.db);
    if (!store)
        return kExitFailed;
    // SQLite copies into an empty file made private first (the copy holds password hashes); pg_dump
    // writes a private file of its own and links it to the name.
    if (!isPostgresTarget(args.db) && !createPrivateFile(args.file))
        return kExitFailed;
    std::string error;
    if (!store->backupTo(args.file, error)) {
        std::fprintf(stderr, "orvo-counterd: backup to %s: %s\n", args.file.c_str(), error.c_str());
        std::remove(args.file.c_str());
        return kExitFailed;
    }
    store.reset();
    foldWriteAhead(args.db);
    std::fprintf(stderr, "orvo-counterd: backed up to %s\n", args.file.c_str());
    if (args.keep > 0) {
        std::vector<std::string> removed;
        const bool pruned = pruneTimedBackups(folder, args.keep, removed, error);
        for (const std::string& path : removed)
            std::fprintf(stderr, "orvo-counterd: removed the older backup %s\n", path.c_str());
        if (!pruned) {
            std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
            return kExitFailed;
        }
    }
    return kExitDone;
}

int migrateCommand(const CommandContext& context, MaintenanceArgs& args) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    // Steps taken under a server that has the file open would change the schema beneath its statements
    // (an upgrade that did not stop the old server first). PostgreSQL takes its advisory lock instead.
    if (!isPostgresTarget(args.db)) {
        bool opened = false;
        std::string error;
        if (!openedByAnotherProcess(args.db, opened, error)) {
            printDbError(args.db, error);
            return kExitFailed;
        }
        if (opened) {
            printDbError(args.db, "another process has the database open (a server still running?); stop it "
                                  "and run migrate again; nothing changed");
            return kExitFailed;
        }
    }
    std::unique_ptr<AdminStore> store = openForCommand(args.db, false);
    if (!store)
        return kExitFailed;
    std::string error;
    int from = 0;
    if (!store->migrate(from, error)) {
        printDbError(args.db, error + "; nothing changed");
        return kExitFailed;
    }
    store.reset();
    foldWriteAhead(args.db);
    const std::string target = redactedTarget(args.db);
    if (from == 0)
        std::fprintf(stderr, "orvo-counterd: created schema version %d in %s\n", kSchemaVersion,
                     target.c_str());
    else if (from != kSchemaVersion)
        std::fprintf(stderr, "orvo-counterd: %s migrated from schema version %d to %d\n", target.c_str(),
                     from, kSchemaVersion);
    else if (!args.ifNeeded)
        std::fprintf(stderr, "orvo-counterd: %s is at schema version %d already\n", target.c_str(), from);
    return kExitDone;
}

} // namespace

void addMaintenanceCommands(CLI::App& app, const CommandContext& context) {
    auto args = std::make_shared<MaintenanceArgs>();
    CLI::App* backup =
        app.add_subcommand("backup", "copy the database consistently, also while the server runs");
    backup
        ->add_option("FILE", args->file,
                     "new file to write, or a folder to write counter-TIME.db (.dump on PostgreSQL) into")
        ->required();
    backup
        ->add_option("--keep", args->keep,
                     "with a folder: keep this many timed backups there, removing the oldest")
        ->check(CLI::Range(1, 100000));
    addDbOption(*backup, args->db);
    backup->callback(
        [context, args] { *context.chosen = [context, args] { return backupCommand(context, *args); }; });

    CLI::App* migrate = app.add_subcommand("migrate", "bring an older database to this program's schema");
    addDbOption(*migrate, args->db);
    migrate->add_flag("--if-needed", args->ifNeeded,
                      "say nothing when the schema is current (for a service's start; exit 0 either way)");
    migrate->callback(
        [context, args] { *context.chosen = [context, args] { return migrateCommand(context, *args); }; });
}

} // namespace orvo::server::admin
