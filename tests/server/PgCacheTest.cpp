// Kept rule rows on PostgreSQL never outlive the database state they were read from: not across a
// backup restored into the live database, nor across a customer renamed while another transaction
// writes that customer's rules.
#include "ServerFixture.h"

#include "protocol/Protocol.h"
#include "server/demo/PgSeed.h"
#include "server/store/RowCache.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgPool.h"
#include "server/store/postgres/PgStore.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace orvo::test {
namespace {

using Rows = std::map<long long, std::map<std::uint32_t, std::string>>;

Rows rowsOf(const std::string& bytes) {
    Rows rows;
    proto::FrameReader reader;
    reader.Feed(bytes);
    proto::Frame frame;
    while (reader.Next(frame) == proto::ReadResult::Frame)
        if (const proto::Item* serial = frame.Find(797))
            for (const proto::Item& item : frame.items)
                rows[std::stoll(std::string(serial->value))][item.tag] = std::string(item.value);
    return rows;
}

class PgCache : public PgClusterTest {
protected:
    void SetUp() override {
        PgClusterTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        server::pg::PgConnection admin;
        ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
        ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS cache_test", error)) << error;
        ASSERT_TRUE(admin.exec("CREATE DATABASE cache_test", error)) << error;
        m_conninfo = cluster().conninfo("cache_test");
        server::DemoOptions demo;
        demo.today = kToday;
        ASSERT_TRUE(server::pg::preparePgStore(m_conninfo, &demo, error)) << error;
        m_pool = std::make_unique<server::pg::PgPool>(m_conninfo, 2);
    }

    // admin's 16477 reply, through the cache or read afresh.
    std::string reply(bool cached) {
        server::pg::PgStore store(*m_pool, cached ? &m_cache : nullptr);
        return adminStopProfitReply(store, 7);
    }

    void exec(server::pg::PgConnection& conn, const std::string& sql) {
        std::string error;
        ASSERT_TRUE(conn.exec(sql.c_str(), error)) << sql << ": " << error;
    }

    std::string m_conninfo;
    std::unique_ptr<server::pg::PgPool> m_pool;
    server::RowCache m_cache{4 * 1024 * 1024};
};

// Backup, change rule L, read it through the cache, restore the backup into the live database, change L
// again: the reply shows the second change.
TEST_F(PgCache, ARestoredBackupNeverBringsBackAKeptRow) {
    TempDir dir;
    std::string error;
    const std::string dump = dir.path + "/counter.dump";
    const std::string backup = std::string(ORVO_COUNTERD) + " backup " + dump + " --db '" + m_conninfo + "'";
    ASSERT_EQ(std::system(backup.c_str()), 0);
    server::pg::PgConnection writer;
    ASSERT_TRUE(writer.open(m_conninfo, error)) << error;
    const long long serial = rowsOf(reply(false)).begin()->first;
    exec(writer, "UPDATE rules SET price = '1111.00' WHERE lsh = " + std::to_string(serial));
    EXPECT_EQ(rowsOf(reply(true)).at(serial).at(682), "1111.00");
    ASSERT_GT(m_cache.entries(), 0u);

    const std::string restore =
        PgCluster::binDir() + "/pg_restore --clean --single-transaction -d '" + m_conninfo + "' " + dump;
    ASSERT_EQ(std::system(restore.c_str()), 0);
    exec(writer, "UPDATE rules SET price = '2222.00' WHERE lsh = " + std::to_string(serial));
    const std::string kept = reply(true);
    EXPECT_EQ(rowsOf(kept).at(serial).at(682), "2222.00");
    EXPECT_EQ(kept, reply(false));
}

// One session renames a customer and has not committed when another adds a rule for that customer and
// moves another rule to it, and commits; a reply then keeps both rules with the old name. Once the rename
// commits, the reply shows the new name on both.
TEST_F(PgCache, ARuleWrittenWhileItsCustomerIsRenamedShowsTheNewName) {
    std::string error;
    server::pg::PgConnection renamer, writer;
    ASSERT_TRUE(renamer.open(m_conninfo, error)) << error;
    ASSERT_TRUE(writer.open(m_conninfo, error)) << error;
    const Rows before = rowsOf(reply(true));
    ASSERT_GE(before.size(), 2u);
    const std::string customer = before.begin()->second.at(605);
    long long moved = 0;
    for (const auto& [serial, row] : before)
        if (row.at(605) != customer)
            moved = serial;
    ASSERT_NE(moved, 0);
    const long long added = before.rbegin()->first + 1000;

    exec(renamer, "BEGIN");
    exec(renamer, "UPDATE customers SET name = 'Renamed' WHERE khh = '" + customer + "'");
    exec(writer, "BEGIN");
    exec(writer, "INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) VALUES(" +
                     std::to_string(added) + ", 3, '" + customer +
                     "', 'zz2612', '2026.12.01', '2026.12.31')");
    exec(writer, "UPDATE rules SET khh = '" + customer + "' WHERE lsh = " + std::to_string(moved));
    exec(writer, "COMMIT");
    const Rows during = rowsOf(reply(true));
    ASSERT_EQ(during.count(added), 1u);
    EXPECT_NE(during.at(added).at(613), "Renamed");
    exec(renamer, "COMMIT");

    const std::string kept = reply(true);
    const Rows after = rowsOf(kept);
    EXPECT_EQ(after.at(added).at(613), "Renamed");
    EXPECT_EQ(after.at(moved).at(613), "Renamed");
    EXPECT_EQ(kept, reply(false));
}

} // namespace
} // namespace orvo::test
