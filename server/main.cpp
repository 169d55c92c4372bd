// orvo-counterd: the counter server, and the subcommands that administer its database.
//   orvo-counterd --listen 127.0.0.1:PORT --db FILE|postgresql://... [--db-pool N] [--demo [--size
//   small|large]]
//                 [--date YYYY.MM.DD]
//   orvo-counterd operator|tables|export|import|backup|migrate ... --db FILE
// Options may also come from an INI or TOML file (--config, default under /etc); the command line
// wins. Serves on a loopback address unless another one is given explicitly; stops on SIGINT or SIGTERM.
#include "server/CounterServer.h"
#include "server/admin/Commands.h"
#include "server/common/Dates.h"
#include "server/common/ServerLog.h"
#include "server/demo/MarketSimulator.h"
#include "server/demo/PgSeed.h"
#include "server/demo/PrepareStore.h"
#include "server/store/StoreSource.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/Schema.h"

#include "orvo/Version.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace {

using namespace orvo::server;

const std::string kDefaultConfig = std::string(ORVO_SYSCONFDIR) + "/orvo/orvo-counterd.conf";

struct ServeSettings {
    std::string listen, dbPath, size = "small", date, logLevel = "info";
    bool demo = false;
    bool readOnly = false;
    double simulateRate = 0; // changes per second of a simulated session; 0: none
    std::uint64_t simulateSeed = 1;
    int dbPool = 8;
    int rowCacheMb = static_cast<int>(RowCache::kDefaultMegabytes);
};

bool splitListen(std::string_view text, std::string& address, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size())
        return false;
    address = std::string(text.substr(0, colon));
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    port = 0;
    for (char c : text.substr(colon + 1)) {
        if (c < '0' || c > '9' || port > 65535)
            return false;
        port = port * 10 + (c - '0');
    }
    return port <= 65535;
}

bool isLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1";
}

// What serving needs: where, which database, demo data, the business date.
void addServeOptions(CLI::App& app, ServeSettings& s) {
    app.add_option("--listen", s.listen,
                   "address and port to serve on, e.g. 127.0.0.1:7001 (port 0: any free port)");
    app.add_option(
        "--db", s.dbPath,
        "SQLite database file (created when missing), or a PostgreSQL database: a postgresql:// or "
        "postgres:// URI or libpq key=value pairs");
    app.add_option("--db-pool", s.dbPool,
                   "PostgreSQL connections of this server, shared by its workers (default 8)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--row-cache-mb", s.rowCacheMb,
                   "memory for rule rows kept encoded between replies, in MiB (default 64; 0: none)")
        ->check(CLI::Range(0, 65536));
    app.add_flag("--demo", s.demo,
                 "seed demo data into an empty database (demo operators admin/admin, teller/teller)");
    app.add_option("--simulate", s.simulateRate,
                   "with --demo on SQLite: play a trading session on the data, RATE changes per second")
        ->check(CLI::Range(0.01, 100000.0));
    app.add_option("--seed", s.simulateSeed,
                   "the simulated session to play (default 1): the same seed, the "
                   "same session");
    app.add_option("--size", s.size,
                   "demo size: small (default) or large (100,000 stop-loss rules, 20,000 contracts)")
        ->check(CLI::IsMember({"small", "large"}));
    app.add_option("--date", s.date, "business date for validity checks, YYYY.MM.DD (default: today)")
        ->check([](const std::string& text) {
            return isDate(text) ? std::string() : "'" + text + "' is not a calendar date YYYY.MM.DD";
        });
}

// Limits and time-outs of the connections.
void addLimitOptions(CLI::App& app, ServerOptions& options) {
    app.add_option("--max-connections", options.maxConnections, "clients served at once (default 1024)")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--max-pending-logins", options.maxPendingLogins,
                   "connections not logged in yet (default 256)")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--max-pending-logins-per-address", options.maxPendingLoginsPerAddress,
                   "of those, from one client address (default 8)")
        ->check(CLI::Range(1, 1000000));
    app.add_option_function<int>(
           "--login-timeout", [&options](int s) { options.loginTimeoutMs = s * 1000; },
           "seconds a connection has to log in (default 10)")
        ->check(CLI::Range(1, 1000000));
    app.add_option_function<int>(
           "--write-timeout", [&options](int s) { options.writeTimeoutMs = s * 1000; },
           "seconds a client has to take each part of a reply (default 30)")
        ->check(CLI::Range(1, 1000000));
    app.add_option_function<int>(
           "--reply-timeout", [&options](int s) { options.replyTimeoutMs = s * 1000; },
           "seconds a client has to take a whole reply (default 120)")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--reply-min-rate", options.replyMinRate,
                   "bytes per second a client must take a reply at after its first 10 s (default 8192; 0: "
                   "no minimum)")
        ->check(CLI::Range(0, 1000000000));
    app.add_option("--reply-buffer-mb", options.replyBufferMb,
                   "memory for replies kept aside for slow clients, in MiB (default 64; beyond: temporary "
                   "files)")
        ->check(CLI::Range(0, 65536));
    app.add_option("--db-statement-timeout-ms", options.dbStatementTimeoutMs,
                   "PostgreSQL: a query running longer is cancelled with an error (default 30000; 0: never)")
        ->check(CLI::Range(0, 86400000));
    app.add_option(
           "--db-lock-timeout-ms", options.dbLockTimeoutMs,
           "PostgreSQL: a query waiting longer for a lock is cancelled with an error (default 5000; 0: "
           "never)")
        ->check(CLI::Range(0, 86400000));
    app.add_option("--workers", options.workers,
                   "threads for heavy requests, as many again for light ones (default: cores)")
        ->check(CLI::Range(1, 1024));
    app.add_option_function<int>(
           "--idle-timeout", [&options](int s) { options.idleTimeoutMs = s * 1000; },
           "seconds a connection may stay idle (default 300)")
        ->check(CLI::Range(1, 1000000));
    app.add_option_function<int>(
           "--read-timeout", [&options](int s) { options.readTimeoutMs = s * 1000; },
           "seconds a started request may take to arrive (default 30)")
        ->check(CLI::Range(1, 1000000));
}

// TLS on the listening port, and a database the server must not change.
void addSecurityOptions(CLI::App& app, ServerOptions& options, ServeSettings& s) {
    auto* cert = app.add_option("--tls-cert", options.tlsCertFile,
                                "PEM certificate: with --tls-key the port speaks TLS only (1.2 or later)");
    auto* key = app.add_option("--tls-key", options.tlsKeyFile, "PEM private key of --tls-cert");
    cert->needs(key);
    key->needs(cert);
    app.add_flag("--read-only", s.readOnly,
                 "never change the database: open it read-only, no schema step (it must exist)");
}

void addLogOptions(CLI::App& app, std::string& level) {
    app.add_option("--log-level", level, "error, warn, info (default) or debug")
        ->check(CLI::IsMember({"error", "warn", "info", "debug"}));
}

// A database without operators accepts no login: say so at once rather than at the first refusal.
void warnWithoutOperators(const std::string& path) {
    Db db;
    std::string error;
    bool empty = false;
    if (db.open(path, true, error) && isEmpty(db, empty, error) && empty)
        logLine(LogLevel::Warn, path +
                                    " holds no operators, every login will be refused (add one with "
                                    "'orvo-counterd operator add NAME --db " +
                                    path + "', or --demo for demo data)");
}

// A database the server must not change: it has to exist and hold the operators; nothing is created.
bool checkReadOnlyStore(const std::string& path, std::string& error) {
    Db db;
    Statement probe;
    if (!db.open(path, true, error))
        return false;
    if (!db.prepare("SELECT COUNT(*) FROM operators", probe, error) || probe.step() != SQLITE_ROW) {
        error = "not a counter database (" + (error.empty() ? db.lastError() : error) + ")";
        return false;
    }
    return true;
}

int serve(const ServeSettings& s, ServerOptions options) {
    std::string address;
    int port = 0;
    if (s.listen.empty()) {
        std::fprintf(
            stderr, "orvo-counterd: --listen is required (e.g. --listen 127.0.0.1:7001); --help lists all\n");
        return 2;
    }
    if (!splitListen(s.listen, address, port)) {
        std::fprintf(stderr, "orvo-counterd: --listen wants ADDRESS:PORT, got '%s'\n", s.listen.c_str());
        return 2;
    }
    if (s.dbPath.empty()) {
        std::fprintf(stderr, "orvo-counterd: --db is required\n");
        return 2;
    }
    if (!isLoopback(address))
        logLine(LogLevel::Warn, "serving on " + address + ", reachable from other machines");

    DemoOptions demoOptions;
    demoOptions.size = s.size == "large" ? DemoSize::Large : DemoSize::Small;
    demoOptions.today = s.date;
    std::string error;
    if (s.simulateRate > 0 && (!s.demo || s.readOnly || isPostgresTarget(s.dbPath))) {
        std::fprintf(stderr, "orvo-counterd: --simulate plays on the demo data of a writable SQLite database "
                             "(with --demo)\n");
        return 2;
    }
    if (s.readOnly && s.demo) {
        std::fprintf(stderr, "orvo-counterd: --demo cannot seed a --read-only database\n");
        return 2;
    }
    const bool onPostgres = isPostgresTarget(s.dbPath);
    const std::string shownDb = onPostgres ? redactedTarget(s.dbPath) : s.dbPath;
    if (onPostgres) {
        // Read-only or not, the schema must be there; a read-only server never seeds.
        bool noOperators = false;
        if (!(s.readOnly ? pg::pgHasNoOperators(s.dbPath, noOperators, error)
                         : pg::preparePgStore(s.dbPath, s.demo ? &demoOptions : nullptr, error) &&
                               pg::pgHasNoOperators(s.dbPath, noOperators, error))) {
            logLine(LogLevel::Error, shownDb + ": " + error);
            return 1;
        }
        if (noOperators)
            logLine(LogLevel::Warn, shownDb +
                                        " holds no operators, every login will be refused (--demo seeds "
                                        "demo data into an empty database)");
    } else {
        if (s.readOnly ? !checkReadOnlyStore(s.dbPath, error)
                       : !prepareStore(s.dbPath, s.demo ? &demoOptions : nullptr, error)) {
            logLine(LogLevel::Error, s.dbPath + ": " + error);
            return 1;
        }
        if (!s.demo)
            warnWithoutOperators(s.dbPath);
    }

    // Block the stop signals before any thread starts, then wait for one of them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    options.dbPath = s.dbPath;
    options.dbPoolSize = s.dbPool;
    options.rowCacheMb = s.rowCacheMb;
    options.today = s.date;
    options.log = [](std::string_view line) { logLine(levelOfServerLine(line), line); };
    CounterServer server(options);
    if (server.start(address, port, error) < 0) {
        logLine(LogLevel::Error, error);
        return 1;
    }
    logLine(LogLevel::Info, "orvo-counterd " ORVO_VERSION " serving " + shownDb);
    std::unique_ptr<MarketSimulator> simulator;
    if (s.simulateRate > 0) {
        SimulatorOptions simulated;
        simulated.rate = s.simulateRate;
        simulated.seed = s.simulateSeed;
        simulated.today = s.date.empty() ? localDate() : s.date;
        simulator = std::make_unique<MarketSimulator>(simulated);
        if (!simulator->start(s.dbPath, error)) {
            logLine(LogLevel::Error, "cannot simulate: " + error);
            server.stop();
            return 1;
        }
        logLine(LogLevel::Info, "simulating a session: " + std::to_string(s.simulateRate) +
                                    " changes a second, seed " + std::to_string(s.simulateSeed));
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    logLine(LogLevel::Info, std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") + ", stopping");
    if (simulator)
        simulator->stop();
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"orvo-counterd: the counter server and the administration of its database", "orvo-counterd"};
    app.set_version_flag("--version", "orvo-counterd " ORVO_VERSION);
    app.set_config("--config", kDefaultConfig,
                   "read options from this INI or TOML file (the command line wins)");
    app.require_subcommand(0, 1);
    app.fallthrough(); // --config and the other top-level options may also follow a subcommand

    ServeSettings settings;
    ServerOptions options;
    addServeOptions(app, settings);
    addLimitOptions(app, options);
    addSecurityOptions(app, options, settings);
    addLogOptions(app, settings.logLevel);

    std::function<int()> chosen;
    const admin::CommandContext context{&settings.dbPath, &chosen};
    admin::addOperatorCommands(app, context);
    admin::addTableCommands(app, context);
    admin::addMaintenanceCommands(app, context);
    admin::addSessionCommands(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    LogLevel level = LogLevel::Info;
    parseLogLevel(settings.logLevel, level);
    setLogLevel(level);
    return chosen ? chosen() : serve(settings, options);
}
