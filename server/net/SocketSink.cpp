#include "server/net/SocketSink.h"

namespace orvo::server {

bool SocketSink::put(std::string_view bytes, std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, limit, [this] { return !m_sending || m_failed; }))
        m_failed = true;
    if (m_failed)
        return false;
    m_chunk.assign(bytes);
    m_sending = true;
    return true;
}

std::string_view SocketSink::chunk() {
    std::lock_guard lock(m_mutex);
    return m_chunk;
}

void SocketSink::sent(bool ok) {
    {
        std::lock_guard lock(m_mutex);
        m_sending = false;
        if (!ok)
            m_failed = true;
    }
    m_changed.notify_all();
}

void SocketSink::fail() {
    {
        std::lock_guard lock(m_mutex);
        m_failed = true;
    }
    m_changed.notify_all();
}

bool SocketSink::sending() {
    std::lock_guard lock(m_mutex);
    return m_sending;
}

void SocketSink::release() {
    std::lock_guard lock(m_mutex);
    std::string().swap(m_chunk);
}

} // namespace orvo::server
