// The same requests against a server on SQLite and a server on PostgreSQL, both seeded with the same demo
// data, must get the same replies, frame by frame and item by item.
#include "RawClient.h"

#include "server/CounterServer.h"
#include "server/demo/PgSeed.h"
#include "server/demo/PrepareStore.h"
#include "server/functions/Functions.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/sqlite/Db.h"
#include "tests/support/PgTestCluster.h"

#include "protocol/Header.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>

namespace orvo::test {
namespace {

using namespace orvo::server;

constexpr const char* kToday = "2026.12.07";

struct Call {
    std::string what;
    std::uint32_t function;
    Items items;
};

// Everything a reply carries, in order: a difference anywhere shows up as a difference here.
std::string dump(const Reply& reply) {
    std::string out = "complete=" + std::to_string(reply.complete) +
                      " status=" + std::to_string(reply.status) + " rows=" + std::to_string(reply.rowCount) +
                      " text=" + reply.text + "\n";
    for (const Row& row : reply.rows) {
        for (const auto& [key, value] : row.items)
            out += key + "=" + value + "\x01";
        out += "\n";
    }
    return out;
}

std::string firstValue(Db& db, const char* sql) {
    Statement stmt;
    std::string error;
    if (!db.prepare(sql, stmt, error) || stmt.step() != SQLITE_ROW)
        return {};
    return std::string(stmt.text(0));
}

// The requests of an operator's session: every function, with and without conditions, and bad requests.
std::vector<Call> sessionCalls(Db& data) {
    const std::string branch = firstValue(data, "SELECT branch FROM customers ORDER BY khh LIMIT 1");
    const std::string group =
        firstValue(data, "SELECT khqz FROM customers WHERE khqz <> '' ORDER BY khh LIMIT 1");
    const std::string customer =
        firstValue(data, "SELECT khh FROM rules WHERE kind = 3 ORDER BY lsh LIMIT 1");
    const std::string exchange =
        firstValue(data, "SELECT jys FROM rules WHERE kind = 3 ORDER BY lsh LIMIT 1");
    const std::string contract =
        firstValue(data, "SELECT hydm FROM rules WHERE kind = 7 ORDER BY lsh LIMIT 1");
    const std::string orderCustomer =
        firstValue(data, "SELECT khh FROM orders WHERE hist = 0 ORDER BY id LIMIT 1");
    const std::string orderRule =
        firstValue(data, "SELECT lsh FROM orders WHERE hist = 0 ORDER BY id LIMIT 1");
    const std::string histCustomer =
        firstValue(data, "SELECT khh FROM orders WHERE hist = 1 ORDER BY id LIMIT 1");
    const std::string histRule =
        firstValue(data, "SELECT lsh FROM orders WHERE hist = 1 ORDER BY id LIMIT 1");
    EXPECT_FALSE(customer.empty() || orderRule.empty() || histRule.empty())
        << "demo data lacks rules or orders";

    std::vector<Call> calls{
        {"permissions", kFunctionPermissions, {}},
        {"unknown function", 99999, {}},
        {"unknown table", proto::kFunctionDownloadTable, {{proto::kTagTable, "NOPE"}}},
        {"current orders", kFunctionCurrentOrders, {{605, orderCustomer}, {1855, orderRule}}},
        {"history orders", kFunctionHistoryOrders, {{605, histCustomer}, {1855, histRule}}},
        {"history orders in dates",
         kFunctionHistoryOrders,
         {{605, histCustomer}, {1855, histRule}, {618, "2026.01.01"}, {590, kToday}}},
        {"orders without customer", kFunctionCurrentOrders, {{1855, orderRule}}},
        {"orders with bad date",
         kFunctionHistoryOrders,
         {{605, histCustomer}, {1855, histRule}, {618, "2026.13.01"}}},
        {"batch without category", kFunctionBatchLinked, {}},
        {"rules with bad validity", kFunctionStopProfit, {{9020, "7"}}},
        {"groups", kFunctionLinkGroups, {}},
        {"groups of branch", kFunctionLinkGroups, {{697, branch}}},
        {"sub-groups", kFunctionLinkSubgroups, {}},
        {"sub-groups of group", kFunctionLinkSubgroups, {{610, group}}},
    };
    for (const char* table :
         {"YYB", "KHQZ", "QHJYS", "JYS", "QHPZ", "QHHYDM", "QHXTDM", "XTDM", "BZ", "ZQLB", "YWKM", "JYLB"})
        calls.push_back(
            {std::string("table ") + table, proto::kFunctionDownloadTable, {{proto::kTagTable, table}}});
    const std::vector<std::pair<std::uint32_t, Items>> kinds{{kFunctionPriceTrigger, {}},
                                                             {kFunctionStopProfit, {}},
                                                             {kFunctionFillTrigger, {}},
                                                             {kFunctionArbitrage, {}},
                                                             {kFunctionBatchLinked, {{1842, "6"}}},
                                                             {kFunctionBatchLinked, {{1842, "5"}}}};
    const std::vector<std::pair<std::string, Items>> conditions{
        {"all", {}},
        {"valid", {{9020, "0"}}},
        {"expired in dates", {{9020, "1"}, {618, "2026.01.01"}, {590, "2026.12.06"}}},
        {"branch", {{697, branch}}},
        {"group", {{610, group}}},
        {"customer", {{605, customer}}},
        {"exchange", {{599, exchange}}},
        {"contract", {{719, contract}}},
    };
    for (const auto& [function, kindItems] : kinds)
        for (const auto& [name, conditionItems] : conditions) {
            Items items = kindItems;
            items.insert(items.end(), conditionItems.begin(), conditionItems.end());
            calls.push_back({"rules " + std::to_string(function) + " " + name, function, items});
        }
    return calls;
}

class StoreConformanceTest : public PgClusterTest {
protected:
    void TearDown() override {
        std::error_code ignored;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ignored);
    }
    // A fresh folder, removed after the test.
    std::string folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvo-conform-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_dir = pattern;
        return m_dir;
    }

private:
    std::string m_dir;
};

TEST_F(StoreConformanceTest, SqliteAndPostgresGiveTheSameReplies) {
    std::string error;
    const std::string dir = folder();
    ASSERT_FALSE(dir.empty());
    DemoOptions demo;
    demo.today = kToday;
    const std::string sqlitePath = dir + "/counter.db";
    ASSERT_TRUE(prepareStore(sqlitePath, &demo, error)) << error;
    {
        pg::PgConnection admin;
        ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
        ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS conformance", error)) << error;
        ASSERT_TRUE(admin.exec("CREATE DATABASE conformance", error)) << error;
    }
    const std::string conninfo = cluster().conninfo("conformance");
    ASSERT_TRUE(pg::preparePgStore(conninfo, &demo, error)) << error;

    auto serve = [&](const std::string& db) {
        ServerOptions options;
        options.dbPath = db;
        options.dbPoolSize = 2;
        options.today = kToday;
        options.workers = 2;
        options.log = [](std::string_view) {};
        auto server = std::make_unique<CounterServer>(options);
        EXPECT_GT(server->start("127.0.0.1", 0, error), 0) << error;
        return server;
    };
    const auto onSqlite = serve(sqlitePath);
    const auto onPostgres = serve(conninfo);
    ASSERT_GT(onSqlite->port(), 0);
    ASSERT_GT(onPostgres->port(), 0);

    Db data;
    ASSERT_TRUE(data.open(sqlitePath, true, error)) << error;
    const std::vector<Call> calls = sessionCalls(data);
    int rowsCompared = 0;
    for (const auto& [name, password] : std::vector<std::pair<std::string, std::string>>{
             {"admin", "admin"}, {"teller", "teller"}, {"admin", "wrong"}, {"nobody", "x"}}) {
        RawClient a, b;
        ASSERT_TRUE(a.connect(onSqlite->port()));
        ASSERT_TRUE(b.connect(onPostgres->port()));
        const Items login{{proto::kTagOperator, name}, {proto::kTagPassword, password}};
        ASSERT_EQ(dump(a.call(proto::kFunctionLogin, login)), dump(b.call(proto::kFunctionLogin, login)))
            << name << "/" << password;
        if (password != name)
            continue; // refused: the rest is the same "not logged in" for both
        for (const Call& call : calls) {
            const Reply left = a.call(call.function, call.items);
            const Reply right = b.call(call.function, call.items);
            ASSERT_TRUE(left.complete) << call.what;
            EXPECT_EQ(dump(left), dump(right)) << name << ": " << call.what;
            rowsCompared += static_cast<int>(left.rows.size());
        }
    }
    // The demo data must have given both servers something to disagree about.
    EXPECT_GT(rowsCompared, 1000);

    // Both servers now keep the stop-loss rules encoded. The same writes on both databases (a rule
    // changed, a customer renamed to a name with 0x01 and a character GBK cannot hold, a rule deleted
    // and its serial used again) show in the next replies, alike.
    const std::string changed = firstValue(data, "SELECT lsh FROM rules WHERE kind = 3 ORDER BY lsh LIMIT 1");
    const std::string reused =
        firstValue(data, "SELECT lsh FROM rules WHERE kind = 3 ORDER BY lsh LIMIT 1 OFFSET 1");
    const std::string renamed =
        firstValue(data, "SELECT khh FROM rules WHERE kind = 3 ORDER BY lsh DESC LIMIT 1");
    const std::vector<std::pair<std::string, std::vector<std::string>>> writes{
        {"UPDATE rules SET price = '99.5' WHERE lsh = ?", {changed}},
        {"UPDATE customers SET name = ? WHERE khh = ?",
         {"A\x01"
          "B\xF0\x9F\x98\x80"
          "C",
          renamed}},
        {"DELETE FROM orders WHERE lsh = ?", {reused}},
        {"DELETE FROM rules WHERE lsh = ?", {reused}},
        {"INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) "
         "VALUES(?, 3, ?, 'zz2612', '2026.12.01', '2026.12.31')",
         {reused, renamed}},
    };
    Db writer;
    ASSERT_TRUE(writer.open(sqlitePath, false, error)) << error;
    pg::PgConnection pgWriter;
    ASSERT_TRUE(pgWriter.open(conninfo, error)) << error;
    for (const auto& [sql, values] : writes) {
        Statement stmt;
        ASSERT_TRUE(writer.prepare(sql, stmt, error)) << error;
        pg::PgParams params;
        std::string pgSql;
        int placeholder = 0;
        for (const char c : sql)
            pgSql += c == '?' ? "$" + std::to_string(++placeholder) : std::string(1, c);
        for (std::size_t i = 0; i < values.size(); ++i) {
            stmt.bind(static_cast<int>(i) + 1, std::string_view(values[i]));
            params.add(values[i]);
        }
        ASSERT_TRUE(stmt.execute()) << writer.lastError();
        ASSERT_TRUE(pgWriter.query(pgSql.c_str(), params, error)) << sql << ": " << error;
    }
    RawClient a, b;
    ASSERT_TRUE(a.connect(onSqlite->port()) && a.login("admin", "admin"));
    ASSERT_TRUE(b.connect(onPostgres->port()) && b.login("admin", "admin"));
    const Reply left = a.call(kFunctionStopProfit, {});
    EXPECT_EQ(dump(left), dump(b.call(kFunctionStopProfit, {})));
    int seen = 0;
    for (const Row& row : left.rows) {
        if (row.get(797) == changed) {
            EXPECT_EQ(row.get(682), "99.5");
            ++seen;
        }
        if (row.get(797) == reused) {
            EXPECT_EQ(row.get(719), "zz2612");
            ++seen;
        }
        if (row.get(605) == renamed) {
            EXPECT_EQ(row.get(613), "A?B?C");
            ++seen;
        }
    }
    EXPECT_GE(seen, 3);
    onSqlite->stop();
    onPostgres->stop();
}

} // namespace
} // namespace orvo::test
