// Changes since a revision (16500, 16501) against a server of its own over a database the test writes.
#include "ServerFixture.h"

#include "server/CounterServer.h"
#include "server/store/sqlite/SqliteStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace orvo::test {
namespace {

struct LiveServer {
    explicit LiveServer(const std::string& path) {
        server::ServerOptions options;
        options.dbPath = path;
        options.today = kToday;
        options.log = [](std::string_view) {};
        options.loginGuard.enabled = false;
        server = std::make_unique<server::CounterServer>(options);
        std::string error;
        port = server->start("127.0.0.1", 0, error);
        EXPECT_GT(port, 0) << error;
    }
    std::unique_ptr<server::CounterServer> server;
    int port = -1;
};

const Items kValidStopProfit = {{1842, "3"}, {697, ""}, {9020, "0"}};

Reply changes(RawClient& c, const std::string& revision) {
    Items items = kValidStopProfit;
    items.emplace_back(9101, revision);
    return c.call(16500, items);
}

std::map<long long, Row> bySerial(const Reply& r) {
    std::map<long long, Row> rows;
    for (const Row& row : r.rows)
        rows[std::stoll(row.get(797))] = row;
    return rows;
}

void exec(server::Db& db, const std::string& sql) {
    std::string error;
    ASSERT_TRUE(db.exec(sql.c_str(), error)) << sql << ": " << error;
}

long long serialWhere(server::Db& db, const std::string& where) {
    server::Statement stmt;
    std::string error;
    EXPECT_TRUE(db.prepare("SELECT lsh FROM rules WHERE " + where + " ORDER BY lsh LIMIT 1", stmt, error));
    return stmt.step() == SQLITE_ROW ? stmt.integer(0) : 0;
}

// Changed and new rows come byte for byte as the full query sends them; deleted rows and rows that no
// longer match come as removals; nothing changed is one small end frame; a revision taken under other
// permissions asks for the full query.
TEST(Changes, RulesWrittenOrGoneSinceARevisionAreAllThatIsSent) {
    WritableDemo own("live.db");
    ASSERT_TRUE(own.ok);
    LiveServer live(own.path);
    RawClient c;
    ASSERT_TRUE(c.connect(live.port));
    ASSERT_TRUE(c.login("admin", "admin"));

    Reply start = changes(c, "");
    ASSERT_EQ(start.status, 0) << start.text;
    EXPECT_EQ(start.end.get(9104), "1");
    EXPECT_TRUE(start.rows.empty());
    const std::string first = start.end.get(9102);
    ASSERT_FALSE(first.empty());

    Reply quiet = changes(c, first);
    ASSERT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.rows.empty());
    EXPECT_FALSE(quiet.end.has(9104));
    EXPECT_EQ(quiet.end.get(9102), first);

    const std::string valid = "kind = 3 AND valid_date >= '" + std::string(kToday) + "'";
    const long long updated = serialWhere(own.writer, valid);
    const long long deleted = serialWhere(own.writer, valid + " AND lsh > " + std::to_string(updated));
    const long long expired = serialWhere(own.writer, valid + " AND lsh > " + std::to_string(deleted));
    ASSERT_GT(expired, 0);
    exec(own.writer, "UPDATE rules SET price = '4321.5' WHERE lsh = " + std::to_string(updated));
    exec(own.writer, "DELETE FROM orders WHERE lsh = " + std::to_string(deleted));
    exec(own.writer, "DELETE FROM rules WHERE lsh = " + std::to_string(deleted));
    exec(own.writer, "UPDATE rules SET valid_date = '2001.01.01' WHERE lsh = " + std::to_string(expired));
    exec(own.writer,
         "CREATE TEMP TABLE copied AS SELECT * FROM rules WHERE lsh = " + std::to_string(updated) +
             "; UPDATE copied SET lsh = (SELECT max(lsh) + 1 FROM rules); "
             "INSERT INTO rules SELECT * FROM copied");
    const long long inserted = serialWhere(own.writer, "lsh = (SELECT max(lsh) FROM rules)");

    Reply changed = changes(c, first);
    ASSERT_EQ(changed.status, 0) << changed.text;
    EXPECT_FALSE(changed.end.has(9104));
    EXPECT_EQ(changed.rowCount, changed.rows.size());
    Items full = {{697, ""}, {9020, "0"}};
    const auto now = bySerial(c.call(16477, full));
    std::vector<long long> sent, removed;
    for (const Row& row : changed.rows) {
        const long long serial = std::stoll(row.get(797));
        if (row.get(9103) == "1") {
            EXPECT_EQ(row.items.size(), 2u);
            removed.push_back(serial);
            continue;
        }
        EXPECT_TRUE(removed.empty()) << "changed rows come before removals";
        sent.push_back(serial);
        ASSERT_TRUE(now.count(serial));
        EXPECT_EQ(row.items, now.at(serial).items) << serial;
    }
    EXPECT_EQ(sent, (std::vector<long long>{updated, inserted}));
    EXPECT_EQ(removed, (std::vector<long long>{deleted, expired}));
    const std::string next = changed.end.get(9102);
    EXPECT_NE(next, first);
    EXPECT_TRUE(changes(c, next).rows.empty());

    // A rule's orders: the whole list when one changed, else nothing.
    const long long withOrders = serialWhere(own.writer, "lsh IN (SELECT lsh FROM orders WHERE hist = 0)");
    ASSERT_GT(withOrders, 0);
    const std::string khh = [&] {
        server::Statement stmt;
        std::string error;
        EXPECT_TRUE(own.reader.prepare(
            "SELECT khh, kind FROM rules WHERE lsh = " + std::to_string(withOrders), stmt, error));
        EXPECT_EQ(stmt.step(), SQLITE_ROW);
        return std::string(stmt.text(0)) + "/" + std::string(stmt.text(1));
    }();
    const Items order = {{605, khh.substr(0, khh.find('/'))},
                         {1855, std::to_string(withOrders)},
                         {1842, khh.substr(khh.find('/') + 1)}};
    const Reply list = c.call(16151, order);
    Items ask = order;
    Reply whole = c.call(16501, ask);
    ASSERT_EQ(whole.status, 0) << whole.text;
    EXPECT_EQ(whole.end.get(9105), "1");
    ASSERT_EQ(whole.rows.size(), list.rows.size());
    ask.emplace_back(9101, whole.end.get(9102));
    EXPECT_TRUE(c.call(16501, ask).rows.empty());
    exec(own.writer, "UPDATE orders SET filled = filled + 1 WHERE lsh = " + std::to_string(withOrders));
    EXPECT_EQ(c.call(16501, ask).end.get(9105), "1");

    // The same revision under narrower permissions is not answered by changes.
    RawClient teller;
    ASSERT_TRUE(teller.connect(live.port));
    ASSERT_TRUE(teller.login("teller", "teller"));
    EXPECT_EQ(changes(teller, next).end.get(9104), "1");

    // Tombstones over a day old are pruned: a revision from before those kept is sent to the full query,
    // one from after is answered with changes.
    server::sqlite::SqliteStore store(own.writer);
    std::int64_t pruned = -1;
    std::string error;
    const std::int64_t day = 24 * 3600, markedAt = 1'800'000'000;
    ASSERT_TRUE(store.pruneTombstones(markedAt, day, pruned, error)) << error;
    EXPECT_EQ(pruned, 0) << "the first call only marks";
    ASSERT_TRUE(store.pruneTombstones(markedAt + day - 1, day, pruned, error)) << error;
    EXPECT_EQ(pruned, 0);
    ASSERT_TRUE(store.pruneTombstones(markedAt + day, day, pruned, error)) << error;
    EXPECT_GT(pruned, 0) << "the deleted rule's and orders' tombstones";
    const Reply stale = changes(c, next);
    EXPECT_EQ(stale.end.get(9104), "1");
    EXPECT_FALSE(changes(c, stale.end.get(9102)).end.has(9104));
}

// Clients holding the same list at the same revision get one answer, looked up once and sent to each;
// a client whose permissions differ never gets another's answer, even at the same revision.
TEST(Changes, AnAnswerIsSharedOnlyByClientsThatAskedTheSameQuestion) {
    WritableDemo own("shared.db");
    ASSERT_TRUE(own.ok);
    LiveServer live(own.path);
    RawClient first, second, teller;
    for (RawClient* c : {&first, &second, &teller})
        ASSERT_TRUE(c->connect(live.port));
    ASSERT_TRUE(first.login("admin", "admin"));
    ASSERT_TRUE(second.login("admin", "admin"));
    ASSERT_TRUE(teller.login("teller", "teller"));
    const std::string adminRevision = changes(first, "").end.get(9102);
    const std::string tellerRevision = changes(teller, "").end.get(9102);
    ASSERT_EQ(adminRevision.substr(0, adminRevision.find('-')),
              tellerRevision.substr(0, tellerRevision.find('-')))
        << "both at the same revision";

    exec(own.writer, "UPDATE rules SET price = '4321.5' WHERE kind = 3");
    const Reply one = changes(first, adminRevision);
    const Reply two = changes(second, adminRevision);
    const Reply narrower = changes(teller, tellerRevision);
    ASSERT_EQ(one.status, 0) << one.text;
    ASSERT_FALSE(one.rows.empty());
    ASSERT_EQ(two.rows.size(), one.rows.size());
    EXPECT_EQ(two.rowCount, two.rows.size());
    for (std::size_t i = 0; i < one.rows.size(); ++i)
        EXPECT_EQ(two.rows[i].items, one.rows[i].items) << i;
    EXPECT_EQ(two.end.get(9102), one.end.get(9102));
    ASSERT_EQ(narrower.status, 0) << narrower.text;
    EXPECT_FALSE(narrower.rows.empty());
    EXPECT_LT(narrower.rows.size(), one.rows.size()) << "the teller sees fewer customers";
    const auto full = bySerial(teller.call(16477, kValidStopProfit));
    for (const Row& row : narrower.rows)
        EXPECT_TRUE(full.count(std::stoll(row.get(797)))) << row.get(797) << " is not the teller's";
}

std::string firstText(server::Db& db, const std::string& sql) {
    server::Statement stmt;
    std::string error;
    EXPECT_TRUE(db.prepare(sql, stmt, error)) << sql << ": " << error;
    return stmt.step() == SQLITE_ROW ? std::string(stmt.text(0)) : std::string();
}

// A revision names its database and that database's incarnation: a server on another file, and the same
// server after a backup was moved over its file (even once the restored file was written again, which
// takes its revisions past the one held), send the client to the full query.
TEST(Changes, ARevisionIsGoodOnlyForTheDatabaseAndIncarnationThatGaveIt) {
    WritableDemo own("one.db"), other("other.db");
    ASSERT_TRUE(own.ok && other.ok);
    LiveServer live(own.path), elsewhere(other.path);
    RawClient c, d;
    ASSERT_TRUE(c.connect(live.port) && d.connect(elsewhere.port));
    ASSERT_TRUE(c.login("admin", "admin") && d.login("admin", "admin"));
    const std::string mine = changes(c, "").end.get(9102);
    EXPECT_FALSE(changes(c, mine).end.has(9104));
    EXPECT_EQ(changes(d, mine).end.get(9104), "1") << "another database's revision";

    const std::string backup = own.dir.path + "/backup.db";
    exec(own.writer, "VACUUM INTO '" + backup + "'");
    exec(own.writer, "UPDATE rules SET price = '4321.5' WHERE kind = 3");
    const Reply changed = changes(c, mine);
    ASSERT_FALSE(changed.rows.empty());
    const std::string held = changed.end.get(9102);
    std::string error;
    {
        server::Db restored;
        ASSERT_TRUE(restored.open(backup, false, error)) << error;
        exec(restored, "UPDATE rules SET price = '1234.5' WHERE kind = 4");
    }
    // Moved over the path as docs/operations.md says: nothing left in the old file's write-ahead log.
    exec(own.writer, "PRAGMA wal_checkpoint(TRUNCATE)");
    std::filesystem::rename(backup, own.path);
    const Reply after = changes(c, held);
    ASSERT_EQ(after.status, 0) << after.text;
    EXPECT_EQ(after.end.get(9104), "1");
    EXPECT_TRUE(after.rows.empty());
    EXPECT_FALSE(changes(c, after.end.get(9102)).end.has(9104));
}

// A backup copied over the live file in place (same inode) under a running server: requests are refused
// with status 9 saying so, never answered from a half-copied file, until the server has opened the file
// anew; from then on replies are the copy's, and a revision held from before runs the full query.
TEST(Changes, AFileCopiedOverInPlaceIsRefusedUntilOpenedAnew) {
    WritableDemo own("copied.db");
    ASSERT_TRUE(own.ok);
    LiveServer live(own.path);
    RawClient c;
    ASSERT_TRUE(c.connect(live.port));
    ASSERT_TRUE(c.login("admin", "admin"));
    const Items full = {{697, ""}, {9020, "0"}};
    const std::size_t before = c.call(16477, full).rows.size();
    ASSERT_GT(before, 0u);
    const std::string held = changes(c, "").end.get(9102);

    const std::string backup = own.dir.path + "/backup.db";
    exec(own.writer, "VACUUM INTO '" + backup + "'");
    // The live file grows past the backup's size, so the copy shrinks it.
    exec(own.writer, "CREATE TABLE ballast(b BLOB); INSERT INTO ballast SELECT randomblob(1000000) FROM "
                     "(SELECT 1 UNION SELECT 2 UNION SELECT 3); DELETE FROM orders WHERE kind = 3; "
                     "DELETE FROM rules WHERE kind = 3");
    exec(own.writer, "PRAGMA wal_checkpoint(TRUNCATE)");
    own.writer.close();
    own.reader.close();
    ASSERT_LT(c.call(16477, full).rows.size(), before);
    {
        std::ifstream in(backup, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(own.path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    // Each worker's connection refuses one request, then opens the file anew.
    EXPECT_EQ(c.call(16477, full).status, 9);
    Reply served;
    for (int attempt = 0; attempt < 8 && served.status != 0; ++attempt) {
        served = c.call(16477, full);
        EXPECT_TRUE(served.status == 0 || served.status == 9) << served.text;
    }
    ASSERT_EQ(served.status, 0) << served.text;
    EXPECT_EQ(served.rows.size(), before) << "the copy's rows";
    EXPECT_EQ(changes(c, held).end.get(9104), "1");
}

// 16501 says "changed" only of orders the operator's own full query would list: a teller asking about a
// customer of another branch is never told that customer's orders changed.
TEST(Changes, OrderChangesAreToldOnlyOfCustomersTheOperatorMaySee) {
    WritableDemo own("orders.db");
    ASSERT_TRUE(own.ok);
    LiveServer live(own.path);
    RawClient teller;
    ASSERT_TRUE(teller.connect(live.port));
    ASSERT_TRUE(teller.login("teller", "teller"));
    const auto orderOf = [&](const std::string& branchTest) {
        const std::string sql =
            "SELECT o.khh || '/' || o.lsh || '/' || o.kind FROM orders o JOIN customers c "
            "ON c.khh = o.khh WHERE o.hist = 0 AND c.branch " +
            branchTest + " ORDER BY o.lsh LIMIT 1";
        const std::string found = firstText(own.writer, sql);
        const std::size_t a = found.find('/'), b = found.rfind('/');
        return Items{
            {605, found.substr(0, a)}, {1855, found.substr(a + 1, b - a - 1)}, {1842, found.substr(b + 1)}};
    };
    const Items mine = orderOf("= '0101'"), foreign = orderOf("<> '0101'");
    ASSERT_FALSE(mine[1].second.empty());
    ASSERT_FALSE(foreign[1].second.empty());
    Items askMine = mine, askForeign = foreign;
    askMine.emplace_back(9101, teller.call(16501, mine).end.get(9102));
    askForeign.emplace_back(9101, teller.call(16501, foreign).end.get(9102));
    exec(own.writer, "UPDATE orders SET filled = filled + 1 WHERE lsh IN (" + mine[1].second + ", " +
                         foreign[1].second + ")");
    const Reply other = teller.call(16501, askForeign);
    ASSERT_EQ(other.status, 0) << other.text;
    EXPECT_FALSE(other.end.has(9105));
    EXPECT_TRUE(other.rows.empty());
    const Reply own16501 = teller.call(16501, askMine);
    ASSERT_EQ(own16501.status, 0) << own16501.text;
    EXPECT_EQ(own16501.end.get(9105), "1");
    EXPECT_FALSE(own16501.rows.empty());
}

} // namespace
} // namespace orvo::test
