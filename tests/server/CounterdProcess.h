// The real orvo-counterd program in tests: one run of a subcommand with its output, or a server child
// whose standard error is read as it runs.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace orvo::test {

struct ProgramRun {
    int code = -1;
    std::string out, err;
};

// Runs orvo-counterd with the arguments, feeding input to its standard input; kills it after 60 s.
ProgramRun counterd(const std::vector<std::string>& args, const std::string& input = {});

// orvo-counterd running in the background; killed at destruction if still running.
struct CounterdChild {
    pid_t pid = -1;
    int stderrFd = -1;
    std::string output;

    explicit CounterdChild(const std::vector<std::string>& args);
    ~CounterdChild();
    CounterdChild(const CounterdChild&) = delete;
    CounterdChild& operator=(const CounterdChild&) = delete;

    // Reads standard error until the text appears or the time-out passes.
    bool waitFor(const std::string& text, int timeoutMs);
    // Exit code, or -1 when it does not end within the time-out.
    int exitCode(int timeoutMs);
    // The port of "listening on 127.0.0.1:PORT" once logged, else -1.
    int loopbackPort(int timeoutMs);
};

} // namespace orvo::test
