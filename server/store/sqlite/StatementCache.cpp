#include "server/store/sqlite/StatementCache.h"

#include "server/store/sqlite/SqlQuery.h"

#include <algorithm>
#include <utility>

namespace orvo::server {

StatementCache::~StatementCache() = default;

StatementCache::Lease::~Lease() {
    release();
}

StatementCache::Lease::Lease(Lease&& other) noexcept
    : m_cache(std::exchange(other.m_cache, nullptr)), m_entry(std::exchange(other.m_entry, nullptr)),
      m_own(std::move(other.m_own)), m_stmt(std::exchange(other.m_stmt, nullptr)) {
    if (!m_entry && m_stmt)
        m_stmt = &m_own;
}

StatementCache::Lease& StatementCache::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        release();
        m_cache = std::exchange(other.m_cache, nullptr);
        m_entry = std::exchange(other.m_entry, nullptr);
        m_own = std::move(other.m_own);
        m_stmt = std::exchange(other.m_stmt, nullptr);
        if (!m_entry && m_stmt)
            m_stmt = &m_own;
    }
    return *this;
}

void StatementCache::Lease::release() {
    if (m_entry)
        m_cache->giveBack(m_entry);
    m_own = Statement();
    m_cache = nullptr;
    m_entry = nullptr;
    m_stmt = nullptr;
}

void StatementCache::giveBack(Entry* entry) {
    if (entry->stale) {
        std::erase_if(m_entries, [entry](const std::unique_ptr<Entry>& e) { return e.get() == entry; });
        return;
    }
    entry->stmt.reset();
    sqlite3_clear_bindings(entry->stmt.handle()); // texts bound are copies: let them go
    entry->lent = false;
}

void StatementCache::forgetConnection() {
    // Statements of a closed connection keep it open until finalised: finalise all but those lent out.
    std::erase_if(m_entries, [](const std::unique_ptr<Entry>& e) { return !e->lent; });
    for (const std::unique_ptr<Entry>& e : m_entries)
        e->stale = true;
}

StatementCache::Lease StatementCache::acquire(Db& db, std::string_view sql, std::string& error) {
    if (db.handle() != m_connection) {
        forgetConnection();
        m_connection = db.handle();
    }
    Lease lease;
    lease.m_cache = this;
    auto found = std::find_if(m_entries.begin(), m_entries.end(),
                              [sql](const std::unique_ptr<Entry>& e) { return !e->stale && e->sql == sql; });
    if (found != m_entries.end() && (*found)->lent) {
        if (db.prepare(sql, lease.m_own, error))
            lease.m_stmt = &lease.m_own;
        return lease;
    }
    if (found == m_entries.end()) {
        auto entry = std::make_unique<Entry>();
        if (!db.prepare(sql, entry->stmt, error))
            return lease;
        entry->sql = std::string(sql);
        if (m_entries.size() >= m_capacity) {
            // The least recently used of those not lent out.
            auto oldest = m_entries.end();
            for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
                if (!(*it)->lent && (oldest == m_entries.end() || (*it)->lastUse < (*oldest)->lastUse))
                    oldest = it;
            if (oldest != m_entries.end())
                m_entries.erase(oldest);
        }
        m_entries.push_back(std::move(entry));
        found = std::prev(m_entries.end());
    }
    Entry* entry = found->get();
    entry->lent = true;
    entry->lastUse = ++m_clock;
    lease.m_entry = entry;
    lease.m_stmt = &entry->stmt;
    return lease;
}

StatementCache::Lease StatementCache::acquire(Db& db, const SqlQuery& query, std::string& error) {
    Lease lease = acquire(db, query.text(), error);
    if (lease && !query.bind(db, *lease, error))
        return Lease();
    return lease;
}

} // namespace orvo::server
