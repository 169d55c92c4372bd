// The command line of orvo-client, parsed without touching Qt so that it can be checked on its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct ClientOptions {
    std::string configPath;   // --config FILE; empty: the default in the user's configuration folder
    std::string server;       // --server HOST:PORT[,HOST:PORT...]; empty: as configured, else embedded
    std::string operatorName; // --operator NAME
    std::string scriptPath;   // --script FILE, "-" for standard input
    std::string tracePath;    // --trace FILE
    std::string logPath;      // --log FILE; empty: the default log file
    std::string modulePath;   // --module FILE
    std::string tlsCaFile;    // --tls-ca FILE: TLS to the counter server, trusting these authorities
    long openFunction = 0;    // --open FUNC
    // The embedded demo server only: a simulated trading session on a copy of the demo database.
    double simulateRate = 0;        // --simulate RATE, changes per second; 0: none
    unsigned long simulateSeed = 1; // --seed N, the session played
    long refreshSeconds = -1;       // --refresh SECONDS: the query window's live refresh; -1: as configured
    int verbosity = 0;              // each -v adds one
    bool help = false;
    bool version = false;    // --version
    bool moduleInfo = false; // --module-info [MODULE]
    std::string printDump;   // --print-dump FILE: the lists of a dump as text tables
};

// Bounds of --refresh and --simulate (the window's own limit on the interval, the server's on the rate).
inline constexpr long kMaxRefreshSeconds = 24 * 3600;
inline constexpr double kMinSimulateRate = 0.01;
inline constexpr double kMaxSimulateRate = 100000;

// Parses argv; on a bad command line returns nothing and says why in error.
std::optional<ClientOptions> ParseClientOptions(int argc, const char* const* argv, std::string& error);

// The usage text printed by --help and after a bad command line.
const char* ClientUsage();

// "host:port" split; false when the port is not 1..65535 or the host is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

struct HostPort {
    std::string host;
    int port = 0;
};
// The most servers one list may name.
inline constexpr std::size_t kMaxServers = 16;
// "host:port,host:port,...": the servers of one database, in the order to try them (blanks around each
// allowed). False, with `bad` the entry that is not HOST:PORT (or the reason), for an empty entry, a bad
// one, or more than kMaxServers.
bool SplitServerList(const std::string& text, std::vector<HostPort>& servers, std::string& bad);
