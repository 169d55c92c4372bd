// The PostgreSQL store against a throwaway cluster: the schema, bound parameters, streaming, the pool.
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgPool.h"
#include "server/store/postgres/PgSchema.h"
#include "server/store/postgres/PgTransaction.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/Schema.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace orvo::test {
namespace {

using namespace orvo::server;
using namespace orvo::server::pg;
using namespace std::chrono_literals;

class PgStoreTest : public PgClusterTest {
protected:
    void SetUp() override {
        PgClusterTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Each test starts from a database of its own.
        std::string error;
        PgConnection admin;
        ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
        ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS store_test", error)) << error;
        ASSERT_TRUE(admin.exec("CREATE DATABASE store_test", error)) << error;
        ASSERT_TRUE(m_conn.open(conninfo(), error)) << error;
        ASSERT_TRUE(createPgSchema(m_conn, error)) << error;
    }

    std::vector<std::string> column(const char* sql, const PgParams& params = PgParams()) {
        std::string error;
        PgResult r = m_conn.query(sql, params, error);
        EXPECT_TRUE(r) << sql << ": " << error;
        std::vector<std::string> out;
        for (int i = 0; i < r.rows(); ++i)
            out.emplace_back(r.row(i).text(0));
        return out;
    }

    std::string conninfo() { return cluster().conninfo("store_test"); }

    PgConnection m_conn;
};

// Table -> column names in order (rowid, which SQLite keeps implicit, left out), and every index name.
struct SchemaShape {
    std::map<std::string, std::vector<std::string>> columns;
    std::set<std::string> indexes;
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

TEST_F(PgStoreTest, SchemaHasTheSqliteTablesColumnsIndexesVersionAndDownloadColumnNames) {
    Db lite;
    std::string error;
    ASSERT_TRUE(lite.open(":memory:", false, error)) << error;
    ASSERT_TRUE(createSchema(lite, error)) << error;

    SchemaShape sqlite, postgres;
    Statement tables;
    ASSERT_TRUE(lite.prepare("SELECT name FROM sqlite_master WHERE type = 'table'", tables, error));
    while (tables.step() == SQLITE_ROW) {
        const std::string table(tables.text(0));
        Statement info;
        ASSERT_TRUE(lite.prepare("SELECT name FROM pragma_table_info(?) ORDER BY cid", info, error));
        info.bind(1, std::string_view(table));
        while (info.step() == SQLITE_ROW)
            sqlite.columns[lower(table)].push_back(lower(std::string(info.text(0))));
    }
    Statement indexes;
    ASSERT_TRUE(lite.prepare("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL",
                             indexes, error));
    while (indexes.step() == SQLITE_ROW)
        sqlite.indexes.insert(lower(std::string(indexes.text(0))));

    PgResult cols = m_conn.query("SELECT table_name, column_name FROM information_schema.columns "
                                 "WHERE table_schema = 'public' AND column_name <> 'rowid' "
                                 "ORDER BY table_name, ordinal_position",
                                 PgParams(), error);
    ASSERT_TRUE(cols) << error;
    for (int i = 0; i < cols.rows(); ++i)
        postgres.columns[std::string(cols.row(i).text(0))].emplace_back(cols.row(i).text(1));
    // Keys and UNIQUE constraints have indexes of their own, as SQLite's automatic ones are left out above.
    for (const std::string& name :
         column("SELECT indexname FROM pg_indexes WHERE schemaname = 'public' AND indexname NOT IN "
                "(SELECT conname FROM pg_constraint)"))
        postgres.indexes.insert(name);
    // SQLite draws rule revisions from the counter in its one-row table; PostgreSQL takes transaction ids
    // and keeps only the names and scope revisions there.
    EXPECT_EQ(sqlite.columns.at("rule_revision"),
              (std::vector<std::string>{"id", "value", "names", "scope"}));
    EXPECT_EQ(postgres.columns.at("rule_revision"), (std::vector<std::string>{"id", "names", "scope"}));
    sqlite.columns.erase("rule_revision");
    postgres.columns.erase("rule_revision");
    // PostgreSQL keeps commit order in tables of its own; SQLite's writes are serialised.
    EXPECT_EQ(postgres.columns.at("commit_order"), (std::vector<std::string>{"xid", "position"}));
    EXPECT_EQ(postgres.indexes.erase("commit_order_position"), 1u);
    postgres.columns.erase("commit_order");
    postgres.columns.erase("commit_clock");
    EXPECT_EQ(postgres.columns, sqlite.columns);
    EXPECT_EQ(postgres.indexes, sqlite.indexes);

    // Created once: a second server finds the schema and its version and changes nothing.
    ASSERT_TRUE(createPgSchema(m_conn, error)) << error;
    int version = 0;
    ASSERT_TRUE(readPgSchemaVersion(m_conn, version, error)) << error;
    EXPECT_EQ(version, kSchemaVersion);
    EXPECT_EQ(column("SELECT value FROM meta"), std::vector<std::string>{std::to_string(kSchemaVersion)});
    bool empty = false;
    ASSERT_TRUE(isPgEmpty(m_conn, empty, error)) << error;
    EXPECT_TRUE(empty);

    // Function 2 sends rows keyed by column name: both back-ends must name them alike.
    for (const char* table :
         {"YYB", "KHQZ", "QHJYS", "JYS", "QHPZ", "QHHYDM", "QHXTDM", "XTDM", "BZ", "ZQLB", "YWKM", "JYLB"}) {
        SCOPED_TRACE(table);
        ASSERT_NE(downloadQueryFor(table), nullptr);
        ASSERT_NE(pgDownloadQueryFor(table), nullptr);
        Statement liteStmt;
        ASSERT_TRUE(lite.prepare(downloadQueryFor(table), liteStmt, error)) << error;
        std::vector<std::string> liteNames, pgNames;
        for (int c = 0; c < liteStmt.columnCount(); ++c)
            liteNames.emplace_back(liteStmt.columnName(c));
        PgResult pgRows = m_conn.query(pgDownloadQueryFor(table), PgParams(), error);
        ASSERT_TRUE(pgRows) << error;
        for (int c = 0; c < pgRows.columns(); ++c)
            pgNames.emplace_back(pgRows.columnName(c));
        EXPECT_EQ(pgNames, liteNames);
    }
    EXPECT_EQ(pgDownloadQueryFor("operators"), nullptr);
}

TEST_F(PgStoreTest, GbkBytesComeBackUnchangedInSqliteByteOrderAndOtherEncodingsAreRefused) {
    std::string error;
    // Lead bytes 0x81..0xFE with trail bytes that are ASCII ('@', '\\', '|') as well as high ones.
    const std::vector<std::string> values{"\xB0\xA1", "\x81\x40",         "a",        "\xFE\x4F",
                                          "\x95\x5C", "\xD6\xD0\xCE\xC4", "\x81\x7C", "Z"};
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_TRUE(m_conn.query("INSERT INTO BZ(BZ, BZMC) VALUES($1, $2)",
                                 PgParams().add(values[i]).add(std::to_string(i)), error))
            << error;
    std::vector<std::string> byteOrder = values;
    std::sort(byteOrder.begin(), byteOrder.end()); // std::string compares as unsigned bytes, like memcmp
    EXPECT_EQ(column("SELECT BZ FROM BZ ORDER BY BZ"), byteOrder);
    EXPECT_EQ(column("SELECT BZ FROM BZ WHERE BZ > $1 ORDER BY BZ", PgParams().add("\x90")),
              (std::vector<std::string>{"\x95\x5C", "\xB0\xA1", "\xD6\xD0\xCE\xC4", "\xFE\x4F"}));
    EXPECT_EQ(column("SELECT BZMC FROM BZ WHERE BZ = $1", PgParams().add("\x95\x5C")),
              std::vector<std::string>{"4"});

    // A UTF8 database (createdb's default) takes the UTF-8 text unconverted, even when the environment
    // asks for another client encoding; a database in another encoding would convert it: refused.
    ASSERT_TRUE(m_conn.exec("DROP DATABASE IF EXISTS utf8_db", error)) << error;
    ASSERT_TRUE(
        m_conn.exec("CREATE DATABASE utf8_db ENCODING 'UTF8' TEMPLATE template0 LOCALE 'C.UTF-8'", error))
        << error;
    setenv("PGCLIENTENCODING", "LATIN1", 1);
    PgConnection utf8;
    EXPECT_TRUE(utf8.open(cluster().conninfo("utf8_db"), error)) << error;
    unsetenv("PGCLIENTENCODING");
    ASSERT_TRUE(createPgSchema(utf8, error)) << error;
    const PgResult bytes = utf8.query("SELECT octet_length($1::gbk) || ',' || ('B'::gbk < 'a'::gbk)",
                                      PgParams().add("\xE6\xAC\xA7\xE9\x98\xB3\xE5\x85\xB0"), error);
    ASSERT_EQ(bytes.rows(), 1) << error;
    EXPECT_EQ(std::string(bytes.row(0).text(0)), "9,true") << "UTF-8 bytes kept, compared byte by byte";
    ASSERT_TRUE(m_conn.exec("DROP DATABASE IF EXISTS latin1_db", error)) << error;
    ASSERT_TRUE(
        m_conn.exec("CREATE DATABASE latin1_db ENCODING 'LATIN1' TEMPLATE template0 LOCALE 'C'", error))
        << error;
    PgConnection latin1;
    EXPECT_FALSE(latin1.open(cluster().conninfo("latin1_db"), error));
    EXPECT_NE(error.find("UTF8"), std::string::npos) << error;
    EXPECT_FALSE(latin1.isOpen());
}

TEST_F(PgStoreTest, HostileTextMatchesNothingAndTransactionsRollBackUnlessCommitted) {
    std::string error;
    ASSERT_TRUE(m_conn.query("INSERT INTO customers(khh, name, yyb, branch) VALUES($1, $2, $3, $3)",
                             PgParams().add("1001").add("\xD5\xC5\xC8\xFD").add("0101"), error))
        << error;
    ASSERT_TRUE(m_conn.prepare("customer", "SELECT name FROM customers WHERE khh = $1", error)) << error;
    for (const std::string hostile : {"' OR '1'='1", "1001' --", "1001'; DROP TABLE customers; --",
                                      "\x95\x5C' OR 1=1 --", "%", "1001 ", "$1", "\\x31303031"}) {
        SCOPED_TRACE(hostile);
        EXPECT_TRUE(column("SELECT name FROM customers WHERE khh = $1", PgParams().add(hostile)).empty());
        PgResult r = m_conn.queryPrepared("customer", PgParams().add(hostile), error);
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(r.rows(), 0);
    }
    // A NUL would end the value early and match "1001": refused instead.
    for (const std::string& cut : {std::string("1001\0' OR '1'='1", 16), std::string("1001\0", 5)}) {
        EXPECT_FALSE(m_conn.query("SELECT name FROM customers WHERE khh = $1", PgParams().add(cut), error));
        EXPECT_NE(error.find("NUL"), std::string::npos) << error;
        EXPECT_FALSE(m_conn.queryPrepared("customer", PgParams().add(cut), error));
        EXPECT_EQ(m_conn.stream(
                      "SELECT $1::text", PgParams().add(cut), [](const PgRow&) { return true; }, error),
                  -1);
    }
    EXPECT_EQ(column("SELECT name FROM customers WHERE khh = $1", PgParams().add("1001")),
              std::vector<std::string>{"\xD5\xC5\xC8\xFD"});

    {
        PgTransaction tx(m_conn, error);
        ASSERT_TRUE(tx.ok()) << error;
        ASSERT_TRUE(
            m_conn.query("INSERT INTO customers(khh, name, yyb, branch) VALUES('1002', 'b', 'x', 'x')",
                         PgParams(), error));
    } // no commit: rolled back
    EXPECT_EQ(column("SELECT count(*) FROM customers"), std::vector<std::string>{"1"});
    {
        PgTransaction tx(m_conn, error);
        ASSERT_TRUE(tx.ok()) << error;
        EXPECT_FALSE(
            m_conn.query("INSERT INTO customers(khh, name, yyb, branch) VALUES('1001', 'dup', 'x', 'x')",
                         PgParams(), error)); // the key exists
        EXPECT_FALSE(tx.commit(error)) << "a failed transaction must not commit as success";
    }
    {
        PgTransaction tx(m_conn, error);
        ASSERT_TRUE(tx.ok()) << error;
        ASSERT_TRUE(
            m_conn.query("INSERT INTO customers(khh, name, yyb, branch) VALUES('1003', 'c', 'x', 'x')",
                         PgParams(), error));
        ASSERT_TRUE(tx.commit(error)) << error;
    }
    EXPECT_EQ(column("SELECT khh FROM customers ORDER BY khh"), (std::vector<std::string>{"1001", "1003"}));
}

TEST_F(PgStoreTest, StreamsOneHundredThousandRowsHoldingOneAtATimeAndStopsEarlyCleanly) {
    std::string error;
    const char* sql = "SELECT n, md5(n::text) FROM generate_series(1, $1::int) AS n";
    std::int64_t seen = 0, sum = 0;
    int mostHeld = 0;
    const std::int64_t rows = m_conn.stream(
        sql, PgParams().add(std::int64_t{100000}),
        [&](const PgRow& row) {
            ++seen;
            sum += row.integer(0);
            mostHeld = std::max(mostHeld, row.rowsHeld());
            return row.text(1).size() == 32;
        },
        error);
    ASSERT_EQ(rows, 100000) << error;
    EXPECT_EQ(seen, 100000);
    EXPECT_EQ(sum, std::int64_t{100000} * 100001 / 2);
    EXPECT_EQ(mostHeld, 1) << "rows must arrive one at a time, never as a whole result";

    // A reader that stops (a client gone) leaves the connection ready for the next statement.
    ASSERT_TRUE(m_conn.prepare("series", sql, error)) << error;
    seen = 0;
    EXPECT_EQ(
        m_conn.streamPrepared(
            "series", PgParams().add(std::int64_t{100000}), [&](const PgRow&) { return ++seen < 10; }, error),
        10)
        << error;
    EXPECT_TRUE(m_conn.isIdle());
    EXPECT_EQ(column("SELECT 1"), std::vector<std::string>{"1"});

    // An error part-way through is reported, not taken for the end of the rows.
    EXPECT_EQ(m_conn.stream(
                  "SELECT 10 / (5000 - n) FROM generate_series(1, 10000) AS n", PgParams(),
                  [](const PgRow&) { return true; }, error),
              -1);
    EXPECT_NE(error.find("division by zero"), std::string::npos) << error;
}

TEST_F(PgStoreTest,
       APooledStatementPastItsTimeOutOrWaitingPastItsLockTimeOutFailsSayingTheDatabaseTookTooLong) {
    std::string error;
    PgPool pool(conninfo(), 2, PgTimeouts{300, 200});
    PgPool::Lease a = pool.acquire(5s, error);
    PgPool::Lease b = pool.acquire(5s, error);
    ASSERT_TRUE(a && b) << error;
    EXPECT_FALSE(a->query("SELECT pg_sleep(2)", PgParams(), error));
    EXPECT_NE(error.find("the database took too long"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(a->stream(
                  "SELECT pg_sleep(2)", PgParams(), [](const PgRow&) { return true; }, error),
              -1);
    EXPECT_NE(error.find("the database took too long"), std::string::npos) << error;

    ASSERT_TRUE(a->exec("CREATE TABLE IF NOT EXISTS held(x int)", error)) << error;
    ASSERT_TRUE(a->exec("BEGIN; LOCK TABLE held", error)) << error;
    error.clear();
    EXPECT_FALSE(b->query("SELECT * FROM held", PgParams(), error));
    EXPECT_NE(error.find("lock time-out"), std::string::npos) << error;
    a->exec("ROLLBACK", error);
    a->exec("DROP TABLE held", error);
}

TEST_F(PgStoreTest, PoolHoldsItsBoundTimesOutAndReplacesDeadOrDirtyConnections) {
    std::string error;
    PgPool pool(conninfo(), 2);
    PgPool::Lease a = pool.acquire(5s, error);
    PgPool::Lease b = pool.acquire(5s, error);
    ASSERT_TRUE(a && b) << error;
    EXPECT_NE(a->backendPid(), b->backendPid());

    const auto before = std::chrono::steady_clock::now();
    PgPool::Lease c = pool.acquire(200ms, error);
    EXPECT_FALSE(c);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 200ms);
    EXPECT_NE(error.find("no database connection free"), std::string::npos) << error;
    EXPECT_EQ(pool.openCount(), 2u);

    // A waiter gets the connection given back while it waits.
    int waiterPid = 0;
    std::thread waiter([&] {
        std::string e;
        PgPool::Lease d = pool.acquire(10s, e);
        waiterPid = d ? d->backendPid() : -1;
    });
    const int bPid = b->backendPid();
    b.release();
    waiter.join();
    EXPECT_EQ(waiterPid, bPid);
    EXPECT_EQ(pool.openCount(), 2u);

    // A connection whose session the server ended is replaced on the next loan.
    PgPool::Lease victim = pool.acquire(5s, error);
    ASSERT_TRUE(victim) << error;
    const int victimPid = victim->backendPid();
    victim.release();
    PgResult killed =
        a->query("SELECT pg_terminate_backend($1)", PgParams().add(std::int64_t{victimPid}), error);
    ASSERT_TRUE(killed) << error;
    // The backend is a process on this machine: once it has exited, its socket is closed.
    for (int i = 0; i < 1000 && PgCluster::processRunning(victimPid); ++i)
        std::this_thread::sleep_for(10ms);
    PgPool::Lease fresh = pool.acquire(5s, error);
    ASSERT_TRUE(fresh) << error;
    EXPECT_NE(fresh->backendPid(), victimPid);
    EXPECT_EQ(pool.replacedCount(), 1u);
    PgResult one = fresh->query("SELECT 1", PgParams(), error);
    EXPECT_TRUE(one) << error;

    // One given back inside a transaction is closed, not handed to the next user mid-transaction.
    ASSERT_TRUE(fresh->exec("BEGIN", error)) << error;
    fresh.release();
    EXPECT_EQ(pool.openCount(), 1u);
    PgPool::Lease clean = pool.acquire(5s, error);
    ASSERT_TRUE(clean) << error;
    EXPECT_TRUE(clean->isIdle());
    EXPECT_EQ(pool.openCount(), 2u);

    // A database that cannot be reached fails the loan with the reason, and frees the slot.
    PgPool nowhere("host=" + cluster().folder() + " port=1 dbname=x connect_timeout=2", 1);
    EXPECT_FALSE(nowhere.acquire(1s, error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    EXPECT_EQ(nowhere.openCount(), 0u);
}

} // namespace
} // namespace orvo::test
