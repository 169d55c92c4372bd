// orvo-client end to end when things go wrong: bad passwords, a server that is not there or dies
// mid-session, bad scripts and settings all end with a clear message and an exit code, never a hang;
// the embedded demo server and TLS to a real server.
#include "tests/client/EndToEndFixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace orvo::e2e {
namespace {

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
    // The address once, then the system's reason.
    EXPECT_TRUE(run.err.contains(
        QString("cannot reach the counter server at 127.0.0.1:%1: Connection refused\n").arg(port).toUtf8()))
        << run.err.toStdString();
    EXPECT_LT(run.elapsedMs, 30000);
}

// Under a Chinese locale the failure reads in Chinese, in the query window and over it; the log stays
// English and keeps the function number.
TEST_F(EndToEndTest, AServerThatDiesIsShownAsAFailureNotAnEmptyList) {
    m_locale = "zh_CN.UTF-8";
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
    const QString status = window(after, 9000).value("status").toString();
    EXPECT_TRUE(
        status.startsWith(QString::fromUtf8("查询失败: 无法连接柜台服务器 127.0.0.1:%1：").arg(own.port)))
        << status.toStdString();
    const QString failure = window(after, 0).value("failure").toString();
    EXPECT_TRUE(
        failure.contains(QString::fromUtf8(" 请求失败：无法连接柜台服务器 127.0.0.1:%1：").arg(own.port)))
        << failure.toStdString();
    for (const QString& shown : {status, failure})
        EXPECT_FALSE(shown.contains("16477") || shown.contains("cannot") || shown.contains("refused"))
            << shown.toStdString();
    EXPECT_EQ(window(after, 0).value("notice").toString(), failure) << "told over the query window too";
    EXPECT_TRUE(run.err.contains("request 16477 failed")) << run.err.toStdString();
}

// Two servers on one database; the first dies between two queries: the second query is answered by the
// other server, with no failure shown, and the status bar names the server in use.
TEST_F(EndToEndTest, WhenItsServerDiesTheClientGoesOnWithTheNextOfItsList) {
    CounterServerProcess first, second;
    std::string error;
    ASSERT_TRUE(first.Start(m_work.filePath("shared.db"), error)) << error;
    ASSERT_TRUE(second.Start(m_work.filePath("shared.db"), error)) << error;
    const QStringList args{"--server", QString("127.0.0.1:%1,127.0.0.1:%2").arg(first.port).arg(second.port),
                           "--operator", "admin"};
    const QString script = "open 893\nok\ndump before.json\nwait 1500\ntab 1\ndump after.json\n";
    const ClientRun run = runClient(args, script, "admin", [&](QProcess& client) {
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(m_work.filePath("before.json")) && timer.elapsed() < 30000 &&
               client.state() == QProcess::Running)
            client.waitForFinished(100);
        first.Kill();
    });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject before = readDump("before.json");
    const QJsonObject after = readDump("after.json");
    EXPECT_TRUE(window(before, 0).value("connection").toString().contains(QString::number(first.port)));
    EXPECT_TRUE(window(after, 0).value("connection").toString().contains(QString::number(second.port)))
        << window(after, 0).value("connection").toString().toStdString();
    EXPECT_TRUE(
        window(after, 0).value("title").toString().endsWith(QString("@127.0.0.1:%1").arg(second.port)))
        << "the title names the server in use: " << window(after, 0).value("title").toString().toStdString();
    EXPECT_GT(control(window(after, 9000), "L1").value("rows").toArray().size(), 0);
    EXPECT_EQ(window(after, 0).value("failure").toString(), QString()) << run.err.toStdString();
    EXPECT_EQ(window(after, 0).value("notice").toString(), QString());
    EXPECT_TRUE(run.err.contains(QString("trying 127.0.0.1:%1").arg(second.port).toUtf8()))
        << run.err.toStdString();
}

// Both servers of the list lost under a live list: its rows stay, marked out of date, with each server
// tried named once with its reason, in Chinese under a Chinese locale.
TEST_F(EndToEndTest, WhenEveryServerIsLostTheLiveListKeepsItsRowsMarkedOutOfDate) {
    m_locale = "zh_CN.UTF-8";
    CounterServerProcess first, second;
    std::string error;
    ASSERT_TRUE(first.Start(m_work.filePath("shared.db"), error)) << error;
    ASSERT_TRUE(second.Start(m_work.filePath("shared.db"), error)) << error;
    const QStringList args{
        "--server",   QString("127.0.0.1:%1,127.0.0.1:%2").arg(first.port).arg(second.port),
        "--operator", "admin",
        "--refresh",  "1"};
    const QString script = "open 893\nok\ndump before.json\nwait 4000\ndump after.json\n";
    const ClientRun run = runClient(args, script, "admin", [&](QProcess& client) {
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(m_work.filePath("before.json")) && timer.elapsed() < 30000 &&
               client.state() == QProcess::Running)
            client.waitForFinished(100);
        first.Kill();
        second.Kill();
    });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject before = control(window(readDump("before.json"), 9000), "L0");
    const QJsonObject afterWindow = window(readDump("after.json"), 9000);
    const QJsonObject after = control(afterWindow, "L0");
    ASSERT_GT(before.value("rows").toArray().size(), 0);
    EXPECT_EQ(after.value("rows").toArray(), before.value("rows").toArray()) << "the rows of before stay";
    EXPECT_FALSE(before.value("stale").toBool());
    EXPECT_TRUE(after.value("stale").toBool());
    const QString status = afterWindow.value("status").toString();
    EXPECT_TRUE(status.startsWith(QString::fromUtf8("数据已过时，最后更新 "))) << status.toStdString();
    for (const int port : {first.port, second.port})
        EXPECT_TRUE(status.contains(QString::fromUtf8("127.0.0.1:%1 连接被拒绝").arg(port)))
            << status.toStdString();
    EXPECT_FALSE(status.contains("refused")) << status.toStdString();
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
    EXPECT_TRUE(window(readDump("tls.json"), 0).value("connection").toString().endsWith(" over TLS"))
        << "the status bar says the connection is encrypted";
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
} // namespace orvo::e2e
