// The server's log: one line per event on standard error, "2026-12-07T09:30:00.123Z INFO  text", or for
// the journal "<4>text" (the syslog priority; the journal stamps the time itself). Every control byte of
// the text is written as \xNN so that nothing from the wire reaches the log raw; text from the wire is
// escaped by whoever puts it in a line (escapeText), so a backslash here is not doubled again.
// A warning or an error that repeats (the same text, from the same address whatever its port) is
// written once a minute, followed by how often it came in that minute.
#pragma once

#include <string>
#include <string_view>

namespace orvo::server {

enum class LogLevel { Error = 0, Warn = 1, Info = 2, Debug = 3 };

// "error", "warn", "info" or "debug".
bool parseLogLevel(std::string_view text, LogLevel& level);
void setLogLevel(LogLevel level);
bool logEnabled(LogLevel level);

enum class LogFormat { Plain, Journal };
void setLogFormat(LogFormat format);
// Whether standard error is the journal's stream (systemd sets JOURNAL_STREAM to its device and inode).
bool stderrIsJournal();

// The line as written, without the line feed (for tests).
std::string formatLogLine(LogLevel level, std::string_view text);
void logLine(LogLevel level, std::string_view text);
// Writes the counts of repeats whose minute is over; called now and then (logLine does so as well).
// With everything, the counts of minutes still running too (before the process ends).
void flushLogRepeats(bool everything = false);

// The level of a line the counter server reports: a database failure is an error; connection trouble and
// refused logins are warnings; the rest information.
LogLevel levelOfServerLine(std::string_view text);

} // namespace orvo::server
