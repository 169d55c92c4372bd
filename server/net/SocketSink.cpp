#include "server/net/SocketSink.h"

namespace orvo::server {
namespace {

constexpr std::size_t kFileChunk = 64 * 1024; // read back from a temporary file at a time

} // namespace

SocketSink::Put SocketSink::put(std::string_view bytes, std::chrono::milliseconds handoff) {
    std::unique_lock lock(m_mutex);
    if (!m_keepingAside)
        m_changed.wait_for(lock, handoff, [this] { return !m_sending || m_failed; });
    if (m_failed)
        return Put::Failed;
    if (!m_sending) {
        // Nothing kept aside is waiting (sent() would have taken it): the order stays.
        m_chunk.assign(bytes);
        m_sending = true;
        return Put::Handed;
    }
    m_keepingAside = true;
    if (!m_spill.append(bytes, m_error)) {
        m_failed = true;
        m_spill.clear();
        return Put::Failed;
    }
    return Put::Kept;
}

std::string_view SocketSink::chunk() {
    std::lock_guard lock(m_mutex);
    return m_chunk;
}

bool SocketSink::sent(bool ok) {
    bool more = false;
    {
        std::lock_guard lock(m_mutex);
        m_sending = false;
        if (!ok)
            m_failed = true;
        if (!m_failed && m_spill.next(m_chunk, kFileChunk, m_error))
            more = m_sending = true;
        else if (!m_error.empty())
            m_failed = true;
        if (m_failed)
            m_spill.clear();
    }
    m_changed.notify_all();
    return more;
}

void SocketSink::fail() {
    {
        std::lock_guard lock(m_mutex);
        m_failed = true;
        m_spill.clear();
    }
    m_changed.notify_all();
}

bool SocketSink::sending() {
    std::lock_guard lock(m_mutex);
    return m_sending;
}

std::string SocketSink::error() {
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::uint64_t SocketSink::keptBytes() {
    std::lock_guard lock(m_mutex);
    return m_spill.pending();
}

bool SocketSink::usedFile() {
    std::lock_guard lock(m_mutex);
    return m_spill.usedFile();
}

void SocketSink::release() {
    std::lock_guard lock(m_mutex);
    std::string().swap(m_chunk);
    m_spill.clear();
    m_keepingAside = false;
    m_error.clear();
}

} // namespace orvo::server
