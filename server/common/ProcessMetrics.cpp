#include "server/common/ProcessMetrics.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace orvo::server {
namespace {

void metric(std::string& out, const char* name, const char* help, const char* type, double value) {
    char line[256];
    std::snprintf(line, sizeof line, "# HELP %s %s\n# TYPE %s %s\n%s %.17g\n", name, help, name, type, name,
                  value);
    out += line;
}

// Seconds since the epoch at which the system booted (the base of /proc's start times).
double bootTime() {
    std::ifstream stat("/proc/stat");
    std::string key;
    double value = 0;
    while (stat >> key) {
        if (key == "btime" && stat >> value)
            return value;
        stat.ignore(1 << 16, '\n');
    }
    return 0;
}

int openDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count - 1; // the one reading the folder
}

} // namespace

std::string renderProcessMetrics() {
    std::string out;
    // /proc/self/stat: fields after the command's closing parenthesis, numbered from 3 (state).
    char line[1024] = {};
    if (FILE* file = std::fopen("/proc/self/stat", "re")) {
        if (!std::fgets(line, sizeof line, file))
            line[0] = '\0';
        std::fclose(file);
    }
    const std::string stat(line);
    const std::size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0, start = 0, vsize = 0, rss = 0;
        for (int number = 3; fields >> field && number <= 24; ++number) {
            if (number == 14)
                utime = std::strtod(field.c_str(), nullptr);
            else if (number == 15)
                stime = std::strtod(field.c_str(), nullptr);
            else if (number == 22)
                start = std::strtod(field.c_str(), nullptr);
            else if (number == 23)
                vsize = std::strtod(field.c_str(), nullptr);
            else if (number == 24)
                rss = std::strtod(field.c_str(), nullptr);
        }
        const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
        metric(out, "process_cpu_seconds_total", "User and system CPU time spent in seconds.", "counter",
               (utime + stime) / ticks);
        metric(out, "process_resident_memory_bytes", "Resident memory size in bytes.", "gauge", rss * page);
        metric(out, "process_virtual_memory_bytes", "Virtual memory size in bytes.", "gauge", vsize);
        metric(out, "process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
               "gauge", bootTime() + start / ticks);
    }
    if (const int fds = openDescriptors(); fds >= 0)
        metric(out, "process_open_fds", "Number of open file descriptors.", "gauge", fds);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0)
        metric(out, "process_max_fds", "Maximum number of open file descriptors.", "gauge",
               static_cast<double>(limit.rlim_cur));
    return out;
}

} // namespace orvo::server
