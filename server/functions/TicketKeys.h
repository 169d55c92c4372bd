// The secrets session tickets are signed with. They live in a file of their own beside the server's state,
// never in the database: a dump, a backup file, a staging copy or read access to the database gives
// nobody a way to make a ticket. Every server of one database is given the same file (the default for a
// SQLite database is one beside it; for PostgreSQL the service's state directory or a systemd
// credential), and `orvo-counterd tickets rotate` replaces the signing key while the previous ones are
// still taken for a grace period.
//
// The file is text, one key a line, the signing key first:
//   # comments
//   ID SECRET UNTIL
// ID a number from 1, SECRET 64 hex digits, UNTIL 0 for the signing key or the Unix time until which an
// older key is still taken. It must not be readable by group or others.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

namespace orvo::server {

class TicketKeys {
public:
    static constexpr std::size_t kSecretBytes = 32;
    using Secret = std::array<unsigned char, kSecretBytes>;

    struct Key {
        std::uint32_t id = 0;
        Secret secret{};
        std::int64_t acceptedUntil = 0; // Unix seconds; 0: the signing key, taken without limit
    };

    TicketKeys() = default;
    ~TicketKeys();
    TicketKeys(const TicketKeys&) = delete;
    TicketKeys& operator=(const TicketKeys&) = delete;

    // Reads the file, making it first (0600, one new key) when it is missing and create is set. False with
    // a reason when it cannot be read, is damaged, or is open to group or others.
    bool open(const std::string& path, bool create, std::string& error);
    // A key of this process alone, for a server that has no file: its tickets are taken by it only.
    void useProcessKey();
    const std::string& path() const { return m_path; }

    // The signing key now, and the key of an id while it is still taken. The file is looked at again at
    // most once a second, so that a rotation reaches running servers without a reload; a file that has
    // become unreadable keeps the keys read last (and says so in error).
    bool signingKey(Key& key, std::string& error);
    enum class Lookup { Taken, Retired, Unknown }; // Retired: an older id than the signing key's
    Lookup acceptedKey(std::uint32_t id, Key& key, std::string& error);

    // Writes a new signing key into the file (made when missing); the keys before it stay taken for
    // graceSeconds at most, and keys past their time are dropped. The file is replaced whole, so a server
    // reading it meanwhile sees the old or the new one. report says what was done.
    static bool rotate(const std::string& path, std::int64_t graceSeconds, std::string& report,
                       std::string& error);

private:
    bool refresh(std::string& error);
    bool load(std::string& error);

    std::mutex m_mutex;
    std::string m_path; // empty: the process key
    std::vector<Key> m_keys;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    std::timespec m_modified{};
    off_t m_size = 0;
    std::chrono::steady_clock::time_point m_lastLook{};
};

// Where a server's ticket keys are when no file is named: the systemd credential "ticket-key" when the
// service has one, a file beside a SQLite database ("FILE.ticket-key"), or "ticket-key" in the service's
// state directory for PostgreSQL; empty when there is none of these (a process key then).
std::string defaultTicketKeyPath(const std::string& database);

} // namespace orvo::server
