#include "server/admin/Password.h"

#include <termios.h>
#include <unistd.h>

namespace orvo::server::admin {
namespace {

bool readLine(std::FILE* in, std::string& line) {
    line.clear();
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        if (line.size() > kMaxPasswordBytes) // keep reading to the end of the line, storing no more
            continue;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return c == '\n' || !line.empty();
}

// Echo off for the life of the object; restored even when reading fails.
class NoEcho {
public:
    explicit NoEcho(int fd) : m_fd(fd) {
        if (tcgetattr(fd, &m_saved) == 0) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            m_active = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~NoEcho() {
        if (m_active)
            tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

bool ask(std::FILE* in, const char* prompt, std::string& line) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    NoEcho quiet(fileno(in));
    const bool got = readLine(in, line);
    std::fputc('\n', stderr);
    return got;
}

} // namespace

bool readNewPassword(std::FILE* in, const std::string& name, std::string& password, std::string& error) {
    const bool terminal = isatty(fileno(in)) == 1;
    if (terminal) {
        std::string again;
        const std::string prompt = "new password for " + name + ": ";
        if (!ask(in, prompt.c_str(), password) || !ask(in, "the same again: ", again)) {
            error = "no password given";
            return false;
        }
        if (password != again) {
            error = "the two passwords differ";
            return false;
        }
    } else if (!readLine(in, password)) {
        error = "no password on standard input (one line expected)";
        return false;
    }
    if (password.empty()) {
        error = "the password is empty";
        return false;
    }
    if (password.size() > kMaxPasswordBytes) {
        error = "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
        return false;
    }
    return true;
}

} // namespace orvo::server::admin
