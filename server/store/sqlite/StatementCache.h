// Prepared statements kept by their SQL text on one connection, so a request that runs the same
// statements as the one before (a client asking every second what changed) binds and steps them
// without parsing and planning them again. The least recently used are let go past the capacity.
#pragma once

#include "server/store/sqlite/Db.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

class SqlQuery;

class StatementCache {
    struct Entry;

public:
    explicit StatementCache(std::size_t capacity = 24) : m_capacity(capacity) {}
    ~StatementCache();
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    // A statement lent for one use: reset, its bindings cleared and given back when the lease ends.
    // No lease may outlive the store call that took it.
    class Lease {
    public:
        Lease() = default;
        ~Lease();
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Statement& operator*() { return *m_stmt; }
        Statement* operator->() { return m_stmt; }
        explicit operator bool() const { return m_stmt != nullptr; }

    private:
        friend class StatementCache;
        void release();
        StatementCache* m_cache = nullptr;
        Entry* m_entry = nullptr; // null: m_own, prepared for this use alone
        Statement m_own;
        Statement* m_stmt = nullptr;
    };

    // The statement of this text on db's connection, prepared on first use; an empty lease with error set
    // when it does not prepare. A text already lent out is prepared afresh for this use.
    Lease acquire(Db& db, std::string_view sql, std::string& error);
    // The query's statement with its values bound.
    Lease acquire(Db& db, const SqlQuery& query, std::string& error);

    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::string sql;
        Statement stmt;
        std::uint64_t lastUse = 0;
        bool lent = false;
        bool stale = false; // of a connection since closed: finalised when given back
    };
    void giveBack(Entry* entry);
    void forgetConnection();

    std::size_t m_capacity;
    sqlite3* m_connection = nullptr;
    std::uint64_t m_clock = 0;
    std::vector<std::unique_ptr<Entry>> m_entries;
};

} // namespace orvo::server
