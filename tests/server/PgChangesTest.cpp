// Changes since a revision (16500, 16501) on PostgreSQL, with two servers on one database: each learns of
// a change committed by another process from the database's notifications, and a revision handed out by
// one is good on the other.
#include "PgFreshDatabase.h"
#include "RawClient.h"
#include "server/CounterServer.h"
#include "server/demo/PgSeed.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgStore.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kToday = "2026.12.07";
const Items kValidStopProfit = {{697, ""}, {9020, "0"}};

Reply changes(RawClient& c, const std::string& revision) {
    Items items = {{1842, "3"}};
    items.insert(items.end(), kValidStopProfit.begin(), kValidStopProfit.end());
    items.emplace_back(9101, revision);
    return c.call(16500, items);
}

// Asks until `done` holds of the answer or the time is up; the answer last received.
Reply askUntil(RawClient& c, const std::string& revision, std::chrono::milliseconds patience,
               const std::function<bool(const Reply&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    Reply got = changes(c, revision);
    while (!done(got) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        got = changes(c, revision);
    }
    return got;
}

bool hasRows(const Reply& r) {
    return !r.rows.empty();
}
bool runsFull(const Reply& r) {
    return r.end.has(9104);
}

std::vector<std::string> serials(const Reply& r) {
    std::vector<std::string> out;
    for (const Row& row : r.rows)
        out.push_back(row.get(797));
    return out;
}

class PgChanges : public PgClusterTest {
protected:
    void SetUp() override {
        PgClusterTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        server::pg::PgConnection admin;
        ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
        ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS changes_test", error)) << error;
        ASSERT_TRUE(admin.exec("CREATE DATABASE changes_test", error)) << error;
        m_conninfo = cluster().conninfo("changes_test");
        server::DemoOptions demo;
        demo.today = kToday;
        ASSERT_TRUE(server::pg::preparePgStore(m_conninfo, &demo, error)) << error;
        ASSERT_TRUE(m_writer.open(m_conninfo, error)) << error;
    }

    std::unique_ptr<server::CounterServer> serve(const std::string& conninfo = {}) {
        server::ServerOptions options;
        options.dbPath = conninfo.empty() ? m_conninfo : conninfo;
        options.dbPoolSize = 2;
        options.today = kToday;
        options.workers = 1;
        options.log = [](std::string_view) {};
        options.loginGuard.enabled = false;
        auto server = std::make_unique<server::CounterServer>(options);
        std::string error;
        EXPECT_GT(server->start("127.0.0.1", 0, error), 0) << error;
        return server;
    }

    void exec(const std::string& sql) {
        std::string error;
        ASSERT_TRUE(m_writer.exec(sql.c_str(), error)) << sql << ": " << error;
    }
    std::string first(const std::string& sql) {
        std::string error;
        server::pg::PgResult got = m_writer.query(sql.c_str(), server::pg::PgParams(), error);
        EXPECT_TRUE(got && got.rows() == 1) << sql << ": " << error;
        return got && got.rows() == 1 ? std::string(got.row(0).text(0)) : std::string();
    }

    std::string validStopProfit(int skip) {
        return first("SELECT lsh FROM rules WHERE kind = 3 AND valid_date >= '" + std::string(kToday) +
                     "' ORDER BY lsh OFFSET " + std::to_string(skip) + " LIMIT 1");
    }
    // A database of the cluster made anew.
    std::string database(const std::string& name) { return freshPgDatabase(cluster(), name); }
    static void run(server::pg::PgConnection& conn, const std::string& sql) {
        std::string error;
        ASSERT_TRUE(conn.exec(sql.c_str(), error)) << sql << ": " << error;
    }

    std::string m_conninfo;
    server::pg::PgConnection m_writer;
};

// Changed and new rows as the full query sends them, then the serials that left, on both servers within a
// second of the commit; nothing changed is the small end frame with the revision asked from.
TEST_F(PgChanges, TwoServersOnOneDatabaseEachSeeEveryCommittedChangeWithinASecond) {
    const auto one = serve();
    const auto other = serve();
    RawClient a, b;
    ASSERT_TRUE(a.connect(one->port()));
    ASSERT_TRUE(b.connect(other->port()));
    ASSERT_TRUE(a.login("admin", "admin"));
    ASSERT_TRUE(b.login("admin", "admin"));

    const Reply start = changes(a, "");
    ASSERT_EQ(start.status, 0) << start.text;
    EXPECT_EQ(start.end.get(9104), "1");
    const std::string from = start.end.get(9102);
    // Twice, the second time once the servers' feeds listen (each starts with its first changes request),
    // so that the state "nothing changed" is held when the writes come.
    for (int round = 0; round < 2; ++round) {
        std::this_thread::sleep_for(round * 300ms);
        for (RawClient* c : {&a, &b}) {
            const Reply quiet = changes(*c, from);
            ASSERT_EQ(quiet.status, 0) << quiet.text;
            EXPECT_TRUE(quiet.rows.empty());
            EXPECT_FALSE(quiet.end.has(9104)) << "a revision from one server is good on the other";
            EXPECT_EQ(quiet.end.get(9102), from);
        }
    }

    const std::string valid = "kind = 3 AND valid_date >= '" + std::string(kToday) + "'";
    const std::string updated = first("SELECT lsh FROM rules WHERE " + valid + " ORDER BY lsh LIMIT 1");
    const std::string deleted =
        first("SELECT lsh FROM rules WHERE " + valid + " AND lsh > " + updated + " ORDER BY lsh LIMIT 1");
    const std::string expired =
        first("SELECT lsh FROM rules WHERE " + valid + " AND lsh > " + deleted + " ORDER BY lsh LIMIT 1");
    const std::string inserted = first("SELECT max(lsh) + 1 FROM rules");
    ASSERT_FALSE(expired.empty());
    exec("UPDATE rules SET price = '4321.5' WHERE lsh = " + updated);
    exec("DELETE FROM orders WHERE lsh = " + deleted);
    exec("DELETE FROM rules WHERE lsh = " + deleted);
    exec("UPDATE rules SET valid_date = '2001.01.01' WHERE lsh = " + expired);
    exec("INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) SELECT " + inserted +
         ", 3, khh, 'zz2612', '2026.12.01', '2026.12.31' FROM rules WHERE lsh = " + updated);

    for (RawClient* c : {&a, &b}) {
        SCOPED_TRACE(c == &a ? "first server" : "second server");
        Reply changed;
        const auto deadline = std::chrono::steady_clock::now() + 1s;
        do {
            changed = changes(*c, from);
            ASSERT_EQ(changed.status, 0) << changed.text;
        } while (changed.rows.empty() && std::chrono::steady_clock::now() < deadline &&
                 (std::this_thread::sleep_for(20ms), true));
        EXPECT_FALSE(changed.end.has(9104));
        std::map<std::string, Row> now;
        for (const Row& row : c->call(16477, kValidStopProfit).rows)
            now[row.get(797)] = row;
        std::vector<std::string> sent, removed;
        for (const Row& row : changed.rows) {
            if (row.get(9103) == "1") {
                removed.push_back(row.get(797));
                continue;
            }
            sent.push_back(row.get(797));
            ASSERT_TRUE(now.count(row.get(797))) << row.get(797);
            EXPECT_EQ(row.items, now.at(row.get(797)).items);
        }
        EXPECT_EQ(sent, (std::vector<std::string>{updated, inserted}));
        EXPECT_EQ(removed, (std::vector<std::string>{deleted, expired}));
        const std::string next = changed.end.get(9102);
        EXPECT_NE(next, from);
        const Reply after = changes(*c, next);
        EXPECT_TRUE(after.rows.empty());
        EXPECT_FALSE(after.end.has(9104));
    }

    // A rule's orders on the other server: nothing, then the whole list once one is written.
    const std::string rule = first("SELECT lsh FROM orders WHERE hist = 0 ORDER BY lsh LIMIT 1");
    ASSERT_FALSE(rule.empty());
    const Items order = {{605, first("SELECT khh FROM rules WHERE lsh = " + rule)},
                         {1855, rule},
                         {1842, first("SELECT kind FROM rules WHERE lsh = " + rule)}};
    Items ask = order;
    const Reply whole = b.call(16501, ask);
    ASSERT_EQ(whole.status, 0) << whole.text;
    EXPECT_EQ(whole.end.get(9105), "1");
    EXPECT_FALSE(whole.rows.empty());
    ask.emplace_back(9101, whole.end.get(9102));
    EXPECT_TRUE(b.call(16501, ask).rows.empty());
    exec("UPDATE orders SET filled = filled + 1 WHERE lsh = " + rule);
    Reply list;
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    do
        list = b.call(16501, ask);
    while (!list.end.has(9105) && std::chrono::steady_clock::now() < deadline &&
           (std::this_thread::sleep_for(20ms), true));
    EXPECT_EQ(list.end.get(9105), "1");
    EXPECT_EQ(list.rows.size(), whole.rows.size());

    // Tombstones over a day old, pruned through a third connection: within a second both servers send a
    // client asking from before them to the full query, and answer one asking from after.
    {
        server::pg::PgPool pool(m_conninfo, 1);
        server::pg::PgStore store(pool);
        std::int64_t pruned = -1;
        std::string error;
        const std::int64_t day = 24 * 3600, markedAt = 1'800'000'000;
        ASSERT_TRUE(store.pruneTombstones(markedAt, day, pruned, error)) << error;
        EXPECT_EQ(pruned, 0) << "the first call only marks";
        ASSERT_TRUE(store.pruneTombstones(markedAt + day, day, pruned, error)) << error;
        EXPECT_GT(pruned, 0);
    }
    for (RawClient* c : {&a, &b}) {
        Reply stale;
        const auto until = std::chrono::steady_clock::now() + 1s;
        do
            stale = changes(*c, from);
        while (!stale.end.has(9104) && std::chrono::steady_clock::now() < until &&
               (std::this_thread::sleep_for(20ms), true));
        EXPECT_EQ(stale.end.get(9104), "1");
        const std::string fresh = stale.end.get(9102);
        EXPECT_FALSE(changes(*c, fresh).end.has(9104));
    }
}

// A transaction left open in another database of the cluster, and one in ours that wrote a rule, hold
// nothing back: a commit of ours is answered, and asking again from the revision it gave is quiet at once
// and stays quiet. The open transaction's rule comes once it commits.
TEST_F(PgChanges, ACommitIsAnsweredOnceWhateverTransactionsAreLeftOpen) {
    const auto one = serve();
    RawClient a;
    ASSERT_TRUE(a.connect(one->port()));
    ASSERT_TRUE(a.login("admin", "admin"));
    const std::string updated = validStopProfit(0), pendingRule = validStopProfit(1);
    ASSERT_FALSE(pendingRule.empty());
    std::string error;
    server::pg::PgConnection elsewhere, pending;
    ASSERT_TRUE(elsewhere.open(database("changes_other_app"), error)) << error;
    ASSERT_TRUE(pending.open(m_conninfo, error)) << error;
    run(elsewhere, "CREATE TABLE t(x int)");
    run(elsewhere, "BEGIN");
    run(elsewhere, "INSERT INTO t VALUES(1)");
    run(pending, "BEGIN");
    run(pending, "UPDATE rules SET price = '7777.5' WHERE lsh = " + pendingRule);

    const std::string from = changes(a, "").end.get(9102);
    exec("UPDATE rules SET price = '4321.5' WHERE lsh = " + updated);
    const Reply changed = askUntil(a, from, 1s, hasRows);
    EXPECT_EQ(serials(changed), std::vector<std::string>{updated});
    const std::string next = changed.end.get(9102);
    for (int ask = 0; ask < 3; ++ask) {
        const Reply quiet = changes(a, next);
        ASSERT_EQ(quiet.status, 0) << quiet.text;
        EXPECT_TRUE(quiet.rows.empty()) << "asked again at once, ask " << ask;
        EXPECT_FALSE(quiet.end.has(9104));
        EXPECT_EQ(quiet.end.get(9102), next);
    }

    run(pending, "COMMIT");
    const Reply late = askUntil(a, next, 1s, hasRows);
    EXPECT_FALSE(late.end.has(9104));
    EXPECT_EQ(serials(late), std::vector<std::string>{pendingRule});
    run(elsewhere, "ROLLBACK");
}

// pg_restore --clean into the live database writes no notification and brings back older positions: a
// server notices within two seconds and sends the client to the full query. A server on another database
// restored from the same dump takes none of this database's revisions.
TEST_F(PgChanges, ARestoreAndAnotherDatabaseAreOtherIncarnations) {
    const auto one = serve();
    RawClient a;
    ASSERT_TRUE(a.connect(one->port()));
    ASSERT_TRUE(a.login("admin", "admin"));
    char dirTemplate[] = "/tmp/orvo-changes-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dump = std::string(dirTemplate) + "/live.dump";
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::system(("rm -rf '" + dir + "'").c_str()); }
    } cleanup{dirTemplate};
    ASSERT_EQ(
        std::system((PgCluster::binDir() + "/pg_dump -Fc -f " + dump + " '" + m_conninfo + "'").c_str()), 0);
    exec("UPDATE rules SET price = '4321.5' WHERE lsh = " + validStopProfit(0));
    const std::string held = changes(a, "").end.get(9102);
    std::this_thread::sleep_for(300ms); // the feed listens: "nothing changed" comes from memory
    ASSERT_FALSE(changes(a, held).end.has(9104));

    ASSERT_EQ(std::system((PgCluster::binDir() + "/pg_restore --clean --if-exists --single-transaction -d '" +
                           m_conninfo + "' " + dump)
                              .c_str()),
              0);
    const auto restored = std::chrono::steady_clock::now();
    const Reply told = askUntil(a, held, 3s, runsFull);
    EXPECT_EQ(told.end.get(9104), "1");
    EXPECT_LT(std::chrono::steady_clock::now() - restored, 2200ms);
    const std::string fresh = told.end.get(9102);
    EXPECT_FALSE(changes(a, fresh).end.has(9104));

    const std::string copy = database("changes_copy");
    ASSERT_EQ(std::system((PgCluster::binDir() + "/pg_restore -d '" + copy + "' " + dump).c_str()), 0);
    const auto other = serve(copy);
    RawClient b;
    ASSERT_TRUE(b.connect(other->port()));
    ASSERT_TRUE(b.login("admin", "admin"));
    EXPECT_EQ(changes(b, fresh).end.get(9104), "1");
}

// The listening connection killed, then silent (its server process stopped, so nothing resets the
// connection): either way a commit is answered within two seconds, never "nothing changed" from memory.
TEST_F(PgChanges, ALostOrSilentListenerIsNotTrusted) {
    const auto one = serve();
    RawClient a;
    ASSERT_TRUE(a.connect(one->port()));
    ASSERT_TRUE(a.login("admin", "admin"));
    const std::string from = changes(a, "").end.get(9102);
    // The feed's round trip names it among the connections.
    const auto listener = [this](const std::string& not_) {
        std::string pid;
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while ((pid.empty() || pid == not_) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
            pid =
                first("SELECT coalesce(max(pid), 0) FROM pg_stat_activity WHERE datname = current_database() "
                      "AND query LIKE 'SELECT pg_postmaster_start_time()%'");
            if (pid == "0")
                pid.clear();
        }
        return pid;
    };
    const std::string killed = listener("");
    ASSERT_FALSE(killed.empty());
    ASSERT_FALSE(changes(a, from).end.has(9104));
    exec("SELECT pg_terminate_backend(" + killed + ")");
    exec("UPDATE rules SET price = '4321.5' WHERE lsh = " + validStopProfit(0));
    Reply changed = askUntil(a, from, 2s, hasRows);
    ASSERT_FALSE(changed.rows.empty());
    const std::string next = changed.end.get(9102);

    const std::string silent = listener(killed);
    ASSERT_FALSE(silent.empty());
    ASSERT_TRUE(changes(a, next).rows.empty());
    ASSERT_EQ(::kill(std::stoi(silent), SIGSTOP), 0);
    std::this_thread::sleep_for(100ms);
    exec("UPDATE rules SET price = '1234.5' WHERE lsh = " + validStopProfit(1));
    const auto committed = std::chrono::steady_clock::now();
    changed = askUntil(a, next, 3s, hasRows);
    const auto waited = std::chrono::steady_clock::now() - committed;
    ::kill(std::stoi(silent), SIGCONT);
    EXPECT_EQ(serials(changed), std::vector<std::string>{validStopProfit(1)});
    EXPECT_LT(waited, 2s);
}

} // namespace
} // namespace orvo::test
