// The server's configuration file: "name = value" lines (the long option without its dashes), "#" or
// ";" starting a comment, values optionally in double or single quotes. Read as a list of entries, each
// with its line, so that every later complaint can name the file and the line.
#pragma once

#include <string>
#include <vector>

namespace orvo::server::config {

struct ConfigEntry {
    std::string key, value;
    int line = 0;
};

// Limits: a configuration file is small; anything larger is a mistake (a wrong file named).
inline constexpr std::size_t kMaxConfigBytes = 256 * 1024;
inline constexpr std::size_t kMaxConfigLine = 4096;

// Appends "FILE:LINE: reason" to problems for every line that is not an entry, a comment or blank
// (and "FILE: reason" when the file cannot be read); the entries found go to entries either way.
void readConfigFile(const std::string& path, std::vector<ConfigEntry>& entries,
                    std::vector<std::string>& problems);

// The same for text already read (tests, and the file's content).
void parseConfigText(const std::string& path, const std::string& text, std::vector<ConfigEntry>& entries,
                     std::vector<std::string>& problems);

} // namespace orvo::server::config
