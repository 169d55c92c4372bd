#include "CounterdProcess.h"

#include "ServerFixture.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvo::test {

// Runs orvo-counterd with the arguments, feeding input to its standard input; kills it after 60 s.
ProgramRun counterd(const std::vector<std::string>& args, const std::string& input) {
    ProgramRun run;
    TempDir io;
    const std::string in = io.path + "/in", out = io.path + "/out", err = io.path + "/err";
    std::ofstream(in) << input;
    const pid_t pid = fork();
    if (pid == 0) {
        const int fds[3] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                            open(err.c_str(), O_WRONLY | O_CREAT, 0600)};
        for (int i = 0; i < 3; ++i)
            dup2(fds[i], i);
        std::vector<char*> argv{const_cast<char*>(ORVO_COUNTERD)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        alarm(60);
        execv(ORVO_COUNTERD, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::stringstream o, e;
    o << std::ifstream(out).rdbuf();
    e << std::ifstream(err).rdbuf();
    run.out = o.str();
    run.err = e.str();
    return run;
}

CounterdChild::CounterdChild(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(ORVO_COUNTERD));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(ORVO_COUNTERD, argv.data());
        _exit(127);
    }
    close(fds[1]);
    stderrFd = fds[0];
}

CounterdChild::~CounterdChild() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (stderrFd >= 0)
        close(stderrFd);
}

bool CounterdChild::waitFor(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{stderrFd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buf[512];
        ssize_t n = read(stderrFd, buf, sizeof buf);
        if (n <= 0)
            return output.find(text) != std::string::npos;
        output.append(buf, static_cast<size_t>(n));
    }
    return true;
}

int CounterdChild::exitCode(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

int CounterdChild::loopbackPort(int timeoutMs) {
    const std::string prefix = "listening on 127.0.0.1:";
    if (!waitFor(prefix, timeoutMs))
        return -1;
    const size_t at = output.find(prefix) + prefix.size();
    // The rest of the line may still be on its way; a NUL never comes, so this only reads what arrives.
    for (int waited = 0; output.find('\n', at) == std::string::npos; waited += 20) {
        if (waited >= 1000)
            return -1;
        waitFor(std::string(1, '\0'), 20);
    }
    return std::stoi(output.substr(at));
}

} // namespace orvo::test
