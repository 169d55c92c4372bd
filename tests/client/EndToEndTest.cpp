// orvo-client end to end as a user works: the tour fills every tab and a detail list; conditions typed
// into the dialog reach the request; drag, resize, sort, find, export, the live refresh and a translated
// host all behave through scripts.
#include "tests/client/EndToEndFixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace orvo::e2e {
namespace {

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
                                    "dump closed.json\nexport L0 rules.xlsx\nexport L0 rules.csv\n"
                                    "dump exported.json\nexport L0 missing/rules.xlsx\n",
                                    "admin");
    // An export that writes nothing fails the script, saying so; the ones before it said what they did.
    ASSERT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("script line 14: export: nothing was written to missing/rules.xlsx: "))
        << run.err.toStdString();
    const QString exported = window(readDump("exported.json"), 9000).value("status").toString();
    EXPECT_TRUE(exported.startsWith(QString::fromUtf8("已导出 "))) << exported.toStdString();
    EXPECT_TRUE(exported.endsWith(QString::fromUtf8(" 行 → rules.csv"))) << exported.toStdString();
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
    const QString connection = window(readDump("host.json"), 0).value("connection").toString();
    EXPECT_TRUE(connection.startsWith("Connected to ")) << connection.toStdString();
    EXPECT_FALSE(connection.contains("TLS")) << "a plain connection is not said to be encrypted";
}

// The live refresh key of the module's section: the current tab is asked again on that interval.
TEST_F(EndToEndTest, TheLiveRefreshKeyQueriesTheCurrentTabAgain) {
    QFile config(m_work.filePath("client.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[EXTORDERQUERY]\nRefreshSeconds = 1\nLive = no\n");
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

} // namespace
} // namespace orvo::e2e
