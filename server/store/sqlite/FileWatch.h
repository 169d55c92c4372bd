// What this process sees of a database file beside SQLite. A file copied over the database in place
// (`cp backup.db live.db` under a running server) keeps its device and inode, so the path check does not
// see it, and SQLite, which never expects it, goes on reading pages from the new bytes, the old
// write-ahead log and its memory map alike: a reply of 0 rows, or SIGBUS when the file shrank under the
// map. The watch keeps what the file's header and size looked like, and notices what a database file
// never does by itself: its size or its header's change counter going back, its modification time going
// back, its header missing, or a mapped page found gone past the file's end. Each time it notices one,
// the file counts as another incarnation: connections opened before it are refused and opened anew.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace orvo::server {

class FileWatch {
public:
    // The watch of the file with this identity (device:inode), opened under path; shared by every
    // connection of the process to that file. Installs the handler that survives a mapped page gone.
    static std::shared_ptr<FileWatch> forFile(const std::string& identity, const std::string& path);

    FileWatch(const std::string& path);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Looks at the file now and gives its incarnation: 0 until the file is first found copied over,
    // then one more each time. The first finding of each is logged as an error.
    std::uint64_t look();

private:
    std::mutex m_mutex;
    int m_fd = -1; // the file, as the connections opened it
    const std::string m_path;
    bool m_seen = false;
    std::int64_t m_size = 0, m_modifiedNs = 0;
    std::uint32_t m_changeCounter = 0;
    std::uint64_t m_mapFaults = 0; // as last looked
    std::uint64_t m_incarnation = 0;
};

// How many times a read through a memory map found its page gone (the file shrank under the map); the
// page was replaced by zeros so that the reader fails instead of the process.
std::uint64_t mappedPagesLost();

} // namespace orvo::server
