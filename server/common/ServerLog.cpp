#include "server/common/ServerLog.h"

#include "server/common/LogRepeats.h"
#include "server/common/LogText.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace orvo::server {
namespace {

std::atomic<int> g_level{static_cast<int>(LogLevel::Info)};
std::atomic<bool> g_journal{false};
std::mutex g_writeMutex; // also guards g_repeats
LogRepeats g_repeats;

int syslogPriority(LogLevel level) {
    switch (level) {
    case LogLevel::Error:
        return 3;
    case LogLevel::Warn:
        return 4;
    case LogLevel::Info:
        return 6;
    case LogLevel::Debug:
        return 7;
    }
    return 6;
}

void write(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
}

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

void setLogFormat(LogFormat format) {
    g_journal = format == LogFormat::Journal;
}

bool stderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (!stream || fstat(2, &info) != 0)
        return false;
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == info.st_dev &&
           inode == info.st_ino;
}

std::string formatLogLine(LogLevel level, std::string_view text) {
    if (g_journal) {
        std::string line = "<" + std::to_string(syslogPriority(level)) + ">";
        appendEscaped(line, text, false, "0123456789abcdef", false);
        return line;
    }
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
    appendEscaped(line, text, false, "0123456789abcdef", false);
    return line;
}

void logLine(LogLevel level, std::string_view text) {
    if (!logEnabled(level))
        return;
    std::vector<LogRepeats::Summary> due;
    std::lock_guard lock(g_writeMutex);
    // Information lines are the request log, one per request: never folded.
    const bool admitted =
        level > LogLevel::Warn || g_repeats.admit(text, LogRepeats::Clock::now(), due, level);
    for (const LogRepeats::Summary& summary : due)
        write(formatLogLine(summary.level, summary.text) + "\n");
    if (admitted)
        write(formatLogLine(level, text) + "\n");
}

void flushLogRepeats(bool everything) {
    std::vector<LogRepeats::Summary> due;
    std::lock_guard lock(g_writeMutex);
    const auto now = LogRepeats::Clock::now();
    g_repeats.expire(everything ? now + LogRepeats::kWindow + std::chrono::seconds(1) : now, due);
    for (const LogRepeats::Summary& summary : due)
        write(formatLogLine(summary.level, summary.text) + "\n");
}

LogLevel levelOfServerLine(std::string_view text) {
    if (text.find("cannot open database") != std::string_view::npos ||
        text.find(" status=9 (database") != std::string_view::npos)
        return LogLevel::Error;
    if (text.starts_with("connection ") || text.starts_with("refused ") || text.starts_with("warning: "))
        return LogLevel::Warn;
    // A login that did not succeed: "op=- fn=1 rows=0 ms=T status=S (...)".
    if (text.find(" fn=1 ") != std::string_view::npos && text.find(" status=0") == std::string_view::npos)
        return LogLevel::Warn;
    return LogLevel::Info;
}

} // namespace orvo::server
