// The server's log: one line per event on standard error, "2026-12-07T09:30:00.123Z INFO  text",
// with every control byte of the text written as \xNN so that nothing from the wire reaches the log raw.
#pragma once

#include <string>
#include <string_view>

namespace orvo::server {

enum class LogLevel { Error = 0, Warn = 1, Info = 2, Debug = 3 };

// "error", "warn", "info" or "debug".
bool parseLogLevel(std::string_view text, LogLevel& level);
void setLogLevel(LogLevel level);
bool logEnabled(LogLevel level);

// The line as written, without the line feed (for tests).
std::string formatLogLine(LogLevel level, std::string_view text);
void logLine(LogLevel level, std::string_view text);

// The level of a line the counter server reports: connection trouble is a warning, the rest information.
LogLevel levelOfServerLine(std::string_view text);

} // namespace orvo::server
