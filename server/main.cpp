// orvo-counterd: the counter server, and the subcommands that administer its database.
//   orvo-counterd --listen 127.0.0.1:PORT --db FILE|postgresql://... [options]
//   orvo-counterd operator|tables|export|import|backup|migrate ... --db FILE
//   orvo-counterd check-config [--config FILE]
// Options may also come from a configuration file (--config, default under /etc); the command line
// wins. Serves on a loopback address unless another one is given explicitly; stops on SIGINT or
// SIGTERM, reloads the configuration on SIGHUP.
#include "server/CounterServer.h"
#include "server/admin/Commands.h"
#include "server/common/Dates.h"
#include "server/common/ServerLog.h"
#include "server/config/ManPage.h"
#include "server/config/ServerSettings.h"
#include "server/config/ServiceNotify.h"
#include "server/config/SettingChanges.h"
#include "server/demo/MarketSimulator.h"
#include "server/demo/PgSeed.h"
#include "server/demo/PrepareStore.h"
#include "server/store/SchemaTables.h"
#include "server/store/StoreSource.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/Schema.h"
#include "server/store/sqlite/WalFiles.h"

#include "orvo/Version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvo::server;
using config::Settings;

const std::string kDefaultConfig = std::string(ORVO_SYSCONFDIR) + "/orvo/orvo-counterd.conf";

bool isLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1";
}

void applyLogSettings(const Settings& s) {
    LogLevel level = LogLevel::Info;
    parseLogLevel(s.logLevel, level);
    setLogLevel(level);
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

// Creates or checks the database (and seeds the demo data) before serving; logs why not.
bool prepareDatabase(const Settings& s) {
    DemoOptions demoOptions;
    demoOptions.size = s.size == "large" ? DemoSize::Large : DemoSize::Small;
    demoOptions.today = s.date;
    std::string error;
    if (isPostgresTarget(s.dbPath)) {
        const std::string shownDb = redactedTarget(s.dbPath);
        // Read-only or not, the schema must be there; a read-only server never seeds.
        bool noOperators = false;
        if (!(s.readOnly ? pg::pgHasNoOperators(s.dbPath, noOperators, error)
                         : pg::preparePgStore(s.dbPath, s.demo ? &demoOptions : nullptr, error) &&
                               pg::pgHasNoOperators(s.dbPath, noOperators, error))) {
            logLine(LogLevel::Error, shownDb + ": " + error);
            return false;
        }
        if (noOperators)
            logLine(LogLevel::Warn, shownDb +
                                        " holds no operators, every login will be refused (--demo seeds "
                                        "demo data into an empty database)");
        return true;
    }
    if (s.readOnly ? !checkReadOnlyStore(s.dbPath, error)
                   : !prepareStore(s.dbPath, s.demo ? &demoOptions : nullptr, error)) {
        logLine(LogLevel::Error, s.dbPath + ": " + error);
        return false;
    }
    if (!s.demo)
        warnWithoutOperators(s.dbPath);
    return true;
}

// SIGHUP: the file and the command line again. A bad file changes nothing; a good one's limits,
// time-outs, log level and TLS files hold from now on, and the log says what changed.
void reload(CounterServer& server, Settings& running, const std::vector<std::string>& commandLine) {
    Settings fresh;
    std::vector<std::string> problems;
    if (config::loadSettings(commandLine, kDefaultConfig, fresh, problems))
        config::checkSettings(fresh, problems);
    std::string error;
    if (problems.empty() && !server.reload(fresh.options, error))
        problems.push_back(error);
    if (!problems.empty()) {
        for (const std::string& problem : problems)
            logLine(LogLevel::Error, "reload refused, the running configuration stays: " + problem);
        return;
    }
    const config::SettingChanges changes = config::compareSettings(running, fresh);
    applyLogSettings(fresh);
    std::string text = "reloaded " + (fresh.configFile.empty() ? "the command line" : fresh.configFile);
    text += fresh.options.tlsCertFile.empty() ? "" : "; TLS certificate and key read again";
    for (const std::string& change : changes.applied)
        text += "; " + change;
    logLine(LogLevel::Info, text);
    for (const std::string& name : changes.needRestart)
        logLine(LogLevel::Warn, name + " changed; it takes effect at the next start");
    // What the next reload compares with: the settings now in force.
    const Settings before = running;
    running = fresh;
    running.listen = before.listen;
    running.dbPath = before.dbPath;
    running.dbPasswordFile = before.dbPasswordFile;
    running.dbPool = before.dbPool;
    running.rowCacheMb = before.rowCacheMb;
    running.options.warmRowCache = before.options.warmRowCache;
    running.options.workers = before.options.workers;
    running.date = before.date;
    running.readOnly = before.readOnly;
    running.demo = before.demo;
    running.size = before.size;
    running.metricsListen = before.metricsListen;
    running.logFormat = before.logFormat;
    running.simulateRate = before.simulateRate;
    running.simulateSeed = before.simulateSeed;
    running.options.replyTimeoutMs = before.options.replyTimeoutMs;
    running.options.replyMinRate = before.options.replyMinRate;
    running.options.replyBufferMb = before.options.replyBufferMb;
    running.options.dbStatementTimeoutMs = before.options.dbStatementTimeoutMs;
    running.options.dbLockTimeoutMs = before.options.dbLockTimeoutMs;
}

int serve(Settings s, const std::vector<std::string>& commandLine) {
    std::string address;
    int port = 0;
    if (s.listen.empty()) {
        std::fprintf(
            stderr, "orvo-counterd: --listen is required (e.g. --listen 127.0.0.1:7001); --help lists all\n");
        return 2;
    }
    if (!config::splitListen(s.listen, address, port)) {
        std::fprintf(stderr, "orvo-counterd: --listen wants ADDRESS:PORT, got '%s'\n", s.listen.c_str());
        return 2;
    }
    if (s.dbPath.empty()) {
        std::fprintf(stderr, "orvo-counterd: --db is required\n");
        return 2;
    }
    if (s.simulateRate > 0 && (!s.demo || s.readOnly || isPostgresTarget(s.dbPath))) {
        std::fprintf(stderr, "orvo-counterd: --simulate plays on the demo data of a writable SQLite database "
                             "(with --demo)\n");
        return 2;
    }
    if (s.readOnly && s.demo) {
        std::fprintf(stderr, "orvo-counterd: --demo cannot seed a --read-only database\n");
        return 2;
    }
    // Blocked before any thread starts, and waited for below: a reload or a stop asked for while the
    // database is prepared waits until serving has begun.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (!isLoopback(address))
        logLine(LogLevel::Warn, "serving on " + address + ", reachable from other machines");
    if (!prepareDatabase(s))
        return 1;

    // A connection kept open for the whole run holds the database's shared-memory lock, which is how
    // migrate (an upgrade's ExecStartPre, an administrator) sees that a server is using the file even
    // while no request is running.
    Db presence;
    std::string error;
    if (!s.readOnly && !isPostgresTarget(s.dbPath) &&
        !(presence.open(s.dbPath, false, error) && presence.exec("PRAGMA schema_version", error))) {
        logLine(LogLevel::Error, s.dbPath + ": " + error);
        return 1;
    }

    ServerOptions options = s.options;
    if (!s.metricsListen.empty() &&
        !config::splitListen(s.metricsListen, options.metricsAddress, options.metricsPort)) {
        std::fprintf(stderr, "orvo-counterd: --metrics-listen wants ADDRESS:PORT, got '%s'\n",
                     s.metricsListen.c_str());
        return 2;
    }
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
    logLine(LogLevel::Info, "orvo-counterd " ORVO_VERSION " (database schema " +
                                std::to_string(kSchemaVersion) + ") serving " +
                                (isPostgresTarget(s.dbPath) ? redactedTarget(s.dbPath) : s.dbPath));
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
    config::notifyService("READY=1\nSTATUS=serving on " + s.listen + "\nMAINPID=" + std::to_string(getpid()));
    // The watchdog hears from the server as long as its event loop runs what it is given.
    const auto watchdog = config::watchdogInterval() / 2;
    const std::chrono::microseconds tick =
        watchdog.count() > 0 ? std::min<std::chrono::microseconds>(watchdog, std::chrono::seconds(1))
                             : std::chrono::seconds(1);
    for (;;) {
        // Woken at least once a second: counts of folded log lines whose minute is over, the watchdog.
        const timespec wait{static_cast<time_t>(tick.count() / 1000000),
                            static_cast<long>(tick.count() % 1000000) * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &wait);
        if (signal < 0) {
            flushLogRepeats();
            if (watchdog.count() > 0 && server.loopAnswers(std::chrono::seconds(1)))
                config::notifyService("WATCHDOG=1");
        } else if (signal == SIGHUP) {
            config::notifyService("RELOADING=1");
            reload(server, s, commandLine);
            config::notifyService("READY=1");
        } else if (signal == SIGUSR1) {
            logLine(LogLevel::Info, "SIGUSR1 ignored (SIGHUP reloads the configuration)");
        } else {
            logLine(LogLevel::Info, std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") + ", stopping");
            config::notifyService("STOPPING=1");
            if (simulator)
                simulator->stop();
            break;
        }
    }
    server.stop();
    presence.close();
    // Every commit into the database file itself, the write-ahead log emptied: a copy of the file
    // taken while the service is stopped is then complete.
    if (!s.readOnly && !isPostgresTarget(s.dbPath) && !foldWriteAheadLog(s.dbPath, 2000, error))
        logLine(LogLevel::Warn, s.dbPath + ": the write-ahead log stays beside the database (" + error + ")");
    flushLogRepeats(true);
    return 0;
}

// check-config: everything serving would read, without serving; each problem on a line of its own.
int checkConfig(const Settings& s, std::vector<std::string> problems) {
    config::checkSettings(s, problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "orvo-counterd: %s\n", problem.c_str());
    if (!problems.empty())
        return 1;
    // Root reads every file: a key or password file the service's dynamic user cannot open passes here.
    if (geteuid() == 0)
        std::fprintf(stderr, "orvo-counterd: note: checked as root, so that the service's user may read the "
                             "files named is not proven; run the check as the service runs (operations.md, "
                             "\"check-config as the service runs it\")\n");
    std::printf("%s: ok\n",
                s.configFile.empty() ? "command line (no configuration file)" : s.configFile.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"orvo-counterd: the counter server and the administration of its database", "orvo-counterd"};
    app.set_version_flag("--version", "orvo-counterd " ORVO_VERSION " (database schema " +
                                          std::to_string(kSchemaVersion) + ")");
    app.require_subcommand(0, 1);
    app.fallthrough(); // --config and the other top-level options may also follow a subcommand

    Settings settings;
    std::string configPath;
    app.add_option("--config", configPath,
                   "read options from this file, \"name = value\" a line (the command line wins; default " +
                       kDefaultConfig + " when it exists)");
    config::addServerOptions(app, settings);

    std::function<int()> chosen;
    bool checkOnly = false;
    app.add_subcommand("check-config", "check the configuration file and the options without serving")
        ->callback([&checkOnly] { checkOnly = true; });
    const admin::CommandContext context{&settings.dbPath, &chosen, &settings.options.ticketKeyFile};
    admin::addOperatorCommands(app, context);
    admin::addTableCommands(app, context);
    admin::addMaintenanceCommands(app, context);
    admin::addSessionCommands(app, context);
    admin::addTicketCommands(app, context);

    const std::vector<std::string> commandLine(argv + 1, argv + argc);
    // Hidden, for the build: the manual page's OPTIONS section from this very table, no file read.
    if (commandLine.size() == 1 && commandLine[0] == "--print-man-options") {
        std::fputs(config::manOptions(app).c_str(), stdout);
        return 0;
    }
    // The file's options go first, so that the command line's come later and win.
    std::vector<std::string> problems, args;
    bool named = false;
    const std::string path = config::configPathOf(commandLine, kDefaultConfig, named);
    if (!path.empty() && (named || access(path.c_str(), F_OK) == 0)) {
        std::vector<config::ConfigEntry> entries;
        config::readConfigFile(path, entries, problems);
        config::configArguments(path, entries, args, problems);
        settings.configFile = path;
    }
    args.insert(args.end(), commandLine.begin(), commandLine.end());
    std::reverse(args.begin(), args.end()); // CLI11 takes a vector last argument first
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    applyLogSettings(settings);
    const bool journal =
        settings.logFormat == "journal" || (settings.logFormat == "auto" && stderrIsJournal());
    setLogFormat(journal ? LogFormat::Journal : LogFormat::Plain);
    config::resolveCredentials(settings, problems);
    if (checkOnly)
        return checkConfig(settings, problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "orvo-counterd: %s\n", problem.c_str());
    if (!problems.empty())
        return 2;
    std::string error;
    if (!config::applyDbPassword(settings, error)) {
        std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
        return 2;
    }
    return chosen ? chosen() : serve(settings, commandLine);
}
