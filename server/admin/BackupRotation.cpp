#include "server/admin/BackupRotation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::server::admin {
namespace {

constexpr std::string_view kPrefix = "counter-";
constexpr std::size_t kStampLength = 16; // 20261208T023000Z

bool isTimedBackup(std::string_view name) {
    if (name.substr(0, kPrefix.size()) != kPrefix || name.size() < kPrefix.size() + kStampLength)
        return false;
    const std::string_view stamp = name.substr(kPrefix.size(), kStampLength);
    const std::string_view suffix = name.substr(kPrefix.size() + kStampLength);
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const char c = stamp[i];
        const bool wanted = i == 8 ? c == 'T' : i == 15 ? c == 'Z' : c >= '0' && c <= '9';
        if (!wanted)
            return false;
    }
    return suffix == ".db" || suffix == ".dump";
}

} // namespace

std::string timedBackupName(bool postgres, std::time_t taken) {
    std::tm utc{};
    gmtime_r(&taken, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(kPrefix) + stamp + (postgres ? ".dump" : ".db");
}

bool pruneTimedBackups(const std::string& folder, std::size_t keep, std::vector<std::string>& removed,
                       std::string& error) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> backups;
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        const std::string path = folder + "/" + entry->d_name;
        if (isTimedBackup(entry->d_name) && lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            backups.emplace_back(entry->d_name);
    }
    closedir(dir);
    if (backups.size() <= keep)
        return true;
    std::sort(backups.begin(), backups.end()); // oldest first: the names hold the time
    for (std::size_t i = 0; i + keep < backups.size(); ++i) {
        const std::string path = folder + "/" + backups[i];
        if (::unlink(path.c_str()) != 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        removed.push_back(path);
    }
    return true;
}

} // namespace orvo::server::admin
