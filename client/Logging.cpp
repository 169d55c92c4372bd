#include "client/Logging.h"

#include "host/com/WireText.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

constexpr std::uintmax_t kRotateBytes = 8u << 20;

std::mutex g_mutex; // the embedded server logs from its own threads
std::FILE* g_file = nullptr;
int g_verbosity = 0;

int rank(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return 2;
    case QtInfoMsg:
        return 1;
    default:
        return 0;
    }
}

const char* label(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "error";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

// Qt's own chatter that says nothing about the client (the offscreen platform's limits) is debug output.
QtMsgType demoted(QtMsgType type, const QString& message) {
    if (type == QtWarningMsg &&
        (message.startsWith("This plugin does not support") || message.contains("XDG_RUNTIME_DIR not set")))
        return QtDebugMsg;
    return type;
}

// The log names customers and operators: only its owner may read it (an older, readable one is tightened).
std::FILE* openPrivateLog(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fchmod(fd, 0600) == 0 ? ::fdopen(fd, "a") : nullptr;
    if (!file) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return file;
}

void handler(QtMsgType qtType, const QMessageLogContext&, const QString& message) {
    const QtMsgType type = demoted(qtType, message);
    // One message is one line: text from the wire with a newline in it cannot forge another entry.
    const std::string text = orvo::EscapeControlBytes(message.toUtf8().toStdString());
    const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
    std::lock_guard lock(g_mutex);
    if (g_file) {
        std::fprintf(g_file, "%s %s %s\n", stamp.constData(), label(type), text.c_str());
        std::fflush(g_file);
    }
    if (rank(type) <= g_verbosity)
        std::fprintf(stderr, "orvo-client: %s%s%s\n", type >= QtWarningMsg ? label(type) : "",
                     type >= QtWarningMsg ? ": " : "", text.c_str());
}

} // namespace

void InstallStderrLog(int verbosity) {
    {
        std::lock_guard lock(g_mutex);
        g_verbosity = verbosity;
    }
    qInstallMessageHandler(handler);
}

bool InstallClientLog(const std::string& path, int verbosity, std::string& error) {
    {
        std::lock_guard lock(g_mutex);
        g_verbosity = verbosity;
        std::error_code fsError;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (!folder.empty())
            std::filesystem::create_directories(folder, fsError);
        if (g_file)
            std::fclose(g_file);
        // One earlier log is kept: a log past its size limit becomes FILE.1 at start-up.
        if (std::filesystem::file_size(path, fsError) > kRotateBytes && !fsError)
            std::filesystem::rename(path, path + ".1", fsError);
        g_file = openPrivateLog(path);
        if (!g_file)
            error = "cannot write the log file " + path + ": " + std::strerror(errno);
    }
    qInstallMessageHandler(handler);
    return g_file != nullptr;
}

void FlushClientLog() {
    std::lock_guard lock(g_mutex);
    if (g_file)
        std::fflush(g_file);
    std::fflush(stderr);
}
