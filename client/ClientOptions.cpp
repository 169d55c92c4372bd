#include "client/ClientOptions.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

bool parseLong(std::string_view text, long minimum, long maximum, long& value) {
    if (text.empty() || text.size() > 10)
        return false;
    long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < minimum || v > maximum)
        return false;
    value = v;
    return true;
}

// A decimal number without sign or exponent ("20", "0.5"), within the bounds.
bool parseRate(std::string_view text, double minimum, double maximum, double& value) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789.") != std::string_view::npos)
        return false;
    const std::string copy(text);
    char* end = nullptr;
    const double v = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !(v >= minimum && v <= maximum))
        return false;
    value = v;
    return true;
}

} // namespace

const char* ClientUsage() {
    return "usage: orvo-client [options]\n"
           "  --config FILE      configuration file (default: orvo-client.ini in the user's configuration "
           "folder)\n"
           "  --server HOST:PORT counter server; without one (here or configured) the demo server runs "
           "embedded.\n"
           "                     Several, comma-separated (servers of one database): the first that answers\n"
           "                     serves, the next takes over when it fails\n"
           "  --operator NAME    operator to log in as\n"
           "  --tls-ca FILE      TLS to the counter server, whose certificate these authorities (PEM) "
           "signed\n"
           "  --open FUNC        open function FUNC (e.g. 893) at once\n"
           "  --refresh SECONDS  the query window's live refresh interval (RefreshSeconds of "
           "[EXTORDERQUERY];\n"
           "                     0: off)\n"
           "  --simulate RATE    the embedded demo server plays a trading session, RATE changes a second, "
           "on\n"
           "                     a copy of the demo database made for this run\n"
           "  --seed N           the simulated session to play (default 1): the same seed, the same session\n"
           "  --script FILE      run an automation script (- for standard input); the password comes from\n"
           "                     the environment variable ORVO_PASSWORD\n"
           "  --trace FILE       write a JSON line for every request sent and every reply received\n"
           "  --log FILE         log file (default: orvo-client.log in the user's data folder)\n"
           "  --module FILE      the extension module (default: beside this program, else the installed "
           "one)\n"
           "  -v, --verbose      more log output (twice: every request)\n"
           "  --module-info [MODULE]  print the module's identity as JSON and exit\n"
           "  --print-dump FILE  print every list of a dump (see the script command dump) as a text table\n"
           "  --version          print the version and exit\n"
           "  -h, --help         this text\n";
}

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    long value = 0;
    if (!parseLong(std::string_view(text).substr(colon + 1), 1, 65535, value))
        return false;
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    port = static_cast<int>(value);
    return !host.empty();
}

bool SplitServerList(const std::string& text, std::vector<HostPort>& servers, std::string& bad) {
    servers.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::string entry = text.substr(start, comma - start);
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        HostPort server;
        if (!SplitHostPort(entry, server.host, server.port)) {
            bad = entry;
            return false;
        }
        if (servers.size() == kMaxServers) {
            bad = "more than " + std::to_string(kMaxServers) + " servers";
            return false;
        }
        servers.push_back(std::move(server));
        if (comma == text.size())
            return true;
        start = comma + 1;
    }
}

std::optional<ClientOptions> ParseClientOptions(int argc, const char* const* argv, std::string& error) {
    ClientOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&](std::string& target) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            target = argv[++i];
            if (target.empty()) {
                error = std::string(arg) + " needs a non-empty value";
                return false;
            }
            return true;
        };
        std::string text;
        if (arg == "--config") {
            if (!value(options.configPath))
                return std::nullopt;
        } else if (arg == "--server") {
            if (!value(options.server))
                return std::nullopt;
            std::vector<HostPort> servers;
            std::string bad;
            if (!SplitServerList(options.server, servers, bad)) {
                error =
                    "--server wants HOST:PORT with a port from 1 to 65535, or several of them separated by "
                    "commas, got '" +
                    bad + "'";
                return std::nullopt;
            }
        } else if (arg == "--operator") {
            if (!value(options.operatorName))
                return std::nullopt;
        } else if (arg == "--script") {
            if (!value(options.scriptPath))
                return std::nullopt;
        } else if (arg == "--trace") {
            if (!value(options.tracePath))
                return std::nullopt;
        } else if (arg == "--log") {
            if (!value(options.logPath))
                return std::nullopt;
        } else if (arg == "--module") {
            if (!value(options.modulePath))
                return std::nullopt;
        } else if (arg == "--tls-ca") {
            if (!value(options.tlsCaFile))
                return std::nullopt;
        } else if (arg == "--print-dump") {
            if (!value(options.printDump))
                return std::nullopt;
        } else if (arg == "--open") {
            if (!value(text))
                return std::nullopt;
            if (!parseLong(text, 1, 2147483647L, options.openFunction)) {
                error = "--open wants a function number, got '" + text + "'";
                return std::nullopt;
            }
        } else if (arg == "--refresh") {
            if (!value(text))
                return std::nullopt;
            if (!parseLong(text, 0, kMaxRefreshSeconds, options.refreshSeconds)) {
                error = "--refresh wants seconds from 0 to " + std::to_string(kMaxRefreshSeconds) +
                        ", got '" + text + "'";
                return std::nullopt;
            }
        } else if (arg == "--simulate") {
            if (!value(text))
                return std::nullopt;
            if (!parseRate(text, kMinSimulateRate, kMaxSimulateRate, options.simulateRate)) {
                error = "--simulate wants changes per second from 0.01 to 100000, got '" + text + "'";
                return std::nullopt;
            }
        } else if (arg == "--seed") {
            if (!value(text))
                return std::nullopt;
            long seed = 0;
            if (!parseLong(text, 0, 2147483647L, seed)) {
                error = "--seed wants a number from 0 to 2147483647, got '" + text + "'";
                return std::nullopt;
            }
            options.simulateSeed = static_cast<unsigned long>(seed);
        } else if (arg == "-v" || arg == "--verbose") {
            ++options.verbosity;
        } else if (arg == "-vv") {
            options.verbosity += 2;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--module-info") {
            options.moduleInfo = true;
            if (i + 1 < argc && argv[i + 1][0] != '-')
                options.modulePath = argv[++i];
        } else {
            error = "unknown argument '" + std::string(arg) + "'";
            return std::nullopt;
        }
    }
    return options;
}
