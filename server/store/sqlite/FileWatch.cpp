#include "server/store/sqlite/FileWatch.h"

#include "server/common/ServerLog.h"

#include <array>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace orvo::server {
namespace {

std::atomic<std::uint64_t> g_mappedPagesLost{0};

// A read past the end of a mapped file (SQLite maps the database; the file was truncated or copied over
// while a reply read it) raises SIGBUS with BUS_ADRERR. The page is replaced by one of zeros, which SQLite
// reads as a corrupt page and reports, and the loss is counted so that the file is looked at and the
// reply refused. Any other SIGBUS is left to the default action.
void onBusError(int signal, siginfo_t* info, void*) {
    if (info->si_code == BUS_ADRERR) {
        const long page = sysconf(_SC_PAGESIZE);
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        void* const start = reinterpret_cast<void*>(address - address % static_cast<std::uintptr_t>(page));
        if (mmap(start, static_cast<std::size_t>(page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                 -1, 0) != MAP_FAILED) {
            g_mappedPagesLost.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    std::signal(signal, SIG_DFL); // the fault comes again on return, now fatal
}

void installBusHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
    });
}

constexpr std::size_t kHeaderBytes = 100;
constexpr char kMagic[] = "SQLite format 3"; // and its terminating zero: 16 bytes

std::uint32_t bigEndian32(const unsigned char* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

} // namespace

std::uint64_t mappedPagesLost() {
    return g_mappedPagesLost.load(std::memory_order_relaxed);
}

std::shared_ptr<FileWatch> FileWatch::forFile(const std::string& identity, const std::string& path) {
    installBusHandler();
    // Kept for the life of the process, never closed: closing any descriptor of a file drops every POSIX
    // lock the process holds on it, SQLite's too, after which another process's last connection would
    // take the file for unused and remove its shared-memory and write-ahead files from under this one.
    // A process watches a handful of files at most.
    static std::mutex registryMutex;
    static auto* registry = new std::unordered_map<std::string, std::shared_ptr<FileWatch>>;
    const std::lock_guard lock(registryMutex);
    std::shared_ptr<FileWatch>& entry = (*registry)[identity];
    if (!entry)
        entry = std::make_shared<FileWatch>(path);
    return entry;
}

FileWatch::FileWatch(const std::string& path)
    : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), m_path(path) {
    m_mapFaults = mappedPagesLost();
}

FileWatch::~FileWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::uint64_t FileWatch::look() {
    const std::lock_guard lock(m_mutex);
    struct stat info {};
    std::array<unsigned char, kHeaderBytes> header{};
    const bool read = m_fd >= 0 && ::fstat(m_fd, &info) == 0;
    const ssize_t got = read ? ::pread(m_fd, header.data(), header.size(), 0) : -1;
    const auto size = static_cast<std::int64_t>(info.st_size);
    const std::int64_t modifiedNs = std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
    const std::uint64_t mapFaults = mappedPagesLost();
    // An empty file is one SQLite has not written yet (a new database): nothing to compare.
    if (read && size == 0 && !m_seen)
        return m_incarnation;
    const bool headerOk =
        got == static_cast<ssize_t>(kHeaderBytes) && std::memcmp(header.data(), kMagic, sizeof kMagic) == 0;
    const std::uint32_t changeCounter = headerOk ? bigEndian32(header.data() + 24) : 0;
    std::string why;
    if (!read)
        why = "it cannot be read";
    else if (!headerOk)
        why = "its header is missing";
    else if (m_seen && size < m_size)
        why = "it shrank from " + std::to_string(m_size) + " to " + std::to_string(size) + " bytes";
    else if (m_seen && changeCounter < m_changeCounter)
        why = "its change counter went back";
    else if (m_seen && modifiedNs < m_modifiedNs)
        why = "its modification time went back";
    else if (mapFaults != m_mapFaults)
        why = "a mapped page of it was gone";
    m_mapFaults = mapFaults;
    if (why.empty()) {
        m_seen = true;
        m_size = size;
        m_changeCounter = changeCounter;
        m_modifiedNs = modifiedNs;
        return m_incarnation;
    }
    // Compared afresh from here: the copy is what the file now is.
    m_seen = headerOk;
    m_size = size;
    m_changeCounter = changeCounter;
    m_modifiedNs = modifiedNs;
    ++m_incarnation;
    logLine(LogLevel::Error, "database file " + m_path + " was overwritten in place while open (" + why +
                                 "): requests are refused until the server has opened it anew; restore by "
                                 "moving a file over the path with the servers stopped");
    return m_incarnation;
}

} // namespace orvo::server
