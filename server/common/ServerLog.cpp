#include "server/common/ServerLog.h"

#include "server/common/LogText.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace orvo::server {
namespace {

std::atomic<int> g_level{static_cast<int>(LogLevel::Info)};
std::mutex g_writeMutex;

const char* levelName(LogLevel level) {
    switch (level) {
    case LogLevel::Error:
        return "ERROR";
    case LogLevel::Warn:
        return "WARN ";
    case LogLevel::Info:
        return "INFO ";
    case LogLevel::Debug:
        return "DEBUG";
    }
    return "INFO ";
}

} // namespace

bool parseLogLevel(std::string_view text, LogLevel& level) {
    static constexpr std::pair<std::string_view, LogLevel> kNames[] = {{"error", LogLevel::Error},
                                                                       {"warn", LogLevel::Warn},
                                                                       {"info", LogLevel::Info},
                                                                       {"debug", LogLevel::Debug}};
    for (const auto& [name, value] : kNames)
        if (text == name) {
            level = value;
            return true;
        }
    return false;
}

void setLogLevel(LogLevel level) {
    g_level = static_cast<int>(level);
}

bool logEnabled(LogLevel level) {
    return static_cast<int>(level) <= g_level.load();
}

std::string formatLogLine(LogLevel level, std::string_view text) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[40];
    const size_t used = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + used, sizeof stamp - used, ".%03dZ ", static_cast<int>(millis));
    std::string line = stamp;
    line += levelName(level);
    line += ' ';
    appendEscaped(line, text, false, "0123456789abcdef");
    return line;
}

void logLine(LogLevel level, std::string_view text) {
    if (!logEnabled(level))
        return;
    const std::string line = formatLogLine(level, text) + "\n";
    std::lock_guard lock(g_writeMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

LogLevel levelOfServerLine(std::string_view text) {
    if (text.starts_with("connection ") || text.starts_with("refused "))
        return LogLevel::Warn;
    return LogLevel::Info;
}

} // namespace orvo::server
