#include "server/store/postgres/PgPool.h"

#include "server/common/Metrics.h"

#include <utility>

namespace orvo::server::pg {

PgPool::Lease::Lease(Lease&& other) noexcept
    : m_pool(std::exchange(other.m_pool, nullptr)), m_conn(std::move(other.m_conn)) {}

PgPool::Lease& PgPool::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        release();
        m_pool = std::exchange(other.m_pool, nullptr);
        m_conn = std::move(other.m_conn);
    }
    return *this;
}

void PgPool::Lease::release() {
    if (m_pool && m_conn)
        m_pool->giveBack(std::move(m_conn));
    m_pool = nullptr;
    m_conn.reset();
}

PgPool::PgPool(std::string conninfo, std::size_t size, PgTimeouts timeouts)
    : m_conninfo(std::move(conninfo)), m_size(size == 0 ? 1 : size), m_timeouts(timeouts) {}

PgPool::Lease PgPool::acquire(std::chrono::milliseconds timeout, std::string& error) {
    std::unique_ptr<PgConnection> conn;
    {
        std::unique_lock lock(m_mutex);
        if (m_idle.empty() && m_onLoan >= m_size)
            metrics().countPoolWait();
        const bool free =
            m_freed.wait_for(lock, timeout, [&] { return !m_idle.empty() || m_onLoan < m_size; });
        if (!free) {
            error = "no database connection free within " + std::to_string(timeout.count()) +
                    " ms (pool of " + std::to_string(m_size) + ")";
            return Lease();
        }
        if (!m_idle.empty()) {
            conn = std::move(m_idle.back());
            m_idle.pop_back();
        }
        ++m_onLoan; // the slot is ours while we open or check the connection outside the lock
    }
    if (conn && conn->isBroken()) {
        conn.reset();
        std::lock_guard lock(m_mutex);
        ++m_replaced;
    }
    if (!conn) {
        conn = std::make_unique<PgConnection>();
        if (!conn->open(m_conninfo, error) || !conn->setTimeouts(m_timeouts, error)) {
            dropSlot();
            return Lease();
        }
    }
    return Lease(this, std::move(conn));
}

void PgPool::giveBack(std::unique_ptr<PgConnection> conn) {
    // A connection left inside a transaction or mid-result would hand its state to the next user.
    const bool reusable = conn->isIdle() && !conn->isBroken();
    if (!reusable)
        conn.reset();
    {
        std::lock_guard lock(m_mutex);
        --m_onLoan;
        if (reusable)
            m_idle.push_back(std::move(conn));
    }
    m_freed.notify_one();
}

void PgPool::dropSlot() {
    {
        std::lock_guard lock(m_mutex);
        --m_onLoan;
    }
    m_freed.notify_one();
}

std::size_t PgPool::openCount() const {
    std::lock_guard lock(m_mutex);
    return m_idle.size() + m_onLoan;
}

std::size_t PgPool::replacedCount() const {
    std::lock_guard lock(m_mutex);
    return m_replaced;
}

} // namespace orvo::server::pg
