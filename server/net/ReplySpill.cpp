#include "server/net/ReplySpill.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::server {
namespace {

std::string tempDirectory() {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : dir.string();
}

} // namespace

bool SpillBudget::take(std::size_t bytes) {
    std::size_t used = m_used.load();
    do {
        if (bytes > m_limit || used > m_limit - bytes)
            return false;
    } while (!m_used.compare_exchange_weak(used, used + bytes));
    return true;
}

void SpillBudget::give(std::size_t bytes) {
    m_used.fetch_sub(bytes);
}

bool ReplySpill::openFile(std::string& error) {
    const std::string dir = tempDirectory();
#ifdef O_TMPFILE
    m_fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
#endif
    if (m_fd < 0) {
        // A file system without unnamed files: a named one, removed at once, readable by its owner only.
        std::string pattern = dir + "/orvo-reply-XXXXXX";
        m_fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (m_fd >= 0) {
            ::unlink(pattern.c_str());
            ::fchmod(m_fd, S_IRUSR | S_IWUSR);
        }
    }
    if (m_fd < 0) {
        error = "cannot make a temporary file in " + dir + ": " + std::strerror(errno);
        return false;
    }
    m_fileRead = m_fileWrite = 0;
    return true;
}

bool ReplySpill::append(std::string_view bytes, std::string& error) {
    if (bytes.empty())
        return true;
    // Once part of the reply is in the file, the rest follows it there, so the order stays.
    if (m_fileRead == m_fileWrite && m_budget.take(bytes.size())) {
        m_memory.emplace_back(bytes);
        m_memoryBytes += bytes.size();
        return true;
    }
    if (m_fd < 0 && !openFile(error))
        return false;
    if (m_fileWrite + bytes.size() > kMaxFileBytes) {
        error = "reply kept aside grew beyond " + std::to_string(kMaxFileBytes >> 20) + " MiB";
        return false;
    }
    m_usedFile = true;
    while (!bytes.empty()) {
        const ssize_t wrote = ::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(m_fileWrite));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            error = std::string("cannot write the temporary file: ") + std::strerror(errno);
            return false;
        }
        m_fileWrite += static_cast<std::uint64_t>(wrote);
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

bool ReplySpill::next(std::string& out, std::size_t maxBytes, std::string& error) {
    if (!m_memory.empty()) {
        out = std::move(m_memory.front());
        m_memory.pop_front();
        m_memoryBytes -= out.size();
        m_budget.give(out.size());
        return true;
    }
    if (m_fileRead == m_fileWrite)
        return false;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, m_fileWrite - m_fileRead));
    out.resize(want);
    ssize_t got = -1;
    do
        got = ::pread(m_fd, out.data(), want, static_cast<off_t>(m_fileRead));
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        error =
            std::string("cannot read the temporary file: ") + (got < 0 ? std::strerror(errno) : "it ended");
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(got));
    m_fileRead += static_cast<std::uint64_t>(got);
    if (m_fileRead == m_fileWrite) {
        // All taken: the file starts over, its blocks go back to the file system.
        if (::ftruncate(m_fd, 0) == 0)
            m_fileRead = m_fileWrite = 0;
    }
    return true;
}

void ReplySpill::clear() {
    m_budget.give(m_memoryBytes);
    m_memory.clear();
    m_memoryBytes = 0;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fileRead = m_fileWrite = 0;
    m_usedFile = false;
}

} // namespace orvo::server
