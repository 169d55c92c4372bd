#include "server/config/ConfigFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace orvo::server::config {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool isKeyChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The value after "=": a quoted string up to its closing quote (a comment may follow), or the bare
// text up to a comment. Gives false with the reason when a quote is not closed or text follows it.
bool parseValue(std::string_view text, std::string& value, std::string& reason) {
    text = trimmed(text);
    if (!text.empty() && (text.front() == '"' || text.front() == '\'')) {
        const char quote = text.front();
        const size_t close = text.find(quote, 1);
        if (close == std::string_view::npos) {
            reason = "the value's quote is not closed";
            return false;
        }
        const std::string_view rest = trimmed(text.substr(close + 1));
        if (!rest.empty() && rest.front() != '#' && rest.front() != ';') {
            reason = "text after the quoted value";
            return false;
        }
        value = std::string(text.substr(1, close - 1));
        return true;
    }
    const size_t comment = text.find_first_of("#;");
    value = std::string(trimmed(text.substr(0, comment)));
    return true;
}

} // namespace

void parseConfigText(const std::string& path, const std::string& text, std::vector<ConfigEntry>& entries,
                     std::vector<std::string>& problems) {
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (raw.size() > kMaxConfigLine) {
            problems.push_back(where + "line longer than " + std::to_string(kMaxConfigLine) + " bytes");
            continue;
        }
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            problems.push_back(where + "sections are not used; every option stands at the top level");
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            problems.push_back(where + "expected \"name = value\"");
            continue;
        }
        ConfigEntry entry;
        entry.key = std::string(trimmed(line.substr(0, equals)));
        entry.line = number;
        bool keyOk = !entry.key.empty();
        for (char c : entry.key)
            keyOk = keyOk && isKeyChar(c);
        if (!keyOk) {
            problems.push_back(where + "'" + entry.key + "' is not an option name");
            continue;
        }
        std::string reason;
        if (!parseValue(line.substr(equals + 1), entry.value, reason)) {
            problems.push_back(where + entry.key + ": " + reason);
            continue;
        }
        for (const ConfigEntry& earlier : entries)
            if (earlier.key == entry.key)
                problems.push_back(where + entry.key + " is set already on line " +
                                   std::to_string(earlier.line));
        entries.push_back(std::move(entry));
    }
}

void readConfigFile(const std::string& path, std::vector<ConfigEntry>& entries,
                    std::vector<std::string>& problems) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems.push_back(path + ": cannot read: " + std::strerror(errno));
        return;
    }
    std::string text(kMaxConfigBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxConfigBytes) {
        problems.push_back(path + ": larger than " + std::to_string(kMaxConfigBytes / 1024) +
                           " KiB, not a configuration file");
        return;
    }
    parseConfigText(path, text, entries, problems);
}

} // namespace orvo::server::config
