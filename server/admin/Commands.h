// The administration subcommands of orvo-counterd, one registration function per group. Each
// subcommand, when chosen, leaves the work to run in CommandContext::chosen; main runs it after the
// whole command line (and configuration file) has been read.
#pragma once

#include "server/admin/AdminStore.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

namespace orvo::server::admin {

struct CommandContext {
    const std::string* defaultDb = nullptr; // the serving --db, used when a subcommand has none
    std::function<int()>* chosen = nullptr;
    const std::string* defaultTicketKey = nullptr; // the serving --ticket-key, when one is set
};

void addOperatorCommands(CLI::App& app, const CommandContext& context);
void addTableCommands(CLI::App& app, const CommandContext& context);
void addMaintenanceCommands(CLI::App& app, const CommandContext& context);
void addSessionCommands(CLI::App& app, const CommandContext& context);
void addTicketCommands(CLI::App& app, const CommandContext& context);

// Exit codes of the subcommands.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Adds the --db option of a subcommand: a SQLite file or a PostgreSQL target (see isPostgresTarget).
void addDbOption(CLI::App& command, std::string& path);
// The subcommand's database: its own --db, else the serving one; prints why not and returns false.
bool resolveDb(const CommandContext& context, std::string& path);
// A SQLite file that is not there is a typo more often than a wish: every command but migrate refuses it,
// naming the path. Prints why and returns false. (A PostgreSQL database must exist anyway.)
bool requireExistingDb(const std::string& target);
// Creates a new file readable by its owner only (backups and exports hold password hashes and
// customers); an existing file is made so as well. Prints why not and returns false.
bool createPrivateFile(const std::string& path);
// After a command that wrote a SQLite database: its write-ahead log folded into the file, so that a copy
// of the file alone holds the change. A reader that does not let go in time leaves the rest in the log,
// which is as safe; nothing to do on PostgreSQL.
void foldWriteAhead(const std::string& target);
// Prints "orvo-counterd: TARGET: error", any password in the target hidden.
void printDbError(const std::string& target, const std::string& error);
// Opens the database for a table or maintenance subcommand (see openAdminStore); prints the reason
// and returns nullptr when it cannot (an older schema version too: migrate brings it forward).
std::unique_ptr<AdminStore> openForCommand(const std::string& target, bool prepare = true);

} // namespace orvo::server::admin
