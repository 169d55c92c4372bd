// orvo-counterd as a child process for the load benchmarks: started with arguments, its port read from
// its first log line, its memory and CPU time read from /proc, stopped with SIGTERM.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvo::bench {

// orvo-counterd as a child process; its port read from the first log line.
struct Counterd {
    pid_t pid = -1;
    int port = -1;
    int errFd = -1;

    bool start(const std::vector<std::string>& args, int timeoutMs) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 2);
            std::vector<char*> argv{const_cast<char*>(ORVO_COUNTERD)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(ORVO_COUNTERD, argv.data());
            _exit(127);
        }
        ::close(fds[1]);
        errFd = fds[0];
        std::string seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{errFd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                continue;
            char buf[512];
            const ssize_t n = read(errFd, buf, sizeof buf);
            if (n <= 0)
                break;
            seen.append(buf, static_cast<std::size_t>(n));
            const std::size_t at = seen.find("listening on 127.0.0.1:");
            if (at != std::string::npos && seen.find('\n', at) != std::string::npos) {
                port = std::atoi(seen.c_str() + at + 23);
                // The request log goes on; drain it so the server never blocks on a full pipe.
                std::thread([fd = errFd] {
                    char sink[4096];
                    while (read(fd, sink, sizeof sink) > 0) {
                    }
                }).detach();
                return true;
            }
        }
        std::fprintf(stderr, "orvo-counterd did not start: %s\n", seen.c_str());
        return false;
    }
    // Resident memory in MiB (VmRSS), and its peak since the start (VmHWM).
    double rssMiB() const { return statusMiB("VmRSS:"); }
    double peakMiB() const { return statusMiB("VmHWM:"); }
    double statusMiB(const std::string& key) const {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(key, 0) == 0)
                return std::atof(line.c_str() + key.size()) / 1024.0;
        return -1;
    }
    // User + system CPU of the process so far, in seconds.
    double cpuSeconds() const { return cpuSecondsOf("/proc/" + std::to_string(pid) + "/stat"); }
    // CPU time of the server's threads named so (/proc/PID/task/*/comm), e.g. "orvo-simulator".
    double threadCpuSeconds(const std::string& name) const {
        double total = 0;
        std::error_code ec;
        for (const auto& task :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
            std::ifstream comm(task.path() / "comm");
            std::string taskName;
            if (std::getline(comm, taskName) && taskName == name)
                total += cpuSecondsOf((task.path() / "stat").string());
        }
        return total;
    }
    static double cpuSecondsOf(const std::string& statPath) {
        std::ifstream in(statPath);
        std::string line;
        if (!std::getline(in, line) || line.rfind(')') == std::string::npos)
            return 0;
        // Fields after the command (which may hold spaces) start past the last ')': state is field 3,
        // utime and stime are fields 14 and 15.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    ~Counterd() { stop(); }
};

} // namespace orvo::bench
