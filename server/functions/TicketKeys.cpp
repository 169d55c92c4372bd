#include "server/functions/TicketKeys.h"

#include "server/store/StoreSource.h"

#include <sodium.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::server {
namespace {

constexpr std::size_t kMaxFileBytes = 64 * 1024;
constexpr std::size_t kMaxKeys = 16;
constexpr auto kLookEvery = std::chrono::seconds(1);
constexpr const char* kHeading =
    "# orvo-counterd session ticket keys: give every server of one database this same file, keep it 0600\n"
    "# and out of backups of the database. The first key signs; the others are taken until their time.\n"
    "# id secret until (Unix seconds; 0: the signing key)\n";

std::string systemText(int code) {
    return std::strerror(code);
}

std::string toHex(const unsigned char* bytes, std::size_t size) {
    std::string hex(2 * size + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

template <typename Number> bool parseNumber(std::string_view text, Number& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// One key line: "ID SECRET UNTIL".
bool parseKey(const std::string& line, TicketKeys::Key& key) {
    std::istringstream fields(line);
    std::string id, secret, until, extra;
    if (!(fields >> id >> secret >> until) || (fields >> extra))
        return false;
    std::size_t length = 0;
    return parseNumber(id, key.id) && key.id > 0 && parseNumber(until, key.acceptedUntil) &&
           key.acceptedUntil >= 0 && secret.size() == 2 * key.secret.size() &&
           sodium_hex2bin(key.secret.data(), key.secret.size(), secret.data(), secret.size(), nullptr,
                          &length, nullptr) == 0 &&
           length == key.secret.size();
}

// The keys of a file's text, the signing key first; false with the reason.
bool parseKeys(const std::string& text, std::vector<TicketKeys::Key>& keys, std::string& error) {
    keys.clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        TicketKeys::Key key;
        if (!parseKey(line, key) || keys.size() == kMaxKeys) {
            error = "line " + std::to_string(number) +
                    (keys.size() == kMaxKeys ? ": more than 16 keys" : ": not 'ID SECRET UNTIL'");
            sodium_memzero(line.data(), line.size());
            return false;
        }
        sodium_memzero(line.data(), line.size());
        for (const TicketKeys::Key& seen : keys)
            if (seen.id == key.id) {
                error = "line " + std::to_string(number) + ": key " + std::to_string(key.id) + " twice";
                return false;
            }
        if ((key.acceptedUntil == 0) != keys.empty()) {
            error = "line " + std::to_string(number) +
                    (keys.empty() ? ": the first key must be the signing key (until 0)"
                                  : ": only the first key signs (until 0)");
            return false;
        }
        keys.push_back(key);
    }
    if (keys.empty())
        error = "no key in it";
    return !keys.empty();
}

std::string keysText(const std::vector<TicketKeys::Key>& keys) {
    std::string text = kHeading;
    for (const TicketKeys::Key& key : keys)
        text += std::to_string(key.id) + " " + toHex(key.secret.data(), key.secret.size()) + " " +
                std::to_string(key.acceptedUntil) + "\n";
    return text;
}

// The whole file, refused when it is too large or group or others may read it.
bool readKeyFile(int fd, const std::string& path, std::string& text, struct stat& info, std::string& error) {
    if (fstat(fd, &info) != 0) {
        error = path + ": " + systemText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > static_cast<off_t>(kMaxFileBytes)) {
        error = path + ": not a key file (a regular file of at most 64 KiB)";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = path + ": group or others may read it; 'chmod 600' it (it lets anyone make session tickets)";
        return false;
    }
    text.assign(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = path + ": " + (n < 0 ? systemText(errno) : std::string("changed while read"));
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the keys to a new file beside path and moves it over path: readers see one file or the other.
bool writeKeyFile(const std::string& path, const std::vector<TicketKeys::Key>& keys, std::string& error) {
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = temporary + ": " + systemText(errno);
        return false;
    }
    std::string text = keysText(keys);
    bool written = fchmod(fd, 0600) == 0;
    // Rotated by root, the file stays the service's: the new one takes the old one's owner.
    struct stat old {};
    if (written && stat(path.c_str(), &old) == 0 && geteuid() == 0)
        written = fchown(fd, old.st_uid, old.st_gid) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    written = written && fsync(fd) == 0;
    const int code = errno;
    sodium_memzero(text.data(), text.size());
    ::close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + systemText(written ? errno : code);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// The keys of the file at path, read whole and parsed; missing tells a file that is not there (false).
bool readKeys(const std::string& path, std::vector<TicketKeys::Key>& keys, struct stat& info, bool& missing,
              std::string& error) {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        error = path + ": " + systemText(errno);
        return false;
    }
    std::string text;
    const bool read = readKeyFile(fd, path, text, info, error);
    ::close(fd);
    const bool parsed = read && parseKeys(text, keys, error);
    sodium_memzero(text.data(), text.size());
    if (read && !parsed)
        error = path + ": " + error;
    return parsed;
}

TicketKeys::Key newKey(std::uint32_t id) {
    TicketKeys::Key key;
    key.id = id;
    randombytes_buf(key.secret.data(), key.secret.size());
    return key;
}

bool sodiumReady(std::string& error) {
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        error = "the cryptography library cannot start";
    return ready;
}

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

TicketKeys::~TicketKeys() {
    for (Key& key : m_keys)
        sodium_memzero(key.secret.data(), key.secret.size());
}

bool TicketKeys::open(const std::string& path, bool create, std::string& error) {
    if (!sodiumReady(error))
        return false;
    std::lock_guard lock(m_mutex);
    m_path = path;
    if (create && access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
        // Written whole beside it, then linked into place, which fails when the file exists: of two
        // servers starting at once on one database, one makes the file and both read that one.
        const std::string made = path + ".made." + std::to_string(getpid());
        if (!writeKeyFile(made, {newKey(1)}, error))
            return false;
        const int code = link(made.c_str(), path.c_str()) == 0 ? 0 : errno;
        unlink(made.c_str());
        if (code != 0 && code != EEXIST) {
            error = path + ": " + systemText(code);
            return false;
        }
    }
    return load(error);
}

void TicketKeys::useProcessKey() {
    std::string ignored;
    sodiumReady(ignored);
    std::lock_guard lock(m_mutex);
    m_path.clear();
    m_keys = {newKey(1)};
}

bool TicketKeys::load(std::string& error) {
    std::vector<Key> keys;
    struct stat info {};
    bool missing = false;
    if (!readKeys(m_path, keys, info, missing, error))
        return false;
    for (Key& key : m_keys)
        sodium_memzero(key.secret.data(), key.secret.size());
    m_keys = std::move(keys);
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_modified = info.st_mtim;
    m_size = info.st_size;
    m_lastLook = std::chrono::steady_clock::now();
    return true;
}

bool TicketKeys::refresh(std::string& error) {
    const auto now = std::chrono::steady_clock::now();
    if (m_path.empty() || now - m_lastLook < kLookEvery)
        return true;
    m_lastLook = now;
    struct stat info {};
    if (stat(m_path.c_str(), &info) != 0) {
        error = m_path + ": " + systemText(errno) + "; the keys read before are used";
        return false;
    }
    if (info.st_dev == m_device && info.st_ino == m_inode && info.st_size == m_size &&
        info.st_mtim.tv_sec == m_modified.tv_sec && info.st_mtim.tv_nsec == m_modified.tv_nsec)
        return true;
    if (!load(error)) {
        error += "; the keys read before are used";
        return false;
    }
    return true;
}

bool TicketKeys::signingKey(Key& key, std::string& error) {
    std::lock_guard lock(m_mutex);
    std::string problem;
    if (!refresh(problem))
        error = problem; // reported, yet the keys in hand still sign
    if (m_keys.empty()) {
        error = "no session ticket key";
        return false;
    }
    key = m_keys.front();
    return true;
}

TicketKeys::Lookup TicketKeys::acceptedKey(std::uint32_t id, Key& key, std::string& error) {
    std::lock_guard lock(m_mutex);
    std::string problem;
    if (!refresh(problem))
        error = problem;
    const std::int64_t now = unixNow();
    for (const Key& candidate : m_keys)
        if (candidate.id == id && (candidate.acceptedUntil == 0 || now < candidate.acceptedUntil)) {
            key = candidate;
            return Lookup::Taken;
        }
    return !m_keys.empty() && id < m_keys.front().id ? Lookup::Retired : Lookup::Unknown;
}

bool TicketKeys::rotate(const std::string& path, std::int64_t graceSeconds, std::string& report,
                        std::string& error) {
    if (!sodiumReady(error))
        return false;
    std::vector<Key> keys;
    struct stat info {};
    bool missing = false;
    if (!readKeys(path, keys, info, missing, error)) {
        if (!missing)
            return false;
        error.clear(); // the first key of a new file
    }
    const std::int64_t now = unixNow();
    std::uint32_t nextId = 1;
    for (const Key& key : keys)
        nextId = std::max(nextId, key.id + 1);
    std::vector<Key> kept;
    kept.reserve(kMaxKeys);
    kept.push_back(newKey(nextId)); // the signing key comes first
    for (Key& key : keys) {
        // The grace is the most any key before the new one is taken for, however long it had left.
        if (key.acceptedUntil == 0 || key.acceptedUntil > now + graceSeconds)
            key.acceptedUntil = now + graceSeconds;
        if (key.acceptedUntil > now && kept.size() < kMaxKeys)
            kept.push_back(key);
        sodium_memzero(key.secret.data(), key.secret.size());
    }
    const bool written = writeKeyFile(path, kept, error);
    for (Key& key : kept)
        sodium_memzero(key.secret.data(), key.secret.size());
    if (!written)
        return false;
    report = "new session ticket key " + std::to_string(nextId) + " in " + path + "; " +
             std::to_string(kept.size() - 1) + " older key(s) taken for " + std::to_string(graceSeconds) +
             " s more";
    return true;
}

std::string defaultTicketKeyPath(const std::string& database) {
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials && *credentials) {
        std::string credential = std::string(credentials) + "/ticket-key";
        if (access(credential.c_str(), F_OK) == 0)
            return credential;
    }
    if (!isPostgresTarget(database)) {
        if (database.empty() || database == ":memory:" || database.rfind("file:", 0) == 0)
            return {};
        return database + ".ticket-key";
    }
    const char* state = std::getenv("STATE_DIRECTORY");
    if (!state || !*state)
        return {};
    std::string first(state);
    first = first.substr(0, first.find(':')); // systemd lists several directories with ':'
    return first + "/ticket-key";
}

} // namespace orvo::server
