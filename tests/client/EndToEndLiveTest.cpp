// The live book end to end: a change another process commits to the server's database reaches the open
// query window through the changes request, merged in place and marked.
#include "tests/client/EndToEndFixture.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

namespace orvo::e2e {
namespace {

constexpr int kPolls = 40; // dumps 100 ms apart: four refreshes of one second

int columnOf(const QJsonObject& list, const QString& name) {
    const QJsonArray columns = list.value("columns").toArray();
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).toString() == name)
            return i;
    return -1;
}

// A dump the client may still be writing: read again until it parses (or the time is up).
QJsonObject readWhole(const QString& path, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
            if (document.isObject())
                return document.object();
        }
        QThread::msleep(20);
    }
    return {};
}

// One committed UPDATE on its own connection, as another program writing to the database does.
bool commitUpdate(const QString& dbPath, const std::string& sql, std::string& error) {
    sqlite3* db = nullptr;
    bool done =
        sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    if (done) {
        sqlite3_busy_timeout(db, 5000);
        done =
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK && sqlite3_changes(db) == 1;
    }
    if (!done)
        error = db ? sqlite3_errmsg(db) : "cannot open the database";
    sqlite3_close(db);
    return done;
}

// With RefreshSeconds = 1 and Live = yes the window asks only for changes (16500, no second full
// 16476), and a rule another process changed shows its new value, tinted, within a refresh or two.
TEST_F(EndToEndTest, AChangeCommittedElsewhereReachesTheLiveWindowMarked) {
    const QString dbPath = m_work.filePath("live.db");
    CounterServerProcess server;
    std::string error;
    ASSERT_TRUE(server.Start(dbPath, error)) << error;
    const QString config =
        writeFile(m_work.filePath("live.ini"), "[EXTORDERQUERY]\nRefreshSeconds = 1\nLive = yes\n");

    QString script = "open 893\nok\ndump ready.json\n";
    for (int i = 0; i < kPolls; ++i)
        script += QString("wait 100\ndump poll-%1.json\n").arg(i, 2, 10, QChar('0'));

    QString serial;
    qint64 committedAt = 0;
    const ClientRun run =
        runClient(serverArgs(server.port) + QStringList{"--config", config, "--trace", "trace.jsonl"}, script,
                  "admin", [&](QProcess&) {
                      const QJsonObject list =
                          control(window(readWhole(m_work.filePath("ready.json"), 60000), 9000), "L0");
                      const QJsonArray first = list.value("rows").toArray().at(0).toArray();
                      serial = first.at(columnOf(list, QString::fromUtf8("流水号"))).toString();
                      ASSERT_FALSE(serial.isEmpty()) << "no rule on the first tab to change";
                      committedAt = QDateTime::currentMSecsSinceEpoch();
                      ASSERT_TRUE(commitUpdate(
                          dbPath, "UPDATE rules SET lots = 777 WHERE lsh = " + serial.toStdString(), error))
                          << error;
                  });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_GT(committedAt, 0);

    int seenAt = -1;
    for (int i = 0; i < kPolls && seenAt < 0; ++i) {
        const QString name = QString("poll-%1.json").arg(i, 2, 10, QChar('0'));
        const QJsonObject list = control(window(readDump(name), 9000), "L0");
        const QJsonArray rows = list.value("rows").toArray();
        const int serialColumn = columnOf(list, QString::fromUtf8("流水号"));
        const int lotsColumn = columnOf(list, QString::fromUtf8("委手"));
        for (int row = 0; row < rows.size(); ++row) {
            const QJsonArray values = rows.at(row).toArray();
            if (values.at(serialColumn).toString() != serial || values.at(lotsColumn).toString() != "777")
                continue;
            seenAt = i;
            EXPECT_TRUE(list.value("changedRows").toArray().contains(row)) << name.toStdString();
            EXPECT_TRUE(
                window(readDump(name), 9000).value("status").toString().contains(QString::fromUtf8("实时")));
            const qint64 latency =
                QFileInfo(m_work.filePath(name)).lastModified().toMSecsSinceEpoch() - committedAt;
            std::printf(
                "[ measured ] the change showed in the dump %lld ms after its commit (RefreshSeconds 1)\n",
                static_cast<long long>(latency));
            RecordProperty("latency_ms", static_cast<int>(latency));
        }
    }
    EXPECT_GE(seenAt, 0) << "rule " << serial.toStdString() << " never showed its new lots in " << kPolls
                         << " dumps 100 ms apart";

    const QString trace = readFile(m_work.filePath("trace.jsonl"));
    EXPECT_EQ(trace.count("{\"request\": 16476,"), 1) << "only the confirmed conditions ran the full query";
    EXPECT_GE(trace.count("{\"request\": 16500,"), 2) << "every refresh asked for the changes";
}

} // namespace
} // namespace orvo::e2e
