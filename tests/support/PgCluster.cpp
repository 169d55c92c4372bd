#include "tests/support/PgCluster.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPort = "5432"; // the socket lives in our own folder, so the default port never clashes
constexpr auto kToolTimeout = 120s;

// Waits for a child of ours, killing it once the time-out passes. Returns its exit status, or -1.
int waitChild(pid_t pid, std::chrono::steady_clock::duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (got < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
}

std::string lastLines(const std::string& path, std::size_t maxChars) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    return text.size() > maxChars ? text.substr(text.size() - maxChars) : text;
}

std::string findRunuser() {
    for (const char* path : {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser", "/bin/runuser"})
        if (access(path, X_OK) == 0)
            return path;
    return {};
}

// Stops the postmaster named in the data folder's pid file, then removes the cluster's folder. It runs in
// the guard process, after the test process has gone; $1 is the data folder, $2 the cluster's folder.
constexpr const char* kGuardScript = R"SH(
cat >/dev/null
if [ -f "$1/postmaster.pid" ]; then
  pid=$(head -n 1 "$1/postmaster.pid")
  kill -QUIT "$pid" 2>/dev/null
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.2; i=$((i+1)); done
  kill -KILL "$pid" 2>/dev/null
fi
rm -rf "$2"
)SH";

} // namespace

bool PgCluster::processRunning(pid_t pid) {
    if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM))
        return false;
    // A postmaster is not our child: once it exits it may stay a zombie until init reaps it.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

std::string PgCluster::binDir() {
    if (const char* forced = std::getenv("ORVO_PG_BINDIR"); forced && *forced)
        return forced;
    std::error_code ec;
    std::string best;
    long bestVersion = -1;
    for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const long version = std::strtol(name.c_str(), &end, 10);
        if (end == name.c_str() || version <= bestVersion)
            continue;
        const fs::path bin = entry.path() / "bin";
        if (access((bin / "initdb").c_str(), X_OK) == 0 && access((bin / "pg_ctl").c_str(), X_OK) == 0 &&
            access((bin / "postgres").c_str(), X_OK) == 0) {
            best = bin.string();
            bestVersion = version;
        }
    }
    return best;
}

PgCluster::~PgCluster() {
    stop();
}

std::string PgCluster::conninfo(const std::string& database) const {
    return "host=" + m_folder + " port=" + kPort + " user=" + m_user + " dbname=" + database;
}

bool PgCluster::run(const std::vector<std::string>& argv, bool asOwner, std::string& error) {
    std::vector<std::string> full;
    if (asOwner && m_asNobody) {
        const std::string runuser = findRunuser();
        if (runuser.empty()) {
            error = "running as root and no runuser to start PostgreSQL as nobody";
            return false;
        }
        full = {runuser, "-u", "nobody", "--"};
    }
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : full)
        args.push_back(a.data());
    args.push_back(nullptr);

    const std::string log = m_folder + "/tools.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, m_folder.c_str()); // nobody may not enter our cwd
    // The server outlives the tool: it must not keep the test's pipes and sockets open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = "cannot run " + full[0] + ": " + std::strerror(rc);
        return false;
    }
    const int status = waitChild(pid, kToolTimeout);
    if (status != 0) {
        error = argv[0] + " failed (status " + std::to_string(status) + "):\n" + lastLines(log, 2000);
        return false;
    }
    return true;
}

bool PgCluster::startGuard(std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::string sh = "/bin/sh", dashC = "-c", script = kGuardScript, name = "orvo-pg-guard";
    std::string data = m_folder + "/data", folder = m_folder;
    char* args[] = {sh.data(), dashC.data(), script.data(), name.data(), data.data(), folder.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own: a test runner that kills the test's process group does not take the guard too.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    const int rc = posix_spawn(&m_guard, sh.c_str(), &actions, &attr, args, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        m_guard = 0;
        error = std::string("cannot start the clean-up guard: ") + std::strerror(rc);
        return false;
    }
    m_guardPipe = fds[1];
    return true;
}

void PgCluster::stopGuard() {
    if (m_guardPipe >= 0) {
        close(m_guardPipe);
        m_guardPipe = -1;
    }
    if (m_guard > 0) {
        waitChild(m_guard, 20s);
        m_guard = 0;
    }
}

bool PgCluster::start(std::string& error) {
    if (!m_folder.empty()) {
        error = "cluster already started";
        return false;
    }
    m_bin = binDir();
    if (m_bin.empty()) {
        error = "PostgreSQL server binaries not found in /usr/lib/postgresql/*/bin (or ORVO_PG_BINDIR)";
        return false;
    }
    char pattern[] = "/tmp/orvo-pg-XXXXXX"; // short: a Unix socket path holds at most 107 bytes
    if (!mkdtemp(pattern)) {
        error = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    m_folder = pattern;
    if (geteuid() == 0) {
        // PostgreSQL refuses to run as root: the cluster belongs to nobody, who must own its folder.
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(m_folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            error = "running as root and cannot hand the cluster folder to user nobody";
            stop();
            return false;
        }
        m_asNobody = true;
    }
    if (!startGuard(error)) {
        stop();
        return false;
    }
    const std::string data = m_folder + "/data";
    const std::string serverOptions = "-c listen_addresses='' -k " + m_folder + " -p " + kPort +
                                      " -c fsync=off -c full_page_writes=off -c synchronous_commit=off";
    const bool made = run({m_bin + "/initdb", "-D", data, "-U", m_user, "-A", "trust", "-E", "SQL_ASCII",
                           "--locale=C", "-N"},
                          true, error) &&
                      run({m_bin + "/pg_ctl", "-D", data, "-l", m_folder + "/server.log", "-w", "-t", "60",
                           "-o", serverOptions, "start"},
                          true, error);
    if (made) {
        std::ifstream pidFile(data + "/postmaster.pid");
        long pid = 0;
        pidFile >> pid;
        m_postmaster = static_cast<pid_t>(pid);
        if (m_postmaster <= 0)
            error = "the server started but wrote no postmaster.pid";
    }
    if (!made || m_postmaster <= 0 ||
        !run({m_bin + "/createdb", "-h", m_folder, "-p", kPort, "-U", m_user, m_database}, false, error)) {
        if (fs::exists(m_folder + "/server.log"))
            error += "\nserver log:\n" + lastLines(m_folder + "/server.log", 2000);
        stop();
        return false;
    }
    return true;
}

void PgCluster::stop() {
    if (m_folder.empty())
        return;
    if (m_postmaster > 0) {
        std::string ignored;
        const bool stopped =
            run({m_bin + "/pg_ctl", "-D", m_folder + "/data", "-m", "immediate", "-w", "-t", "20", "stop"},
                true, ignored);
        if (!stopped || processRunning(m_postmaster)) {
            kill(m_postmaster, SIGKILL);
            for (int i = 0; i < 250 && processRunning(m_postmaster); ++i)
                std::this_thread::sleep_for(20ms);
        }
        m_postmaster = 0;
    }
    std::error_code ec;
    fs::remove_all(m_folder, ec);
    stopGuard(); // finds nothing left to do, and is reaped
    m_folder.clear();
    m_asNobody = false;
}

} // namespace orvo::test
