// Where a server's stores come from. A SQLite file gives each worker thread its own read-only
// connection; a PostgreSQL database gives every thread a store over one bounded pool of connections, so
// the database sees at most that many sessions from one server whatever the number of threads.
#pragma once

#include "server/store/RowCache.h"
#include "server/store/Store.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace orvo::server {

// True when --db names a PostgreSQL database: a postgresql:// or postgres:// URI, or libpq key=value
// pairs ("host=/run/postgresql dbname=counter"): a keyword of lower-case letters and "_" before the first
// "=". Anything else is a SQLite file name.
bool isPostgresTarget(std::string_view db);

// The target fit for a log line: any password in it replaced by "***".
std::string redactedTarget(std::string_view db);

class StoreSource {
public:
    virtual ~StoreSource() = default;
    // A store for one thread; nullptr with the reason when the database cannot be opened.
    virtual std::unique_ptr<Store> open(std::string& error) = 0;

    // The source for --db; poolSize bounds the PostgreSQL connections (at least 1), each with the statement
    // and lock time-outs (milliseconds, 0: none). Its stores share one cache of encoded rule rows of
    // rowCacheBytes (0: none).
    static std::unique_ptr<StoreSource> create(const std::string& db, std::size_t poolSize,
                                               std::size_t rowCacheBytes = 0, int statementTimeoutMs = 30000,
                                               int lockTimeoutMs = 5000);

    // The rule rows this source's stores keep encoded.
    RowCache& rowCache() { return m_rowCache; }

protected:
    explicit StoreSource(std::size_t rowCacheBytes) : m_rowCache(rowCacheBytes) {}

private:
    RowCache m_rowCache;
};

} // namespace orvo::server
