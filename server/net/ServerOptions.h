// What a counter server is told when it is made: its database, limits, time-outs, TLS files and log.
#pragma once

#include "server/functions/LoginGuard.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace orvo::server {

struct ServerOptions {
    std::string dbPath;               // an existing SQLite file or a PostgreSQL database (see StoreSource.h)
    int dbPoolSize = 8;               // PostgreSQL: connections of this server, shared by all its workers
    int rowCacheMb = 64;              // rule rows kept encoded between replies (MiB, shared); 0: none
    bool warmRowCache = true;         // fill the row cache in the background once serving
    int dbStatementTimeoutMs = 30000; // PostgreSQL: a statement running longer is cancelled (0: never)
    int dbLockTimeoutMs = 5000;       // PostgreSQL: a statement waiting longer for a lock is cancelled
    std::string today;                // business date "YYYY.MM.DD"; empty: the local date of each request
    int maxConnections = 1024;        // further clients get status 5 and are closed
    int maxPendingLogins = 256;       // of those, not logged in yet; further clients get status 5
    int maxPendingLoginsPerAddress = 8; // of those, from one client address
    int loginTimeoutMs = 10000;         // a connection not logged in by then is closed, whatever it sends
    int idleTimeoutMs = 300000;         // no request of a logged-in operator for this long: closed
    int readTimeoutMs = 30000;          // a started frame must be complete within this time
    int writeTimeoutMs = 30000;         // each reply chunk must be taken by the client within this time
    int replyTimeoutMs = 120000;        // a reply's last byte must be taken within this time of its first
    int replyMinRate = 8192;            // bytes/s a client must take a reply at, after its first 10 s
    int replyBufferMb = 64;             // replies kept aside in memory (MiB, shared); beyond: temporary files
    int stopGraceMs = 5000;             // stop() lets running requests finish for this long
    int workers = 0;                    // threads for heavy requests (as many again for light ones); 0: cores
    std::uint32_t maxRequestBytes = 1024 * 1024;
    std::string tlsCertFile; // both set: the port speaks TLS only (PEM files)
    std::string tlsKeyFile;
    std::string metricsAddress; // with metricsPort >= 0: /healthz and /metrics over HTTP (0: any port)
    int metricsPort = -1;
    LoginGuardOptions loginGuard;
    // The session ticket keys (TicketKeys.h); empty: defaultTicketKeyPath(dbPath), else a key of this
    // process alone.
    std::string ticketKeyFile;
    // One line per request and per connection event; default: standard error.
    std::function<void(std::string_view)> log;
};

} // namespace orvo::server
