// orvo-counterd: the counter server.
//   orvo-counterd --listen 127.0.0.1:PORT --db FILE [--demo [--size small|large]] [--date YYYY.MM.DD]
// Serves on a loopback address unless another one is given explicitly; stops on SIGINT or SIGTERM.
#include "server/CounterServer.h"
#include "server/Dates.h"
#include "server/Db.h"
#include "server/Schema.h"
#include "server/Store.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace orvo::server;

const char* const kUsage =
    "usage: orvo-counterd --listen ADDRESS:PORT --db FILE [--demo [--size small|large]] [--date YYYY.MM.DD]\n"
    "  --listen       address and port to serve on, e.g. 127.0.0.1:7001 (port 0: any free port)\n"
    "  --db           SQLite database file; created when missing\n"
    "  --demo         seed demo data into an empty database (demo operators admin/admin, teller/teller)\n"
    "  --size         demo size: small (default) or large (100,000 stop-loss rules, 20,000 contracts)\n"
    "  --date         business date for validity checks (default: today)\n"
    "  --max-connections N, --idle-timeout SECONDS, --read-timeout SECONDS\n"
    "  --max-pending-logins N  connections not logged in yet (default 32)\n"
    "  --login-timeout SECONDS  a connection must log in within this time (default 10)\n"
    "  --write-timeout SECONDS  a client must take each part of a reply within this time (default 30)\n"
    "  --workers N    threads for heavy requests, as many again for light ones (default: cores)\n"
    "  --tls-cert FILE --tls-key FILE  serve TLS only (1.2 or later) with this PEM certificate and key\n"
    "  --read-only    never change the database: open it read-only, no schema step\n";

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

bool positive(const char* text, int& value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!end || *end || v <= 0 || v > 1000000)
        return false;
    value = static_cast<int>(v);
    return true;
}

// A database without operators accepts no login: say so at once rather than at the first refusal.
void warnWithoutOperators(const std::string& path) {
    Db db;
    std::string error;
    bool empty = false;
    if (db.open(path, true, error) && isEmpty(db, empty, error) && empty)
        std::fprintf(stderr,
                     "orvo-counterd: warning: %s holds no operators, every login will be refused "
                     "(--demo seeds an empty database)\n",
                     path.c_str());
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

} // namespace

int main(int argc, char** argv) {
    std::string listen, dbPath, size = "small", date;
    bool demo = false, readOnly = false;
    ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "orvo-counterd: %s needs a value\n%s", name, kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        int number = 0;
        auto numeric = [&](const char* name) {
            const char* text = value(name);
            if (!positive(text, number)) {
                std::fprintf(stderr, "orvo-counterd: %s wants a positive number, got '%s'\n", name, text);
                std::exit(2);
            }
            return number;
        };
        if (arg == "--listen")
            listen = value("--listen");
        else if (arg == "--db")
            dbPath = value("--db");
        else if (arg == "--demo")
            demo = true;
        else if (arg == "--size")
            size = value("--size");
        else if (arg == "--date")
            date = value("--date");
        else if (arg == "--max-connections")
            options.maxConnections = numeric("--max-connections");
        else if (arg == "--idle-timeout")
            options.idleTimeoutMs = numeric("--idle-timeout") * 1000;
        else if (arg == "--read-timeout")
            options.readTimeoutMs = numeric("--read-timeout") * 1000;
        else if (arg == "--write-timeout")
            options.writeTimeoutMs = numeric("--write-timeout") * 1000;
        else if (arg == "--login-timeout")
            options.loginTimeoutMs = numeric("--login-timeout") * 1000;
        else if (arg == "--max-pending-logins")
            options.maxPendingLogins = numeric("--max-pending-logins");
        else if (arg == "--workers")
            options.workers = numeric("--workers");
        else if (arg == "--tls-cert")
            options.tlsCertFile = value("--tls-cert");
        else if (arg == "--tls-key")
            options.tlsKeyFile = value("--tls-key");
        else if (arg == "--read-only")
            readOnly = true;
        else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "orvo-counterd: bad argument '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    std::string address;
    int port = 0;
    if (listen.empty()) {
        std::fprintf(stderr, "orvo-counterd: --listen is required (e.g. --listen 127.0.0.1:7001)\n%s",
                     kUsage);
        return 2;
    }
    if (!splitListen(listen, address, port)) {
        std::fprintf(stderr, "orvo-counterd: --listen wants ADDRESS:PORT, got '%s'\n", listen.c_str());
        return 2;
    }
    if (dbPath.empty()) {
        std::fprintf(stderr, "orvo-counterd: --db is required\n%s", kUsage);
        return 2;
    }
    if (size != "small" && size != "large") {
        std::fprintf(stderr, "orvo-counterd: --size is small or large\n");
        return 2;
    }
    long days = 0;
    if (!date.empty() && !parseDate(date, days)) {
        std::fprintf(stderr, "orvo-counterd: --date wants YYYY.MM.DD\n");
        return 2;
    }
    if (!isLoopback(address))
        std::fprintf(stderr, "orvo-counterd: warning: serving on %s, reachable from other machines\n",
                     address.c_str());

    DemoOptions demoOptions;
    demoOptions.size = size == "large" ? DemoSize::Large : DemoSize::Small;
    demoOptions.today = date;
    std::string error;
    if (readOnly && demo) {
        std::fprintf(stderr, "orvo-counterd: --demo cannot seed a --read-only database\n");
        return 2;
    }
    if (readOnly ? !checkReadOnlyStore(dbPath, error)
                 : !prepareStore(dbPath, demo ? &demoOptions : nullptr, error)) {
        std::fprintf(stderr, "orvo-counterd: %s: %s\n", dbPath.c_str(), error.c_str());
        return 1;
    }
    if (!demo)
        warnWithoutOperators(dbPath);

    // Block the stop signals before any thread starts, then wait for one of them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    options.dbPath = dbPath;
    options.today = date;
    CounterServer server(options);
    if (server.start(address, port, error) < 0) {
        std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
        return 1;
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::fprintf(stderr, "orvo-counterd: %s, stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    server.stop();
    return 0;
}
