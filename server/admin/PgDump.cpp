#include "server/admin/PgDump.h"

#include <libpq-fe.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvo::server::admin {
namespace {

constexpr std::size_t kMaxMessageBytes = 4096;

struct OptionsFree {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

// A libpq keyword/value string: values in single quotes, quote and backslash escaped.
void appendSetting(std::string& out, const char* key, const std::string& value) {
    out += out.empty() ? "" : " ";
    out += key;
    out += "='";
    for (char c : value) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '\'';
}

// conninfo without its password, which comes back separately.
bool splitPassword(const std::string& conninfo, std::string& withoutPassword, std::string& password,
                   std::string& error) {
    char* message = nullptr;
    std::unique_ptr<PQconninfoOption, OptionsFree> options(PQconninfoParse(conninfo.c_str(), &message));
    if (!options) {
        error = message ? message : "cannot read the connection string";
        PQfreemem(message);
        return false;
    }
    bool timeoutGiven = std::getenv("PGCONNECT_TIMEOUT") != nullptr;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::strcmp(o->keyword, "password") == 0) {
            password = o->val;
            continue;
        }
        timeoutGiven = timeoutGiven || std::strcmp(o->keyword, "connect_timeout") == 0;
        appendSetting(withoutPassword, o->keyword, o->val);
    }
    if (!timeoutGiven) // as the server's own connections: a host that does not answer is given up
        appendSetting(withoutPassword, "connect_timeout", "10");
    return true;
}

// Runs pg_dump, its standard error read into message; returns the wait status, or -1 with error set.
int runPgDump(const std::vector<std::string>& args, const std::string& password, std::string& message,
              std::string& error) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "PGPASSWORD=", 11) != 0 || password.empty())
            environment.emplace_back(*e);
    if (!password.empty())
        environment.push_back("PGPASSWORD=" + password);
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("cannot run pg_dump: ") + std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "pg_dump", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        error = spawned == ENOENT ? "pg_dump not found: install the postgresql-client package (PostgreSQL's "
                                    "client tools) or put pg_dump on PATH"
                                  : std::string("cannot run pg_dump: ") + std::strerror(spawned);
        return -1;
    }
    char buffer[1024];
    for (;;) {
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (message.size() < kMaxMessageBytes)
            message.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return status;
}

} // namespace

bool dumpPostgres(const std::string& conninfo, const std::string& target, std::string& error) {
    std::string safeConninfo, password;
    if (!splitPassword(conninfo, safeConninfo, password, error))
        return false;
    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data()); // owner-only: the dump holds every customer and password hash
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    std::string message;
    // -w: never ask for a password on the terminal (a missing one is an error, not a hang); locks that
    // a migration holds are waited for a minute at most.
    const int status = runPgDump({"pg_dump", "--format=custom", "-w", "--lock-wait-timeout=60s",
                                  "--file=" + temp, "--dbname=" + safeConninfo},
                                 password, message, error);
    if (status == -1) {
        unlink(temp.c_str());
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        unlink(temp.c_str());
        error = (WIFEXITED(status) ? "pg_dump failed (exit " + std::to_string(WEXITSTATUS(status)) + ")"
                                   : "pg_dump ended by signal " + std::to_string(WTERMSIG(status))) +
                (message.empty() ? "" : ": " + message);
        return false;
    }
    // A link never replaces a file that appeared meanwhile under the target's name.
    if (link(temp.c_str(), target.c_str()) != 0) {
        error = "cannot name the backup " + target + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    unlink(temp.c_str());
    return true;
}

} // namespace orvo::server::admin
