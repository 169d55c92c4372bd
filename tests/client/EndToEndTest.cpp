// orvo-client end to end: real processes, a real orvo-counterd with demo data on loopback, scripts
// through --script. The tour fills every tab and a detail list; bad passwords, a server that is not
// there, a server that dies mid-session and bad scripts all end with a clear message and an exit code,
// never a hang.
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

namespace {

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

    static std::unique_ptr<QTemporaryDir> s_dir;
    static std::unique_ptr<CounterServerProcess> s_server;
    static std::string s_error;
    QTemporaryDir m_work;
    QString m_locale = "C.UTF-8";
};

std::unique_ptr<QTemporaryDir> EndToEndTest::s_dir;
std::unique_ptr<CounterServerProcess> EndToEndTest::s_server;
std::string EndToEndTest::s_error;

// A loopback port that was free a moment ago and has nobody listening now.
int closedPort() {
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

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString writeFile(const QString& path, const std::string& text) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}

TEST_F(EndToEndTest, TheTourFillsEveryTabAndADetailList) {
    const QString tour = readFile(ORVO_SOURCE_DIR "/tools/tour.script");
    ASSERT_FALSE(tour.isEmpty());
    const ClientRun run = runClient(serverArgs() + QStringList{"--trace", "trace.jsonl"}, tour, "admin");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QJsonObject conditions = window(readDump("01-conditions.json"), 9001);
    EXPECT_TRUE(conditions.value("active").toBool()) << "the conditions dialog opens over the query window";

    const char* tabs[] = {"02-tab-F1-price-trigger", "03-tab-F2-stop-profit", "04-tab-F3-fill-trigger",
                          "05-tab-F4-arbitrage",     "06-tab-F5-batch",       "07-tab-F6-linked"};
    for (int kind = 0; kind < 6; ++kind) {
        SCOPED_TRACE(tabs[kind]);
        const QJsonObject query = window(readDump(QString(tabs[kind]) + ".json"), 9000);
        ASSERT_FALSE(query.isEmpty());
        EXPECT_TRUE(window(readDump(QString(tabs[kind]) + ".json"), 9001).isEmpty()) << "conditions closed";
        EXPECT_EQ(control(query, "9001").value("current").toInt(), kind);
        const QJsonObject list = control(query, QString("L%1").arg(kind));
        EXPECT_TRUE(list.value("visible").toBool());
        EXPECT_GT(list.value("rows").toArray().size(), 0);
        // Rows carry every layout column, the hidden key columns included.
        const QJsonArray columns = list.value("columns").toArray();
        EXPECT_TRUE(columns.contains("color"));
        EXPECT_EQ(list.value("rows").toArray().at(0).toArray().size(), columns.size());
        // ... and the rows hold what the server sent: every rule has its customer.
        const qsizetype customer = columns.toVariantList().indexOf("KHH");
        ASSERT_GE(customer, 0);
        for (const QJsonValue row : list.value("rows").toArray())
            EXPECT_FALSE(row.toArray().at(customer).toString().isEmpty());
        EXPECT_GT(QFile(m_work.filePath(QString(tabs[kind]) + ".png")).size(), 1000);
    }
    const QJsonObject detail = control(window(readDump("08-detail.json"), 9000), "9002");
    EXPECT_GT(detail.value("rows").toArray().size(), 0)
        << "the first batch rule's orders fill the detail list";

    const QString trace = readFile(m_work.filePath("trace.jsonl"));
    for (const char* function : {"16476", "16477", "16486", "16479", "16485", "16425", "16433", "16151"})
        EXPECT_TRUE(trace.contains(QString("{\"request\": %1,").arg(function))) << function;
    EXPECT_TRUE(trace.contains(R"(["554", "***"])")) << "the password never reaches the trace";
    EXPECT_FALSE(trace.contains(R"(["554", "admin"])"));
}

// The conditions a user enters reach the rule request, the customer number completed with the prefix the
// host's configuration gives the module.
TEST_F(EndToEndTest, ConditionsEnteredInTheDialogReachTheRequest) {
    QFile config(m_work.filePath("client.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[SYSTEM]\nKHHPRE = 0101\n");
    config.close();
    const QString script = "open 893\n"
                           "check 9006 0101 1\n"
                           "type 9008 5\n"
                           "pick 9012 1\n"
                           "date 9013 2026-11-01\n"
                           "dump conditions.json\n"
                           "ok\n";
    const ClientRun run = runClient(
        serverArgs() + QStringList{"--config", config.fileName(), "--trace", "trace.jsonl"}, script, "admin");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QJsonObject dialog = window(readDump("conditions.json"), 9001);
    EXPECT_EQ(control(dialog, "9006").value("text").toString(), "0101");
    EXPECT_EQ(control(dialog, "9012").value("current").toInt(), 1);
    EXPECT_TRUE(control(dialog, "9013").value("enabled").toBool()) << "expired rules take a date range";

    QJsonArray items;
    for (const QString& line : readFile(m_work.filePath("trace.jsonl")).split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("request").toInt() == 16476)
            items = event.value("items").toArray();
    }
    ASSERT_FALSE(items.isEmpty()) << "the price-trigger rules were asked for";
    const auto item = [&](const QString& tag) {
        for (const QJsonValue value : items)
            if (value.toArray().at(0).toString() == tag)
                return value.toArray().at(1).toString();
        return QString("(absent)");
    };
    EXPECT_EQ(item("697"), "0101");
    EXPECT_EQ(item("605"), "010100000005");
    EXPECT_EQ(item("9020"), "1");
    EXPECT_EQ(item("618"), "2026.11.01");
}

TEST_F(EndToEndTest, DragAndResizeReachTheQueryWindow) {
    const ClientRun run = runClient(serverArgs(),
                                    "open 893\nok\ndump before.json\ndrag 9004 -100\ndump dragged.json\n"
                                    "resize 1000 700\ndump resized.json\n",
                                    "admin");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const auto top = [](const QJsonObject& control) { return control.value("rect").toArray().at(1).toInt(); };
    const QJsonObject before = window(readDump("before.json"), 9000);
    const QJsonObject dragged = window(readDump("dragged.json"), 9000);
    EXPECT_EQ(top(control(dragged, "9004")), top(control(before, "9004")) - 100)
        << "the splitter bar moved up";
    EXPECT_LT(top(control(dragged, "9002")), top(control(before, "9002"))) << "the detail list grew upwards";
    const QJsonObject resized = window(readDump("resized.json"), 9000);
    EXPECT_FALSE(resized.value("maximized").toBool());
    EXPECT_EQ(resized.value("rect").toArray().at(2).toInt(), 1000);
    EXPECT_EQ(resized.value("rect").toArray().at(3).toInt(), 700);
}

// Sorting, the find field, the status line and the export, driven as a user does; the dump tells a
// tool what the user sees.
TEST_F(EndToEndTest, ScriptsSortFindAndExportAsAUserDoes) {
    const ClientRun run = runClient(serverArgs(),
                                    "open 893\nok\nheader L0 0\nheader L0 0\ndump sorted.json\n"
                                    "key Ctrl+F\ntype filter zzzz\ndump found.json\nkey Escape\n"
                                    "dump closed.json\nexport L0 rules.xlsx\nexport L0 rules.csv\n",
                                    "admin");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject sorted = window(readDump("sorted.json"), 9000);
    const QJsonObject list = control(sorted, "L0");
    EXPECT_EQ(list.value("sort").toArray(), (QJsonArray{QString::fromUtf8("流水号"), "desc"}));
    const QJsonArray rows = list.value("rows").toArray();
    const QJsonArray shown = list.value("shownRows").toArray();
    ASSERT_GT(rows.size(), 1);
    ASSERT_EQ(shown.size(), rows.size());
    for (qsizetype i = 1; i < shown.size(); ++i) {
        const auto serial = [&](qsizetype line) {
            return rows.at(shown.at(line).toInt()).toArray().at(0).toString().toLongLong();
        };
        EXPECT_GE(serial(i - 1), serial(i)) << "line " << i;
    }
    EXPECT_TRUE(
        sorted.value("status").toString().startsWith(QString::fromUtf8("显示 %1/%1 行").arg(rows.size())))
        << sorted.value("status").toString().toStdString();

    const QJsonObject found = window(readDump("found.json"), 9000);
    EXPECT_TRUE(control(found, "9015").value("visible").toBool());
    EXPECT_TRUE(control(found, "L0").value("shownRows").toArray().isEmpty());
    EXPECT_EQ(control(found, "L0").value("rows").toArray().size(), rows.size())
        << "the record set keeps every row";
    const QJsonObject closed = window(readDump("closed.json"), 9000);
    EXPECT_FALSE(control(closed, "9015").value("visible").toBool());
    EXPECT_EQ(control(closed, "L0").value("shownRows").toArray().size(), rows.size());

    QFile book(m_work.filePath("rules.xlsx"));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    EXPECT_EQ(book.read(2), QByteArray("PK"));
    EXPECT_EQ(readFile(m_work.filePath("rules.csv")).count('\n'), rows.size() + 1);
}

// Under a Chinese locale the host's windows speak Chinese; the log stays English.
TEST_F(EndToEndTest, TheHostsOwnTextsFollowAChineseLocale) {
    m_locale = "zh_CN.UTF-8";
    const ClientRun run = runClient(serverArgs(), "dump host.json\n", "admin");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject host = window(readDump("host.json"), 0);
    EXPECT_TRUE(host.value("connection").toString().startsWith(QString::fromUtf8("已连接 127.0.0.1:")))
        << host.value("connection").toString().toStdString();
    m_locale = "C.UTF-8";
    const ClientRun english = runClient(serverArgs(), "dump host.json\n", "admin");
    ASSERT_EQ(english.exitCode, 0) << english.err.toStdString();
    EXPECT_TRUE(window(readDump("host.json"), 0).value("connection").toString().startsWith("Connected to "));
}

// The live refresh key of the module's section: the current tab is asked again on that interval.
TEST_F(EndToEndTest, TheLiveRefreshKeyQueriesTheCurrentTabAgain) {
    QFile config(m_work.filePath("client.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[EXTORDERQUERY]\nRefreshSeconds = 1\n");
    config.close();
    const ClientRun run =
        runClient(serverArgs() + QStringList{"--config", config.fileName(), "--trace", "trace.jsonl"},
                  "open 893\nok\nwait 2600\n", "admin");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_GE(readFile(m_work.filePath("trace.jsonl")).count("{\"request\": 16476,"), 3)
        << "the first query and a refresh a second after it, and another";
}

TEST_F(EndToEndTest, AScriptCanComeFromStandardInput) {
    const ClientRun run =
        runClientWith(serverArgs() + QStringList{"--script", "-"}, "admin", [](QProcess& client) {
            client.write("open 893\nok\ntab 2\ndump\n");
            client.closeWriteChannel();
        });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject dump = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(control(window(dump, 9000), "9001").value("current").toInt(), 2);
    EXPECT_GT(control(window(dump, 9000), "L2").value("rows").toArray().size(), 0);
}

TEST_F(EndToEndTest, AWrongPasswordIsRefusedWithAClearMessage) {
    const ClientRun run = runClient(serverArgs(), "open 893\n", "not-the-password");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(run.err.contains("login as admin refused")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("not-the-password")) << "the password is never echoed";
}

TEST_F(EndToEndTest, NoPasswordInScriptModeIsSaidSo) {
    const ClientRun run = runClient(serverArgs(), "open 893\n", nullptr);
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(run.err.contains("ORVO_PASSWORD")) << run.err.toStdString();
}

TEST_F(EndToEndTest, AServerThatIsNotThereIsReportedNotWaitedFor) {
    const int port = closedPort();
    ASSERT_NE(port, 0);
    const ClientRun run = runClient(serverArgs(port), "open 893\n", "admin");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(
        run.err.contains(QString("cannot reach the counter server at 127.0.0.1:%1").arg(port).toUtf8()))
        << run.err.toStdString();
    EXPECT_LT(run.elapsedMs, 30000);
}

TEST_F(EndToEndTest, AServerThatDiesIsShownAsAFailureNotAnEmptyList) {
    CounterServerProcess own;
    std::string error;
    ASSERT_TRUE(own.Start(m_work.filePath("own.db"), error)) << error;
    const QString script = "open 893\nok\ndump\nwait 1500\ntab 1\ndump after.json\n";
    const ClientRun run = runClient(serverArgs(own.port), script, "admin", [&](QProcess& client) {
        // Once the first dump is out, the server goes away.
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (!out.contains("\n") && timer.elapsed() < 30000 && client.state() == QProcess::Running) {
            client.waitForReadyRead(100);
            out += client.readAllStandardOutput();
        }
        own.Stop();
    });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject after = readDump("after.json");
    EXPECT_EQ(control(window(after, 9000), "L1").value("rows").toArray().size(), 0);
    const QString failure = window(after, 0).value("failure").toString();
    EXPECT_TRUE(failure.contains("function 16477 failed")) << failure.toStdString();
    EXPECT_EQ(window(after, 0).value("notice").toString(), failure) << "told over the query window too";
    EXPECT_TRUE(run.err.contains("request 16477 failed")) << run.err.toStdString();
}

TEST_F(EndToEndTest, AFailingCommandNamesItsLineAndClosesTheWindows) {
    const ClientRun run = runClient(serverArgs(), "open 893\nok\nclick 9999\ndump\n", "admin");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("script line 3: click: no control 9999 in the active window 9000"))
        << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty()) << "nothing after the failing line runs";
    EXPECT_LT(run.elapsedMs, 30000);
}

TEST_F(EndToEndTest, OkWithoutADialogFails) {
    const ClientRun run = runClient(serverArgs(), "ok\n", "admin");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("script line 1: ok: no active dialog")) << run.err.toStdString();
}

TEST_F(EndToEndTest, AMalformedScriptFailsBeforeAnythingRuns) {
    const ClientRun run = runClient(serverArgs(), "open 893\nfrobnicate 1\n", "admin");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("script line 2: unknown command 'frobnicate'")) << run.err.toStdString();
}

TEST_F(EndToEndTest, BadSettingsStopTheClientAtOnceWithTheReason) {
    struct Case {
        QStringList args;
        int exitCode;
        const char* message;
    };
    for (const Case& c : {
             Case{{"--config", "/nonexistent/client.ini"},
                  2,
                  "configuration file /nonexistent/client.ini does not exist"},
             Case{{"--server", "nowhere"}, 2, "--server wants HOST:PORT"},
             Case{{"--module", "/nonexistent/libmodule.so"}, 5, "cannot load the module"},
         }) {
        const ClientRun run = runClient(serverArgs() + c.args, "open 893\n", "admin");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
}

TEST_F(EndToEndTest, WithoutAServerTheDemoServerRunsEmbedded) {
    const ClientRun run = runClient({}, "open 893\nok\ndump embedded.json\n", nullptr);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject dump = readDump("embedded.json");
    EXPECT_GT(control(window(dump, 9000), "L0").value("rows").toArray().size(), 0);
    EXPECT_TRUE(window(dump, 0).value("connection").toString().contains("embedded demo server"));
    EXPECT_TRUE(QFile::exists(m_work.filePath("data/orvo/orvo-client/demo.db")));
    EXPECT_TRUE(QFile::exists(m_work.filePath("data/orvo/orvo-client/demo.db.date")))
        << "the demo keeps the day it was made for";
    EXPECT_TRUE(QFile::exists(m_work.filePath("config/orvo/orvo-client/orvo-client.ini")));
    // Password hashes, customers' data and what was done: for the owner only.
    for (const char* name : {"demo.db", "demo.db-wal", "demo.db-shm", "orvo-client.log"}) {
        const QString path = m_work.filePath(QString("data/orvo/orvo-client/") + name);
        if (!QFile::exists(path))
            continue; // the database's side files exist only while it is open
        EXPECT_EQ(QFile::permissions(path) &
                      ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                  QFile::Permissions())
            << name << " can be read by others";
    }
    EXPECT_TRUE(QFile::exists(m_work.filePath("data/orvo/orvo-client/orvo-client.log")));
}

// A server whose port speaks TLS only: the client that trusts its authority logs in and queries; a client
// speaking plain text there, or trusting another authority, is told why and stops with an error.
TEST_F(EndToEndTest, OverTlsOnlyAClientTrustingTheServersAuthorityGetsIn) {
    const orvo::test::TestCertificates certificates = orvo::test::MakeTestCertificates("IP:127.0.0.1");
    const QString authority = writeFile(m_work.filePath("ca.pem"), certificates.authorityPem);
    const QString stranger = writeFile(m_work.filePath("other-ca.pem"),
                                       orvo::test::MakeTestCertificates("IP:127.0.0.1").authorityPem);
    CounterServerProcess tlsServer;
    std::string error;
    ASSERT_TRUE(
        tlsServer.Start(m_work.filePath("tls.db"), error,
                        {"--tls-cert", writeFile(m_work.filePath("cert.pem"), certificates.certificatePem),
                         "--tls-key", writeFile(m_work.filePath("key.pem"), certificates.keyPem)}))
        << error;

    const ClientRun tls = runClient(serverArgs(tlsServer.port) + QStringList{"--tls-ca", authority},
                                    "open 893\nok\ndump tls.json\n", "admin");
    ASSERT_EQ(tls.exitCode, 0) << tls.err.toStdString();
    EXPECT_GT(control(window(readDump("tls.json"), 9000), "L0").value("rows").toArray().size(), 0);
    EXPECT_TRUE(readFile(m_work.filePath("data/orvo/orvo-client/orvo-client.log"))
                    .contains(QString("logged in to 127.0.0.1:%1 as admin over TLS").arg(tlsServer.port)));

    const ClientRun plain = runClient(serverArgs(tlsServer.port), "open 893\n", "admin");
    EXPECT_EQ(plain.exitCode, 3);
    EXPECT_TRUE(plain.err.contains(
        QString("cannot reach the counter server at 127.0.0.1:%1").arg(tlsServer.port).toUtf8()))
        << plain.err.toStdString();
    EXPECT_TRUE(plain.err.contains("this port speaks TLS only"))
        << "the user is told the port wants TLS: " << plain.err.toStdString();
    EXPECT_LT(plain.elapsedMs, 30000);

    const ClientRun untrusted =
        runClient(serverArgs(tlsServer.port) + QStringList{"--tls-ca", stranger}, "open 893\n", "admin");
    EXPECT_EQ(untrusted.exitCode, 3);
    EXPECT_TRUE(untrusted.err.contains("the certificate of the counter server cannot be trusted"))
        << untrusted.err.toStdString();
    EXPECT_FALSE(untrusted.err.contains("admin refused")) << "no password was sent to check";
}

} // namespace
