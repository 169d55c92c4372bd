// The administration subcommands of orvo-counterd, one registration function per group. Each
// subcommand, when chosen, leaves the work to run in CommandContext::chosen; main runs it after the
// whole command line (and configuration file) has been read.
#pragma once

#include "server/Db.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace orvo::server::admin {

struct CommandContext {
    const std::string* defaultDb = nullptr; // the serving --db, used when a subcommand has none
    std::function<int()>* chosen = nullptr;
};

void addOperatorCommands(CLI::App& app, const CommandContext& context);
void addTableCommands(CLI::App& app, const CommandContext& context);
void addMaintenanceCommands(CLI::App& app, const CommandContext& context);

// Exit codes of the subcommands.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Adds the --db option of a subcommand (one that also takes a PostgreSQL target says so).
void addDbOption(CLI::App& command, std::string& path, bool postgresAllowed = false);
// The subcommand's database: its own --db, else the serving one; prints why not and returns false
// (a PostgreSQL target too, unless the subcommand works on one).
bool resolveDb(const CommandContext& context, std::string& path, bool postgresAllowed = false);
// Opens the database for a subcommand, creating a missing one with the current schema. Prints the
// reason and returns false when it cannot (an older schema version too: migrate brings it forward).
bool openForCommand(const std::string& path, Db& db);

} // namespace orvo::server::admin
