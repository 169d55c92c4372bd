// Everything orvo-counterd is told, from its command line and its configuration file: one option table
// for both (and for --help), the file's entries checked against it, and the checks that need more than
// one option or the files the options name.
#pragma once

#include "server/config/ConfigFile.h"
#include "server/net/ServerOptions.h"
#include "server/store/RowCache.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::server::config {

struct Settings {
    std::string configFile; // the file read, empty when none
    std::string listen, dbPath, size = "small", date, logLevel = "info", logFormat = "auto";
    std::string metricsListen;  // HOST:PORT of /healthz and /metrics; empty: off
    std::string dbPasswordFile; // PostgreSQL password, the file's first line
    bool demo = false;
    bool readOnly = false;
    double simulateRate = 0; // changes per second of a simulated session; 0: none
    std::uint64_t simulateSeed = 1;
    int dbPool = 8;
    int rowCacheMb = static_cast<int>(RowCache::kDefaultMegabytes);
    ServerOptions options; // limits, time-outs and TLS files
};

// The options of serving, shared by the command line, the file and --help. Every option takes the last
// value given, so arguments made from the file and placed first lose to the command line.
void addServerOptions(CLI::App& app, Settings& settings);

// Checks each entry against the option table: an unknown name or a bad value is "FILE:LINE: reason".
// The good ones become "--name=value" arguments in args.
void configArguments(const std::string& path, const std::vector<ConfigEntry>& entries,
                     std::vector<std::string>& args, std::vector<std::string>& problems);

// The configuration file named by --config among the arguments, else defaultPath; explicit tells
// whether it was named (a named file must exist, the default one may be missing).
std::string configPathOf(const std::vector<std::string>& args, const std::string& defaultPath, bool& named);

// Reads the file and parses it with the command line (which wins) into settings, on a table without
// subcommands: what a reload does. Gives false with the problems.
bool loadSettings(const std::vector<std::string>& commandLine, const std::string& defaultConfig,
                  Settings& settings, std::vector<std::string>& problems);

// "@credential:NAME" in tls-cert, tls-key or db-password-file names the file NAME of the service's
// systemd credentials ($CREDENTIALS_DIRECTORY); rewritten here to its path.
void resolveCredentials(Settings& settings, std::vector<std::string>& problems);

// What serving needs beyond single values: a listen address and a database, TLS files that load and
// match, a readable password file. Appends a line per problem.
void checkSettings(const Settings& settings, std::vector<std::string>& problems);

// The PostgreSQL password from db-password-file, for libpq and pg_dump (PGPASSWORD of this process).
bool applyDbPassword(const Settings& settings, std::string& error);

// ADDRESS:PORT (an IPv6 address may stand in brackets).
bool splitListen(std::string_view text, std::string& address, int& port);

} // namespace orvo::server::config
