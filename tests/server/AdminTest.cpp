// The administration of a counter database: operators through the real program, import and export,
// schema migration, calendar dates and the log's escaping.
#include "CounterdProcess.h"
#include "ServerFixture.h"

#include "server/CounterServer.h"
#include "server/admin/AdminStore.h"
#include "server/admin/TableTransfer.h"
#include "server/common/Dates.h"
#include "server/common/LogRepeats.h"
#include "server/common/LogText.h"
#include "server/common/ServerLog.h"
#include "server/demo/PrepareStore.h"
#include "server/store/SchemaTables.h"
#include "server/store/sqlite/Schema.h"
#include "server/store/sqlite/SqliteOperators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace orvo::test {
namespace {

long long count(server::Db& db, const std::string& sql) {
    server::Statement s;
    std::string error;
    if (!db.prepare(sql, s, error) || s.step() != SQLITE_ROW) {
        ADD_FAILURE() << sql << ": " << error;
        return -1;
    }
    return s.integer(0);
}

TEST(Admin, OperatorRoundTripThroughTheProgramAndARunningServer) {
    TempDir dir;
    const std::string db = dir.path + "/ops.db";
    server::ServerOptions options;
    options.dbPath = db;
    options.log = [](std::string_view) {};

    // A database that is not there is refused, naming it; migrate makes it.
    ProgramRun add = counterd({"operator", "add", "alice", "--db", db}, "first\n");
    EXPECT_EQ(add.code, 1);
    EXPECT_NE(add.err.find(db + ": no such database"), std::string::npos) << add.err;
    const ProgramRun created = counterd({"migrate", "--if-needed", "--db", db});
    ASSERT_EQ(created.code, 0);
    EXPECT_NE(
        created.err.find("created schema version " + std::to_string(server::kSchemaVersion) + " in " + db),
        std::string::npos)
        << "said also with --if-needed: " << created.err;
    EXPECT_EQ(counterd({"migrate", "--if-needed", "--db", db}).err, "") << "quiet when current";
    EXPECT_NE(counterd({"migrate", "--db", db})
                  .err.find("at schema version " + std::to_string(server::kSchemaVersion) + " already"),
              std::string::npos);
    add = counterd({"operator", "add", "alice", "--db", db, "--branches", "9999", "--groups", "9999"},
                   "first\n");
    ASSERT_EQ(add.code, 0) << add.err;
    EXPECT_NE(counterd({"operator", "add", "alice", "--db", db}, "again\n").code, 0) << "an existing name";
    EXPECT_NE(
        counterd({"operator", "grant", "alice", "--db", db, "--branches", "0101", "--groups", "9999"}).code,
        0)
        << "a branch the database does not know";

    server::CounterServer running(options);
    std::string error;
    const int port = running.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;
    auto canLogin = [port](const std::string& password) {
        RawClient c;
        return c.connect(port) && c.login("alice", password);
    };
    EXPECT_TRUE(canLogin("first"));
    EXPECT_FALSE(canLogin("wrong"));

    ASSERT_EQ(counterd({"operator", "disable", "alice", "--db", db}).code, 0);
    EXPECT_FALSE(canLogin("first")) << "a disabled operator is refused on the running server";
    ASSERT_EQ(counterd({"operator", "enable", "alice", "--db", db}).code, 0);
    EXPECT_TRUE(canLogin("first"));

    ASSERT_EQ(counterd({"operator", "passwd", "alice", "--db", db}, "second\n").code, 0);
    EXPECT_FALSE(canLogin("first")) << "the old password is refused";
    EXPECT_TRUE(canLogin("second"));
    EXPECT_NE(counterd({"operator", "passwd", "nobody", "--db", db}, "x\n").code, 0);
    EXPECT_NE(counterd({"operator", "passwd", "alice", "--db", db}, "").code, 0) << "no password given";

    const ProgramRun list = counterd({"operator", "list", "--db", db});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("alice"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(server::localDate()), std::string::npos) << "last login: " << list.out;
    EXPECT_EQ(list.out.find("argon2"), std::string::npos) << "never a hash";
    running.stop();
}

// Writes text to a file in dir and returns its path.
std::string file(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(Admin, AnImportWithABadRowChangesNothingAndSaysWhere) {
    TempDir dir;
    const std::string path = dir.path + "/import.db";
    std::string error;
    ASSERT_TRUE(server::prepareStore(path, nullptr, error)) << error;
    server::Db db;
    ASSERT_TRUE(db.open(path, false, error));
    size_t rows = 0;
    const server::admin::ImportOptions utf8;
    ASSERT_TRUE(server::admin::importTable(
        db, "YYB", "yyb.csv", "\xEF\xBB\xBFJGBM,JGJC,JGLB\n0101,\"一部, 总\",1\n0102,二部,1\r\n\r\n", utf8,
        rows, error))
        << error;
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM YYB WHERE JGJC = '一部, 总'"), 1);

    const std::string header = "khh,name,yyb,branch\n";
    const std::string good = "010100000001,张三,0101,0101\n";
    struct Bad {
        std::string row, where;
    };
    const Bad bads[] = {
        {"010100000002,李四,0101\n", "c.csv:3:4: "},                             // a field short
        {"010100000002,李四,0199,0101\n", "c.csv:3:3: column yyb"},              // unknown organisation
        {"010100000001,李四,0101,0101\n", "c.csv:3:1: column khh"},              // duplicate key
        {"010100000002,\xff\xfe,0101,0101\n", "c.csv:3:2: column name"},         // not UTF-8
        {"010100000002,\xF0\x9F\x98\x80,0101,0101\n", "c.csv:3:2: column name"}, // not in GBK
    };
    for (const Bad& bad : bads) {
        EXPECT_FALSE(
            server::admin::importTable(db, "customers", "c.csv", header + good + bad.row, utf8, rows, error));
        EXPECT_EQ(error.rfind(bad.where, 0), 0u) << error;
        EXPECT_EQ(count(db, "SELECT COUNT(*) FROM customers"), 0) << bad.row;
    }
    // A rule whose validity date does not exist, in a GBK file read as such, through the program.
    ASSERT_TRUE(server::admin::importTable(db, "customers", "c.csv", header + good, utf8, rows, error))
        << error;
    const std::string rules = file(dir, "rules.csv",
                                   "lsh,kind,khh,set_date,valid_date,status_text\n"
                                   "1,3,010100000001,2026.02.27,2026.02.28,\xD3\xD0\xD0\xA7\n"
                                   "2,3,010100000001,2026.02.27,2026.02.30,\xD3\xD0\xD0\xA7\n");
    ProgramRun run = counterd({"import", "rules", rules, "--db", path, "--encoding", "gbk"});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find(rules + ":3:5: column valid_date"), std::string::npos) << run.err;
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM rules"), 0);
    file(dir, "rules.csv",
         "lsh,kind,khh,set_date,valid_date,status_text\n1,3,010100000001,2026.02.27,2026.02.28,"
         "\xD3\xD0\xD0\xA7\n");
    run = counterd({"import", "rules", rules, "--db", path, "--encoding", "gbk"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM rules WHERE status_text = '有效'"), 1);

    // --replace may renew customers that rules refer to, but not drop one of them.
    server::admin::ImportOptions replace;
    replace.replace = true;
    EXPECT_TRUE(server::admin::importTable(db, "customers", "c.csv", header + good, replace, rows, error))
        << error;
    EXPECT_FALSE(server::admin::importTable(db, "customers", "c.csv",
                                            header + "010100000002,李四,0101,0101\n", replace, rows, error));
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM customers WHERE khh = '010100000001'"), 1) << error;
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM customers"), 1);
}

// Texts over their column's length are refused in GBK bytes, and one run names every bad row of the
// file, the first hundred in full, while importing nothing.
TEST(Admin, AnImportNamesEveryBadRowAndRefusesTextsOverTheirLength) {
    TempDir dir;
    const std::string path = dir.path + "/limits.db";
    std::string error;
    ASSERT_TRUE(server::prepareStore(path, nullptr, error)) << error;
    server::Db db;
    ASSERT_TRUE(db.open(path, false, error));
    size_t rows = 0;
    ASSERT_TRUE(
        server::admin::importTable(db, "YYB", "y.csv", "JGBM,JGJC,JGLB\n0101,一部,1\n", {}, rows, error))
        << error;

    std::string csv = "khh,name,yyb,branch\n"
                      "010100000001,张三,0101,0101\n"
                      "010100000002,张三丰张三丰张三丰,0101,0101\n" // 18 bytes in GBK, 27 in UTF-8
                      "0101000000031,李四,0101,0101\n";
    for (int i = 0; i < 105; ++i)
        csv += "0101000010" + std::to_string(10 + i % 90) + ",王五,0199,0101\n";
    EXPECT_FALSE(server::admin::importTable(db, "customers", "c.csv", csv, {}, rows, error));
    EXPECT_EQ(error.rfind("c.csv:3:2: column name: too long (18 bytes, at most 16)\n"
                          "c.csv:4:1: column khh: too long (13 bytes, at most 12)\n"
                          "c.csv:5:3: column yyb: '0199' is not in YYB.JGBM\n",
                          0),
              0u)
        << error.substr(0, 400);
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 100) << "100 rows, then the rest counted";
    EXPECT_TRUE(error.ends_with("\nand 7 more")) << error.substr(error.size() - 100);
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM customers"), 0);

    // A contract code of 5,000 bytes, through the program: every line of the report is the program's.
    ASSERT_TRUE(server::admin::importTable(db, "customers", "c.csv",
                                           "khh,name,yyb,branch\n1,张三,0101,0101\n", {}, rows, error))
        << error;
    const std::string rules = file(dir, "rules.csv",
                                   "lsh,kind,khh,set_date,valid_date,hydm\n"
                                   "1,3,1,2026.02.27,2026.02.28," +
                                       std::string(5000, 'a') +
                                       "\n"
                                       "2,3,1,2026.02.27,2026.02.28,ag2612\n"
                                       "3,3,1,2026.02.27,2026.02.30,ag2612\n");
    const ProgramRun run = counterd({"import", "rules", rules, "--db", path});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("orvo-counterd: " + rules +
                           ":2:6: column hydm: too long (5000 bytes, at most 16)\n" +
                           "orvo-counterd: " + rules + ":4:5: column valid_date: not a calendar date"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM rules"), 0);
}

// The schema's description is what a database holds once every migration step has run: the same
// columns with their types, defaults and keys, and the same indexes (a fresh database is made from the
// description's first version and the steps, so this also holds the steps to the description).
TEST(Admin, TheSchemaDescriptionIsWhatAPreparedDatabaseHolds) {
    TempDir dir;
    const std::string path = dir.path + "/described.db";
    std::string error;
    ASSERT_TRUE(server::prepareStore(path, nullptr, error)) << error;
    server::Db db;
    ASSERT_TRUE(db.open(path, true, error));
    namespace schema = server::schema;
    for (const schema::TableSpec& table : schema::tables()) {
        std::string described, held;
        for (const schema::ColumnSpec& c : table.columns)
            described += std::string(c.name) +
                         (c.type == schema::ColumnType::Integer ? " INTEGER " : " TEXT ") +
                         (c.primaryKey ? "key " : "") + std::string(c.defaultSql) + ";";
        server::Statement columns;
        ASSERT_TRUE(db.prepare("SELECT name, type, pk, coalesce(dflt_value, '') FROM pragma_table_info(?)",
                               columns, error));
        columns.bind(1, table.name);
        while (columns.step() == SQLITE_ROW)
            held += std::string(columns.text(0)) + " " + std::string(columns.text(1)) + " " +
                    (columns.integer(2) ? "key " : "") + std::string(columns.text(3)) + ";";
        EXPECT_EQ(held, described) << table.name;

        std::set<std::string> describedIndexes, heldIndexes;
        for (const schema::IndexSpec& index : table.indexes)
            if (index.until == 0)
                describedIndexes.insert(std::string(index.name) + "(" + std::string(index.columns) + ")");
        server::Statement indexes;
        ASSERT_TRUE(db.prepare("SELECT l.name, group_concat(i.name, ', ') FROM pragma_index_list(?) l, "
                               "pragma_index_info(l.name) i WHERE l.origin = 'c' GROUP BY l.name",
                               indexes, error));
        indexes.bind(1, table.name);
        while (indexes.step() == SQLITE_ROW)
            heldIndexes.insert(std::string(indexes.text(0)) + "(" + std::string(indexes.text(1)) + ")");
        EXPECT_EQ(heldIndexes, describedIndexes) << table.name;
    }
}

TEST(Admin, ExportingEveryTableAndImportingThemGivesTheSameDatabase) {
    TempDir dir;
    const std::string copyPath = dir.path + "/copy.db";
    std::string error;
    ASSERT_TRUE(server::prepareStore(copyPath, nullptr, error)) << error;
    server::Db source, copy;
    ASSERT_TRUE(source.open(demo().dbPath, true, error)) << error;
    ASSERT_TRUE(copy.open(copyPath, false, error)) << error;
    for (const std::string& table : server::admin::importableTables()) {
        std::string csv;
        size_t rows = 0;
        ASSERT_TRUE(server::admin::exportTable(source, table, csv, error)) << table << ": " << error;
        if (table == "rules") {
            EXPECT_EQ(csv.substr(0, csv.find('\n')).find("rev"), std::string::npos) << csv.substr(0, 200);
        }
        ASSERT_TRUE(server::admin::importTable(copy, table, table + ".csv", csv, {}, rows, error)) << error;
    }
    ASSERT_TRUE(copy.exec(("ATTACH '" + demo().dbPath + "' AS src").c_str(), error)) << error;
    for (const std::string& table : server::admin::importableTables()) {
        server::admin::TableInfo info;
        ASSERT_TRUE(server::admin::describeTable(copy, table, info, error));
        // Values and their storage types, row by row in stored order; a rule's revision is the database's
        // own and does not travel.
        std::string columns = "rowid";
        for (const auto& c : info.columns)
            columns += ", " + c.name + ", typeof(" + c.name + ")";
        const std::string a = "SELECT " + columns + " FROM main." + table;
        const std::string b = "SELECT " + columns + " FROM src." + table;
        EXPECT_EQ(count(copy, "SELECT COUNT(*) FROM (" + a + " EXCEPT " + b + ")"), 0) << table;
        EXPECT_EQ(count(copy, "SELECT COUNT(*) FROM (" + b + " EXCEPT " + a + ")"), 0) << table;
        EXPECT_EQ(count(copy, "SELECT COUNT(*) FROM main." + table),
                  count(copy, "SELECT COUNT(*) FROM src." + table));
    }
    EXPECT_GT(count(copy, "SELECT COUNT(*) FROM main.rules"), 100);
}

TEST(Admin, ADatabaseOfTheFirstSchemaIsRefusedUntilMigratedAndKeepsItsData) {
    TempDir dir;
    const std::string path = dir.path + "/v1.db";
    std::string error;
    {
        std::stringstream sql;
        sql << std::ifstream(ORVO_TEST_DATA "/schema-v1.sql").rdbuf();
        ASSERT_FALSE(sql.str().empty());
        server::Db db;
        ASSERT_TRUE(db.open(path, false, error));
        ASSERT_TRUE(db.exec(sql.str().c_str(), error)) << error;
        ASSERT_TRUE(server::storeOperator(db, "old", "pw", "9999", "9999", true, error)) << error;
    }
    EXPECT_FALSE(server::prepareStore(path, nullptr, error));
    EXPECT_NE(error.find("migrate"), std::string::npos) << error;

    ProgramRun run = counterd({"migrate", "--if-needed", "--db", path});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("migrated from schema version 1 to " + std::to_string(server::kSchemaVersion)),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << "the steps are in the file itself";
    ASSERT_TRUE(server::prepareStore(path, nullptr, error)) << error;
    server::Db db;
    ASSERT_TRUE(db.open(path, false, error));
    int version = 0;
    ASSERT_TRUE(server::readSchemaVersion(db, version, error));
    EXPECT_EQ(version, server::kSchemaVersion);
    server::Operator op;
    EXPECT_TRUE(server::authenticate(db, "old", "pw", op, error)) << "kept and enabled " << error;

    // The migrated schema is the one a fresh database gets.
    const std::string freshPath = dir.path + "/fresh.db";
    ASSERT_TRUE(server::prepareStore(freshPath, nullptr, error));
    ASSERT_TRUE(db.exec(("ATTACH '" + freshPath + "' AS fresh").c_str(), error));
    const std::string mine =
        "SELECT m.name, p.name, p.type, p.\"notnull\", p.dflt_value FROM main.sqlite_master m, "
        "pragma_table_info(m.name, 'main') p WHERE m.type = 'table'";
    const std::string theirs =
        "SELECT m.name, p.name, p.type, p.\"notnull\", p.dflt_value FROM fresh.sqlite_master m, "
        "pragma_table_info(m.name, 'fresh') p WHERE m.type = 'table'";
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM (" + mine + " EXCEPT " + theirs + ")"), 0);
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM (" + theirs + " EXCEPT " + mine + ")"), 0);
    db.close();
    EXPECT_EQ(counterd({"migrate", "--db", path}).code, 0) << "a current database is left as it is";
}

TEST(Admin, OnlyRealCalendarDatesAreAccepted) {
    long days = 0;
    EXPECT_TRUE(server::parseDate("2024.02.29", days));
    EXPECT_TRUE(server::parseDate("2000.02.29", days));
    EXPECT_TRUE(server::parseDate("2026.12.31", days));
    for (const char* bad :
         {"2026.02.29", "1900.02.29", "2026.02.30", "2026.04.31", "2026.13.01", "0000.01.01"})
        EXPECT_FALSE(server::parseDate(bad, days)) << bad;

    RawClient c;
    connectAs(c, "admin");
    const Reply orders = c.call(16171, {{605, "x"}, {1855, "1"}, {618, "2026.02.30"}, {590, "2026.03.01"}});
    EXPECT_EQ(orders.status, 1) << utf8(orders.text);
    const Reply rules = c.call(16477, {{9020, "1"}, {618, "2026.02.01"}, {590, "2026.02.31"}});
    EXPECT_EQ(rules.status, 1) << utf8(rules.text);

    const ProgramRun run =
        counterd({"--listen", "127.0.0.1:0", "--db", "/nonexistent/x.db", "--date", "2026.02.31"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("2026.02.31"), std::string::npos) << run.err;
}

TEST(Admin, TheShippedConfigurationIsReadAndTheCommandLineWins) {
    TempDir dir;
    // Every key of the installed example is an option (an unknown key would be refused).
    const std::string given = dir.path + "/given.db";
    ASSERT_EQ(counterd({"migrate", "--db", given}).code, 0);
    ProgramRun run = counterd(
        {"--config", ORVO_SOURCE_DIR "/packaging/orvo-counterd.conf", "--db", given, "operator", "list"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(given));
    // A database named only by the file is the one used.
    const std::string config =
        file(dir, "c.toml", "# comment\ndb = \"" + dir.path + "/from-file.db\"\nlog-level = \"warn\"\n");
    run = counterd({"--config", config, "migrate"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(dir.path + "/from-file.db"));
    EXPECT_NE(counterd({"--config", file(dir, "bad.ini", "no-such-option = 1\n"), "tables"}).code, 0);
}

TEST(Admin, LogLinesCarryTimeAndLevelAndNeverRawControlBytes) {
    const std::string line =
        server::formatLogLine(server::LogLevel::Warn, "op=a\nfake 2026 ERROR \x1b[31m\\");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
    EXPECT_NE(line.find(" WARN  op=a\\x0afake 2026 ERROR \\x1b[31m\\"), std::string::npos) << line;
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[10], 'T');
    // Text from the wire, escaped where it joins the line, is not escaped twice.
    const std::string wire = server::escapeText("name\n");
    EXPECT_NE(server::formatLogLine(server::LogLevel::Warn, wire).find("name\\x0A"), std::string::npos);
    // For the journal: the syslog priority, no time.
    server::setLogFormat(server::LogFormat::Journal);
    EXPECT_EQ(server::formatLogLine(server::LogLevel::Error, "db down"), "<3>db down");
    EXPECT_EQ(server::formatLogLine(server::LogLevel::Warn, "x"), "<4>x");
    server::setLogFormat(server::LogFormat::Plain);
}

TEST(Admin, RepeatedWarningsAreFoldedPerAddressAndMinute) {
    using Clock = server::LogRepeats::Clock;
    server::LogRepeats repeats;
    std::vector<server::LogRepeats::Summary> due;
    const Clock::time_point t0 = Clock::now();
    EXPECT_TRUE(repeats.admit("connection 10.0.0.1:5000 closed: login time-out", t0, due));
    EXPECT_FALSE(repeats.admit("connection 10.0.0.1:5001 closed: login time-out", t0, due));
    EXPECT_FALSE(repeats.admit("connection 10.0.0.1:5002 closed: login time-out", t0, due));
    EXPECT_TRUE(repeats.admit("connection 10.0.0.2:5000 closed: login time-out", t0, due));
    EXPECT_TRUE(
        repeats.admit("op=- fn=1 rows=0 ms=3 status=1 (refused) peer=10.0.0.1:7 name=\"a\"", t0, due));
    EXPECT_FALSE(
        repeats.admit("op=- fn=1 rows=0 ms=14 status=1 (refused) peer=10.0.0.1:8 name=\"a\"", t0, due));
    const server::LogLevel error = server::LogLevel::Error;
    EXPECT_TRUE(repeats.admit("database unavailable: connection refused", t0, due, error));
    EXPECT_FALSE(repeats.admit("database unavailable: connection refused", t0, due, error));
    EXPECT_TRUE(due.empty());
    repeats.expire(t0 + std::chrono::seconds(61), due);
    ASSERT_EQ(due.size(), 3u);
    std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.text < b.text; });
    EXPECT_EQ(due[0].text,
              "connection 10.0.0.1:5000 closed: login time-out (2 more like it in the last minute)");
    EXPECT_EQ(due[0].level, server::LogLevel::Warn);
    EXPECT_EQ(due[1].level, error) << "an error's count is an error too (journalctl -p err sees it): "
                                   << due[1].text;
    EXPECT_TRUE(
        repeats.admit("connection 10.0.0.1:5003 closed: login time-out", t0 + std::chrono::seconds(62), due));
}

} // namespace
} // namespace orvo::test
