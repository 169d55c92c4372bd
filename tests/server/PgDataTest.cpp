// The table and maintenance subcommands through the real program on a PostgreSQL database: exports
// byte for byte the same as from SQLite, imports all or nothing, migrate and backup.
#include "CounterdProcess.h"
#include "PgFreshDatabase.h"
#include "ServerFixture.h"

#include "server/admin/AdminStore.h"
#include "server/demo/PgSeed.h"
#include "server/demo/PrepareStore.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/sqlite/Schema.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvo::test {
namespace {

class PgData : public PgClusterTest {
protected:
    // A fresh, empty database of the cluster; its connection string.
    std::string freshDatabase(const std::string& name) { return freshPgDatabase(cluster(), name); }

    static std::string scalarOn(const std::string& conninfo, const char* sql) {
        std::string error;
        server::pg::PgConnection conn;
        if (!conn.open(conninfo, error))
            return "cannot connect: " + error;
        const server::pg::PgResult got = conn.query(sql, server::pg::PgParams(), error);
        return got && got.rows() == 1 ? std::string(got.row(0).text(0)) : "failed: " + error;
    }
};

std::string readAll(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string exportPath(const std::string& dir, const char* side, const std::string& table) {
    return dir + "/" + side + "-" + table + ".csv";
}

// Every table exported from both back-ends, the rows of both databases compared through their CSV.
void expectSameExports(const std::string& dir, const std::string& sqlite, const std::string& pg,
                       const std::string& when) {
    for (const std::string& table : server::admin::importableTables()) {
        const std::string left = exportPath(dir, "sqlite", table), right = exportPath(dir, "pg", table);
        for (const auto& [db, file] : {std::pair{sqlite, left}, std::pair{pg, right}}) {
            std::remove(file.c_str());
            const ProgramRun run = counterd({"export", table, file, "--db", db});
            ASSERT_EQ(run.code, 0) << when << ": " << table << ": " << run.err;
        }
        const std::string expected = readAll(left);
        EXPECT_NE(expected.find('\n'), std::string::npos) << table;
        EXPECT_TRUE(expected == readAll(right)) << when << ": export of " << table << " differs";
    }
}

TEST_F(PgData, ExportsMatchSqliteByteForByteAndImportsAreAllOrNothing) {
    TempDir dir;
    std::string error;
    server::DemoOptions demo;
    demo.today = kToday;
    const std::string sqlite = dir.path + "/counter.db";
    ASSERT_TRUE(server::prepareStore(sqlite, &demo, error)) << error;
    const std::string pg = freshDatabase("data_conformance");
    ASSERT_TRUE(server::pg::preparePgStore(pg, &demo, error)) << error;
    const ProgramRun tables = counterd({"tables", "--db", pg});
    ASSERT_EQ(tables.code, 0) << tables.err;
    EXPECT_EQ(tables.out.substr(0, 8), "YYB\nKHQZ");
    expectSameExports(dir.path, sqlite, pg, "demo data");

    // Rows the database refuses, in a file large enough to be sent in several batches: the error names
    // the row's line and column, and nothing changes, --replace or not.
    const std::string rules = readAll(dir.path + "/sqlite-rules.csv");
    const size_t header = rules.find('\n') + 1;
    const long lines = std::count(rules.begin(), rules.end(), '\n');
    const std::string customer = scalarOn(pg, "SELECT khh FROM customers ORDER BY khh LIMIT 1");
    const std::string before = scalarOn(pg, "SELECT count(*) || '/' || sum(lsh) FROM rules");
    const std::string bad = dir.path + "/bad.csv";
    std::string batches = "lsh,kind,khh,set_date,valid_date\n";
    for (int i = 1; i <= 2500; ++i)
        batches +=
            std::to_string(900000 + (i < 2500 ? i : 1)) + ",3," + customer + ",2026.12.07,2026.12.08\n";
    writeAll(bad, batches); // the last row repeats the serial number of the first
    for (const bool replace : {true, false}) {
        std::vector<std::string> args{"import", "rules", bad, "--db", pg};
        if (replace)
            args.push_back("--replace");
        const ProgramRun run = counterd(args);
        EXPECT_EQ(run.code, 1);
        const std::string where = bad + ":2501:1: column lsh: duplicate key";
        EXPECT_NE(run.err.find(where), std::string::npos) << where << "\n" << run.err;
        EXPECT_NE(run.err.find("nothing imported"), std::string::npos) << run.err;
        EXPECT_EQ(scalarOn(pg, "SELECT count(*) || '/' || sum(lsh) FROM rules"), before);
    }
    writeAll(bad, "kind,khh,set_date,valid_date\n3,nobody,2026.12.07,2026.12.08\n");
    ProgramRun run = counterd({"import", "rules", bad, "--db", pg});
    EXPECT_NE(run.err.find(bad + ":2:2: column khh: 'nobody' is not in customers.khh"), std::string::npos)
        << run.err;
    writeAll(bad, "kind,khh,set_date,valid_date\n3," + customer + ",2026.02.27,2026.02.30\n");
    run = counterd({"import", "rules", bad, "--db", pg});
    EXPECT_NE(run.err.find(bad + ":2:4: column valid_date: not a calendar date"), std::string::npos)
        << run.err;
    // Replacing the rules without those that orders refer to is refused at commit.
    writeAll(bad, rules.substr(0, header));
    run = counterd({"import", "rules", bad, "--db", pg, "--replace"});
    EXPECT_NE(run.err.find("rows of other tables refer to rules rows the file does not bring back"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(scalarOn(pg, "SELECT count(*) || '/' || sum(lsh) FROM rules"), before);

    // Good files are applied alike on both back-ends: an odd customer name, the whole rules table
    // replaced (orders still refer to its rows), then a GBK file that leaves the serial number to the
    // database.
    const std::string good = dir.path + "/good.csv";
    writeAll(good, rules);
    writeAll(dir.path + "/more.csv", "kind,khh,set_date,valid_date,status_text\n3," + customer +
                                         ",2026.12.07,2026.12.31,\xD3\xD0\xD0\xA7\n");
    // A name holding what COPY's text format escapes (tab, backslash, line break) and CSV quoting.
    const std::string odd = dir.path + "/odd.csv";
    writeAll(odd, "khh,name,yyb,branch\n999900000001,\"a\tb\\c\nd \"\"e\"\"\"," +
                      scalarOn(pg, "SELECT yyb || ',' || branch FROM customers ORDER BY khh LIMIT 1") + "\n");
    for (const std::string& db : {sqlite, pg}) {
        run = counterd({"import", "customers", odd, "--db", db});
        EXPECT_EQ(run.code, 0) << run.err;
        run = counterd({"import", "rules", good, "--db", db, "--replace"});
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_NE(run.err.find(std::to_string(lines - 1) + " rows imported"), std::string::npos) << run.err;
        run = counterd({"import", "rules", dir.path + "/more.csv", "--db", db, "--encoding", "gbk"});
        EXPECT_EQ(run.code, 0) << run.err;
    }
    EXPECT_EQ(scalarOn(pg, "SELECT count(*) FROM rules WHERE lsh = (SELECT max(lsh) FROM rules) AND "
                           "status_text = '有效'"),
              "1");
    expectSameExports(dir.path, sqlite, pg, "after the imports");
}

TEST_F(PgData, MigrateBringsTheFirstSchemaForwardAndBackupWritesADumpPgRestoreReads) {
    std::string error;
    const std::string fresh = freshDatabase("schema_fresh");
    ASSERT_EQ(counterd({"migrate", "--db", fresh}).code, 0) << "an empty database gets the schema";
    const std::string old = freshDatabase("schema_old");
    {
        // The first schema version: the current one without what the later steps added.
        server::pg::PgConnection conn;
        ASSERT_TRUE(conn.open(old, error)) << error;
        ASSERT_EQ(counterd({"tables", "--db", old}).code, 0);
        ASSERT_TRUE(conn.exec(
            "DROP TABLE commit_order, commit_clock; DROP FUNCTION commit_position(), commit_marked();"
            "DROP FUNCTION operators_ticket_epoch() CASCADE; ALTER TABLE operators DROP COLUMN ticket_epoch;"
            "DROP TABLE sessions, servers; DROP FUNCTION operators_touch_sessions() CASCADE;"
            "DROP TRIGGER orders_rev ON orders; DROP TRIGGER rules_gone ON rules;"
            "DROP TRIGGER rules_moved ON rules; DROP TRIGGER orders_gone ON orders;"
            "DROP TRIGGER customers_scope_update ON customers; DROP TRIGGER rules_scope_truncate ON rules;"
            "DROP TRIGGER orders_scope_truncate ON orders; DROP TRIGGER rules_notify ON rules;"
            "DROP TRIGGER orders_notify ON orders; DROP TRIGGER customers_notify ON customers;"
            "DROP FUNCTION rules_gone(); DROP FUNCTION orders_gone(); DROP FUNCTION scope_changed();"
            "DROP FUNCTION notify_changes(); DROP TABLE row_tombstones; DROP INDEX rules_kind_changes;"
            "ALTER TABLE orders DROP COLUMN rev;"
            "DROP TRIGGER rules_rev ON rules; DROP TRIGGER customers_names_update ON customers;"
            "DROP TRIGGER customers_names_delete ON customers;"
            "DROP TRIGGER customers_names_truncate ON customers;"
            "DROP FUNCTION rules_next_rev(); DROP FUNCTION customers_names_changed();"
            "DROP INDEX rules_khh, rules_kind_rev, customers_scope;"
            "ALTER TABLE rules DROP COLUMN rev; DROP TABLE rule_revision;"
            "CREATE INDEX rules_khh ON rules(khh, kind);"
            "ALTER TABLE operators DROP COLUMN enabled, DROP COLUMN last_login;"
            "UPDATE meta SET value = '1' WHERE key = 'schema_version';"
            "INSERT INTO operators(name, pwhash, branches, groups) VALUES('old', 'x', '9999', "
            "'9999')",
            error))
            << error;
    }
    ProgramRun run = counterd({"operator", "list", "--db", old});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("migrate"), std::string::npos) << run.err;
    run = counterd({"migrate", "--db", old});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("migrated from schema version 1 to " + std::to_string(server::kSchemaVersion)),
              std::string::npos)
        << run.err;
    run = counterd({"operator", "list", "--db", old});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("\nold "), std::string::npos) << "kept and enabled:\n" << run.out;
    const char* columns = "SELECT string_agg(table_name || '.' || column_name || ' ' || data_type || ' ' || "
                          "is_nullable || ' ' || coalesce(column_default, ''), ',' ORDER BY table_name, "
                          "column_name) FROM information_schema.columns WHERE table_schema = 'public'";
    EXPECT_EQ(scalarOn(old, columns), scalarOn(fresh, columns)) << "the migrated schema is a fresh one";
    run = counterd({"migrate", "--db", old});
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.err.find("at schema version"), std::string::npos) << run.err;

    TempDir dir;
    const std::string backup = dir.path + "/counter.dump";
    run = counterd({"backup", backup, "--db", old});
    ASSERT_EQ(run.code, 0) << run.err;
    struct stat info {};
    ASSERT_EQ(stat(backup.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << "the dump holds password hashes: owner only";
    const std::string list = dir.path + "/list.txt";
    const std::string restore = PgCluster::binDir() + "/pg_restore --list " + backup + " > " + list;
    ASSERT_EQ(std::system(restore.c_str()), 0);
    EXPECT_NE(readAll(list).find("TABLE DATA public operators"), std::string::npos) << readAll(list);
    run = counterd({"backup", backup, "--db", old});
    EXPECT_NE(run.err.find("never overwrites"), std::string::npos) << run.err;

    // Without pg_dump: a clear message and no file.
    const std::string path = getenv("PATH");
    setenv("PATH", dir.path.c_str(), 1);
    run = counterd({"backup", dir.path + "/second.dump", "--db", old});
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("pg_dump not found"), std::string::npos) << run.err;
    EXPECT_NE(stat((dir.path + "/second.dump").c_str(), &info), 0);
}

} // namespace
} // namespace orvo::test
