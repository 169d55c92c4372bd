// A bounded pool of PostgreSQL connections, shared by the threads of one server: at most `size`
// connections are ever open, each used by one thread at a time. A thread that finds none free waits,
// for no longer than its time-out. Connections are opened when first needed; one that has gone bad
// (server restarted, session terminated) is replaced by a fresh one when it is next handed out, and one
// given back in an unfinished state (inside a transaction, mid-result) is closed rather than reused.
#pragma once

#include "server/store/postgres/PgConnection.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvo::server::pg {

class PgPool {
public:
    // A connection on loan: given back to the pool when the lease ends.
    class Lease {
    public:
        Lease() = default;
        ~Lease() { release(); }
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        explicit operator bool() const { return m_conn != nullptr; }
        PgConnection& operator*() const { return *m_conn; }
        PgConnection* operator->() const { return m_conn.get(); }
        void release();

    private:
        friend class PgPool;
        Lease(PgPool* pool, std::unique_ptr<PgConnection> conn) : m_pool(pool), m_conn(std::move(conn)) {}
        PgPool* m_pool = nullptr;
        std::unique_ptr<PgConnection> m_conn;
    };

    // Every connection gets the time-outs when it opens.
    PgPool(std::string conninfo, std::size_t size, PgTimeouts timeouts = {});
    // Every lease must have ended before the pool is destroyed.
    ~PgPool() = default;
    PgPool(const PgPool&) = delete;
    PgPool& operator=(const PgPool&) = delete;

    // A working connection, or an empty lease with error set: none free within the time-out, or the
    // database cannot be reached.
    Lease acquire(std::chrono::milliseconds timeout, std::string& error);

    std::size_t size() const { return m_size; }
    // Connections open now (idle and on loan).
    std::size_t openCount() const;
    std::size_t replacedCount() const;

private:
    void giveBack(std::unique_ptr<PgConnection> conn);
    void dropSlot();

    const std::string m_conninfo;
    const std::size_t m_size;
    const PgTimeouts m_timeouts;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
    std::size_t m_onLoan = 0; // leased, or being opened for a lease
    std::size_t m_replaced = 0;
};

} // namespace orvo::server::pg
