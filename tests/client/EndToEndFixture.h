// The end-to-end fixture: one real orvo-counterd with demo data on loopback for the whole suite, and
// orvo-client runs with a script, their own configuration folder and a time-out, so that no test hangs.
#pragma once

#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

namespace orvo::e2e {

constexpr int kClientTimeoutMs = 90000;

struct ClientRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;
};

class CounterServerProcess {
public:
    // Starts orvo-counterd on a port the system chooses and waits for it to say which.
    bool Start(const QString& dbPath, std::string& error, const QStringList& extraArgs = {}) {
        m_process.setProgram(ORVO_COUNTERD);
        m_process.setArguments(QStringList{"--listen", "127.0.0.1:0", "--db", dbPath, "--demo"} + extraArgs);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            error = "orvo-counterd did not start";
            return false;
        }
        QByteArray seen;
        const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            m_process.waitForReadyRead(200);
            seen += m_process.readAllStandardError();
            const auto match = listening.match(QString::fromUtf8(seen));
            if (match.hasMatch()) {
                port = match.captured(1).toInt();
                return true;
            }
            if (m_process.state() == QProcess::NotRunning)
                break;
        }
        error = "orvo-counterd did not report its port: " + seen.toStdString();
        return false;
    }
    void Stop() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Gone at once, as a crashed server or a pulled cable: no goodbye to its clients.
    void Kill() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ~CounterServerProcess() { Stop(); }
    int port = 0;

private:
    QProcess m_process;
};

class EndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<QTemporaryDir>();
        s_server = std::make_unique<CounterServerProcess>();
        std::string error;
        if (!s_server->Start(s_dir->filePath("counter.db"), error))
            s_error = error;
    }
    static void TearDownTestSuite() {
        s_server.reset();
        s_dir.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(s_error.empty()) << s_error;
        ASSERT_TRUE(m_work.isValid());
    }

    QProcessEnvironment environment(const char* password) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // The client's configuration, log and demo database stay inside the test's folder.
        env.insert("XDG_CONFIG_HOME", m_work.filePath("config"));
        env.insert("XDG_DATA_HOME", m_work.filePath("data"));
        env.remove("ORVO_PASSWORD");
        // The windows' language follows the locale: English unless a test asks for another.
        env.remove("LANGUAGE");
        env.insert("LC_ALL", m_locale);
        env.insert("LANG", m_locale);
        if (password)
            env.insert("ORVO_PASSWORD", password);
        return env;
    }

    static QStringList serverArgs(int port = 0) {
        return {"--server", QString("127.0.0.1:%1").arg(port ? port : s_server->port), "--operator", "admin"};
    }

    // Runs orvo-client with a script written to the test's folder; the client's working folder is that
    // folder too, so the script's files land there.
    ClientRun runClient(const QStringList& args, const QString& script, const char* password,
                        const std::function<void(QProcess&)>& whileRunning = {}) {
        QFile file(m_work.filePath("test.script"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(script.toUtf8());
        file.close();
        return runClientWith(args + QStringList{"--script", file.fileName()}, password, whileRunning);
    }

    ClientRun runClientWith(const QStringList& args, const char* password,
                            const std::function<void(QProcess&)>& whileRunning = {}) {
        QProcess client;
        client.setProgram(ORVO_CLIENT);
        client.setArguments(args);
        client.setWorkingDirectory(m_work.path());
        client.setProcessEnvironment(environment(password));
        QElapsedTimer timer;
        timer.start();
        client.start();
        ClientRun run;
        if (!client.waitForStarted(10000))
            return run;
        if (whileRunning)
            whileRunning(client);
        if (!client.waitForFinished(kClientTimeoutMs)) {
            client.kill();
            client.waitForFinished(5000);
            ADD_FAILURE() << "orvo-client did not finish within " << kClientTimeoutMs / 1000 << " s";
        }
        run.elapsedMs = timer.elapsed();
        run.exitCode = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
        run.out += client.readAllStandardOutput();
        run.err += client.readAllStandardError();
        return run;
    }

    QJsonObject readDump(const QString& name) const {
        QFile file(m_work.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    static QJsonObject window(const QJsonObject& dump, int id) {
        for (const QJsonValue value : dump.value("windows").toArray())
            if (value.toObject().value("id").toInt() == id)
                return value.toObject();
        return {};
    }

    static QJsonObject control(const QJsonObject& window, const QString& id) {
        for (const QJsonValue value : window.value("controls").toArray())
            if (value.toObject().value("id").toString() == id)
                return value.toObject();
        return {};
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<CounterServerProcess> s_server;
    static inline std::string s_error;
    QTemporaryDir m_work;
    QString m_locale = "C.UTF-8";
};

// A loopback port that was free a moment ago and has nobody listening now.
inline int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

inline QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline QString writeFile(const QString& path, const std::string& text) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}
} // namespace orvo::e2e
