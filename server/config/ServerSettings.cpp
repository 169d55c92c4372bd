#include "server/config/ServerSettings.h"

#include "server/common/Dates.h"
#include "server/net/TlsFiles.h"
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace orvo::server::config {
namespace {

constexpr std::string_view kCredentialPrefix = "@credential:";
constexpr std::size_t kMaxPasswordBytes = 1024;

void addServeOptions(CLI::App& app, Settings& s) {
    app.add_option("--listen", s.listen,
                   "address and port to serve on, e.g. 127.0.0.1:7001 (port 0: any free port)");
    app.add_option(
        "--db", s.dbPath,
        "SQLite database file (created when missing), or a PostgreSQL database: a postgresql:// or "
        "postgres:// URI or libpq key=value pairs");
    app.add_option("--db-password-file", s.dbPasswordFile,
                   "PostgreSQL password: the first line of this file (\"@credential:NAME\": a systemd "
                   "credential)");
    app.add_option("--db-pool", s.dbPool,
                   "PostgreSQL connections of this server, shared by its workers (default 8)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--row-cache-mb", s.rowCacheMb,
                   "memory for rule rows kept encoded between replies, in MiB (default 64; 0: none)")
        ->check(CLI::Range(0, 65536));
    app.add_option("--row-cache-warmup", s.options.warmRowCache,
                   "fill the row cache in the background once serving, so the first queries after a start "
                   "are answered as fast as later ones (default true; false: the first query of each kind "
                   "fills it)");
    app.add_flag("--demo", s.demo,
                 "seed demo data into an empty database (demo operators admin/admin, teller/teller)");
    app.add_option("--simulate", s.simulateRate,
                   "with --demo on SQLite: play a trading session on the data, RATE changes per second")
        ->check(CLI::Range(0.01, 100000.0));
    app.add_option("--seed", s.simulateSeed,
                   "the simulated session to play (default 1): the same seed, the same session");
    app.add_option("--size", s.size,
                   "demo size: small (default) or large (100,000 stop-loss rules, 20,000 contracts)")
        ->check(CLI::IsMember({"small", "large"}));
    app.add_option("--date", s.date, "business date for validity checks, YYYY.MM.DD (default: today)")
        ->check([](const std::string& text) {
            return isDate(text) ? std::string() : "'" + text + "' is not a calendar date YYYY.MM.DD";
        });
    app.add_option("--metrics-listen", s.metricsListen,
                   "serve /healthz and /metrics over HTTP on this address and port (default: off)");
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
    app.add_option("--login-address-failures", options.loginGuard.addressFailuresAllowed,
                   "failed logins from one address within 10 minutes, over all names, past which its "
                   "further logins wait a second before the check (default 50; one name's failures from an "
                   "address refuse only that name there)")
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

void addSecurityAndLogOptions(CLI::App& app, Settings& s) {
    app.add_option("--tls-cert", s.options.tlsCertFile,
                   "PEM certificate: with --tls-key the port speaks TLS only (1.2 or later)");
    app.add_option("--tls-key", s.options.tlsKeyFile,
                   "PEM private key of --tls-cert (\"@credential:NAME\": a systemd credential)");
    app.add_option("--ticket-key", s.options.ticketKeyFile,
                   "file of the keys session tickets are signed with, the same for every server of the "
                   "database, made when missing (\"@credential:NAME\": a systemd credential; default: the "
                   "credential ticket-key, else FILE.ticket-key beside a SQLite database, else ticket-key in "
                   "the service's state directory)");
    app.add_flag("--read-only", s.readOnly,
                 "never change the database: open it read-only, no schema step (it must exist)");
    app.add_option("--log-level", s.logLevel, "error, warn, info (default) or debug")
        ->check(CLI::IsMember({"error", "warn", "info", "debug"}));
    app.add_option("--log-format", s.logFormat,
                   "plain (timestamped lines), journal (syslog priority prefixes) or auto (default: "
                   "journal when standard error is the journal)")
        ->check(CLI::IsMember({"auto", "plain", "journal"}));
}

// Edit distance, for "did you mean" on a misspelt option name.
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string unknownKey(const CLI::App& app, const std::string& key) {
    std::string best;
    std::size_t bestDistance = 3;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            const std::size_t d = distance(key, name);
            if (d < bestDistance) {
                bestDistance = d;
                best = name;
            }
        }
    }
    return "unknown option '" + key + "'" + (best.empty() ? "" : " (did you mean " + best + "?)");
}

bool readable(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool readPassword(const std::string& path, std::string& password, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "db-password-file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text(kMaxPasswordBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    password = text.substr(0, text.find_first_of("\r\n"));
    if (text.size() > kMaxPasswordBytes || password.empty()) {
        error = "db-password-file " + path + ": expected the password on its first line";
        return false;
    }
    return true;
}

} // namespace

void addServerOptions(CLI::App& app, Settings& settings) {
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    addServeOptions(app, settings);
    addLimitOptions(app, settings.options);
    addSecurityAndLogOptions(app, settings);
}

void configArguments(const std::string& path, const std::vector<ConfigEntry>& entries,
                     std::vector<std::string>& args, std::vector<std::string>& problems) {
    for (const ConfigEntry& entry : entries) {
        const std::string where = path + ":" + std::to_string(entry.line) + ": ";
        // A fresh table for each entry: one bad value must not hide the others.
        Settings scratch;
        CLI::App app;
        addServerOptions(app, scratch);
        if (!app.get_option_no_throw("--" + entry.key)) {
            problems.push_back(where + unknownKey(app, entry.key));
            continue;
        }
        std::vector<std::string> one{"--" + entry.key + "=" + entry.value};
        try {
            app.parse(one);
        } catch (const CLI::ParseError& e) {
            std::string what = e.what();
            const std::string optionPrefix = "--" + entry.key + ": ";
            if (what.rfind(optionPrefix, 0) == 0)
                what.erase(0, optionPrefix.size());
            problems.push_back(where + entry.key + ": " + what);
            continue;
        }
        args.push_back("--" + entry.key + "=" + entry.value);
    }
}

std::string configPathOf(const std::vector<std::string>& args, const std::string& defaultPath, bool& named) {
    std::string path = defaultPath;
    named = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config" && i + 1 < args.size()) {
            path = args[++i];
            named = true;
        } else if (args[i].rfind("--config=", 0) == 0) {
            path = args[i].substr(9);
            named = true;
        } else if (args[i] == "--") {
            break;
        }
    }
    return path;
}

bool loadSettings(const std::vector<std::string>& commandLine, const std::string& defaultConfig,
                  Settings& settings, std::vector<std::string>& problems) {
    bool named = false;
    const std::string path = configPathOf(commandLine, defaultConfig, named);
    std::vector<std::string> args;
    if (!path.empty() && (named || access(path.c_str(), F_OK) == 0)) {
        std::vector<ConfigEntry> entries;
        readConfigFile(path, entries, problems);
        configArguments(path, entries, args, problems);
        settings.configFile = path;
    }
    args.insert(args.end(), commandLine.begin(), commandLine.end());
    CLI::App app;
    std::string ignoredPath;
    app.add_option("--config", ignoredPath);
    addServerOptions(app, settings);
    std::reverse(args.begin(), args.end()); // CLI11 takes a vector last argument first
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        problems.push_back(e.what());
    }
    resolveCredentials(settings, problems);
    return problems.empty();
}

void resolveCredentials(Settings& settings, std::vector<std::string>& problems) {
    const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
    for (std::string* value :
         {&settings.options.tlsCertFile, &settings.options.tlsKeyFile, &settings.dbPasswordFile,
          &settings.options.ticketKeyFile}) {
        if (value->rfind(kCredentialPrefix, 0) != 0)
            continue;
        const std::string name = value->substr(kCredentialPrefix.size());
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            problems.push_back("'" + *value + "': a credential's name is a plain file name");
        } else if (!directory || !*directory) {
            problems.push_back("'" + *value +
                               "': no systemd credentials ($CREDENTIALS_DIRECTORY is not set; "
                               "LoadCredential= in the unit provides them)");
        } else {
            *value = std::string(directory) + "/" + name;
        }
    }
}

void checkSettings(const Settings& s, std::vector<std::string>& problems) {
    std::string address, error;
    int port = 0;
    if (s.listen.empty())
        problems.push_back("listen: not set; serving needs an address and port");
    else if (!splitListen(s.listen, address, port))
        problems.push_back("listen: wants ADDRESS:PORT, got '" + s.listen + "'");
    if (!s.metricsListen.empty() && !splitListen(s.metricsListen, address, port))
        problems.push_back("metrics-listen: wants ADDRESS:PORT, got '" + s.metricsListen + "'");
    if (s.dbPath.empty())
        problems.push_back("db: not set; serving needs a database");
    const std::string& cert = s.options.tlsCertFile;
    const std::string& key = s.options.tlsKeyFile;
    if (cert.empty() != key.empty())
        problems.push_back("tls-cert and tls-key go together; only one is set");
    else if (!cert.empty() && !checkTlsFiles(cert, key, error))
        problems.push_back(error);
    if (!s.dbPasswordFile.empty() && !readable(s.dbPasswordFile, error))
        problems.push_back("db-password-file " + error);
    if (s.readOnly && s.demo)
        problems.push_back("demo cannot seed a read-only database");
}

bool applyDbPassword(const Settings& settings, std::string& error) {
    if (settings.dbPasswordFile.empty())
        return true;
    std::string password;
    if (!readPassword(settings.dbPasswordFile, password, error))
        return false;
    setenv("PGPASSWORD", password.c_str(), 1);
    return true;
}

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

} // namespace orvo::server::config
