// Where the part of a reply that its client has not taken yet waits, so the worker that wrote it (and
// the database snapshot or pooled connection it held) is free at once. Bytes are kept in memory while the
// server-wide budget allows, and otherwise in a temporary file that only the server's user can read and
// that has no name (it vanishes with its descriptor). Not thread-safe: SocketSink guards it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace orvo::server {

// Memory for replies kept aside, shared by every connection of a server.
class SpillBudget {
public:
    explicit SpillBudget(std::size_t bytes) : m_limit(bytes) {}
    // Takes bytes from the budget; false (nothing taken) when they do not fit.
    bool take(std::size_t bytes);
    void give(std::size_t bytes);
    std::size_t used() const { return m_used.load(); }

private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_used{0};
};

class ReplySpill {
public:
    // A reply kept aside may not grow beyond this (a file this size is a fault, not a client).
    static constexpr std::uint64_t kMaxFileBytes = 1ull << 30;

    explicit ReplySpill(SpillBudget& budget) : m_budget(budget) {}
    ~ReplySpill() { clear(); }
    ReplySpill(const ReplySpill&) = delete;
    ReplySpill& operator=(const ReplySpill&) = delete;

    // Keeps bytes after those already kept; false with the reason when they cannot be kept.
    bool append(std::string_view bytes, std::string& error);
    // The next part in order, at most maxBytes, into out; false when nothing is kept.
    bool next(std::string& out, std::size_t maxBytes, std::string& error);
    bool empty() const { return m_memory.empty() && m_fileRead == m_fileWrite; }
    // Bytes kept now, and whether a file holds part of them.
    std::uint64_t pending() const { return m_memoryBytes + (m_fileWrite - m_fileRead); }
    bool usedFile() const { return m_usedFile; }
    // Drops everything kept and gives the memory back.
    void clear();

private:
    bool openFile(std::string& error);

    SpillBudget& m_budget;
    std::deque<std::string> m_memory;
    std::size_t m_memoryBytes = 0;
    int m_fd = -1;
    std::uint64_t m_fileRead = 0;  // offset of the next byte to hand out
    std::uint64_t m_fileWrite = 0; // offset past the last byte kept
    bool m_usedFile = false;       // since the last clear()
};

} // namespace orvo::server
