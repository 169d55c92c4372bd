// The demo data: the same seed and date give the same rows; what the client relies on is there.
#include "ServerFixture.h"

#include "server/demo/PrepareStore.h"

#include <gtest/gtest.h>

namespace orvo::test {
namespace {

std::string dump(const std::string& path, const std::string& sql) {
    server::Db db;
    std::string error, out;
    if (!db.open(path, true, error))
        return "cannot open: " + error;
    server::Statement stmt;
    if (!db.prepare(sql, stmt, error))
        return "cannot prepare: " + error;
    while (stmt.step() == SQLITE_ROW) {
        for (int i = 0; i < stmt.columnCount(); ++i)
            out.append(stmt.text(i)).push_back('|');
        out.push_back('\n');
    }
    return out;
}

TEST(DemoData, SameSeedSameRowsOtherSeedOtherRows) {
    TempDir dir;
    server::DemoOptions options;
    options.today = kToday;
    std::string error;
    ASSERT_TRUE(server::prepareStore(dir.path + "/a.db", &options, error)) << error;
    ASSERT_TRUE(server::prepareStore(dir.path + "/b.db", &options, error)) << error;
    options.seed = 7;
    ASSERT_TRUE(server::prepareStore(dir.path + "/c.db", &options, error)) << error;
    // Every column but the revisions, which the database draws from its clock.
    const std::string columns = dump(dir.path + "/a.db", "SELECT group_concat(name, ', ') FROM "
                                                         "pragma_table_info('rules') WHERE name <> 'rev'");
    const std::string rules = "SELECT " + columns.substr(0, columns.find('|')) + " FROM rules ORDER BY lsh";
    const std::string orderColumns =
        dump(dir.path + "/a.db", "SELECT group_concat(name, ', ') FROM "
                                 "pragma_table_info('orders') WHERE name <> 'rev'");
    const std::string orders =
        "SELECT " + orderColumns.substr(0, orderColumns.find('|')) + " FROM orders ORDER BY id";
    EXPECT_EQ(dump(dir.path + "/a.db", rules), dump(dir.path + "/b.db", rules));
    EXPECT_EQ(dump(dir.path + "/a.db", orders), dump(dir.path + "/b.db", orders));
    EXPECT_NE(dump(dir.path + "/a.db", rules), dump(dir.path + "/c.db", rules));
}

TEST(DemoData, HoldsEveryCaseTheClientShows) {
    // Valid and expired rules, triggered and not, of every kind.
    for (int kind : {2, 3, 4, 5, 6, 7}) {
        const std::string k = std::to_string(kind);
        EXPECT_GT(scalar("SELECT COUNT(*) FROM rules WHERE kind = " + k + " AND valid_date >= ?", {kToday}),
                  0)
            << k;
        EXPECT_GT(scalar("SELECT COUNT(*) FROM rules WHERE kind = " + k + " AND valid_date < ?", {kToday}), 0)
            << k;
        EXPECT_GT(scalar("SELECT COUNT(*) FROM orders WHERE kind = " + k), 0) << k;
    }
    EXPECT_GT(scalar("SELECT COUNT(*) FROM rules WHERE kind = 2 AND cfzt = 0"), 0);
    EXPECT_GT(scalar("SELECT COUNT(*) FROM rules WHERE kind = 2 AND cfzt = 1"), 0);
    // Zero offsets (empty prices on the client) next to real ones.
    EXPECT_GT(scalar("SELECT COUNT(*) FROM rules WHERE kind = 3 AND off_profit_trig = '0'"), 0);
    EXPECT_GT(scalar("SELECT COUNT(*) FROM rules WHERE kind = 3 AND off_profit_trig <> '0'"), 0);
    // Orders flagged "W", current and history.
    EXPECT_GT(scalar("SELECT COUNT(*) FROM orders WHERE flag = 'W' AND hist = 0"), 0);
    EXPECT_GT(scalar("SELECT COUNT(*) FROM orders WHERE flag = 'W' AND hist = 1"), 0);
    // Organisation: head office, branches and offices, one of them under another office.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM YYB WHERE JGLB = '0'"), 1);
    EXPECT_GT(scalar("SELECT COUNT(*) FROM YYB WHERE JGLB = '2' AND SJJGLB = '1'"), 0);
    EXPECT_GT(scalar("SELECT COUNT(*) FROM YYB WHERE JGLB = '2' AND SJJGLB = '2'"), 0);
    // Every customer belongs to a group of its own branch.
    EXPECT_EQ(
        scalar("SELECT COUNT(*) FROM customers c LEFT JOIN KHQZ q ON q.KHQZ = c.khqz AND q.YYB = c.branch "
               "WHERE q.KHQZ IS NULL"),
        0);
    // Contracts name their exchange and variety as the tables do.
    EXPECT_EQ(
        scalar(
            "SELECT COUNT(*) FROM QHHYDM h LEFT JOIN QHPZ p ON p.ZQLB = h.ZQLB AND p.JYS = h.JYS "
            "LEFT JOIN QHJYS j ON j.JYS = h.JYS WHERE p.ZQLB IS NULL OR j.JYS IS NULL OR h.JYSMC <> j.JYSJC"),
        0);
    // Passwords are stored as Argon2id hashes, never as text.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM operators WHERE pwhash LIKE '$argon2id$%'"), 2);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM operators WHERE pwhash LIKE '%admin%' OR pwhash LIKE '%teller%'"),
              0);
}

TEST(DemoData, AnotherSchemaVersionIsRefused) {
    TempDir dir;
    const std::string path = dir.path + "/old.db";
    {
        server::Db db;
        std::string error;
        ASSERT_TRUE(db.open(path, false, error));
        ASSERT_TRUE(db.exec("CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                            "INSERT INTO meta VALUES('schema_version', '0');",
                            error));
    }
    std::string error;
    EXPECT_FALSE(server::prepareStore(path, nullptr, error));
    EXPECT_NE(error.find("schema version"), std::string::npos);
}

} // namespace
} // namespace orvo::test
