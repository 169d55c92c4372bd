// The client's log: Qt's message handler writes every message to the log file and, from the verbosity
// chosen, to standard error. Level 0 shows warnings and errors, 1 adds information, 2 adds debug lines
// (every request). The password never reaches it: nothing logs it.
#pragma once

#include <string>

// Until the log file is known: standard error only, by the same rules.
void InstallStderrLog(int verbosity);
// Installs the handler; false (with the reason) when the log file cannot be opened, in which case
// messages still go to standard error.
bool InstallClientLog(const std::string& path, int verbosity, std::string& error);
void FlushClientLog();
