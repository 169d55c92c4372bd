// Rule rows kept encoded between replies: a reply served from the kept rows is byte for byte the reply
// read afresh, whatever was written between two replies.
#include "ServerFixture.h"

#include "protocol/Protocol.h"
#include "server/demo/PrepareStore.h"
#include "server/functions/Functions.h"
#include "server/store/CachedRows.h"
#include "server/store/RowCache.h"
#include "server/store/RowCacheWarmup.h"
#include "server/store/StoreSource.h"
#include "server/store/sqlite/SqliteStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace orvo::test {
namespace {

// The bytes of admin's 16477 reply through a SQLite store on db, with or without a row cache.
std::string replyBytes(server::Db& db, server::RowCache* cache) {
    server::sqlite::SqliteStore store(db, cache);
    return adminStopProfitReply(store, 7);
}

// Serial -> the row's items, of a reply's bytes.
std::map<long long, std::map<std::uint32_t, std::string>> rowsOf(const std::string& bytes) {
    std::map<long long, std::map<std::uint32_t, std::string>> rows;
    proto::FrameReader reader;
    reader.Feed(bytes);
    proto::Frame frame;
    while (reader.Next(frame) == proto::ReadResult::Frame) {
        const proto::Item* serial = frame.Find(797);
        if (!serial)
            continue;
        auto& row = rows[std::stoll(std::string(serial->value))];
        for (const proto::Item& item : frame.items)
            row[item.tag] = std::string(item.value);
    }
    EXPECT_EQ(reader.error(), proto::Error::None);
    return rows;
}

// A rule changed, a customer renamed (to a name with 0x01 and a character GBK cannot hold), a rule
// deleted and its serial used again by a new rule, and one more rule added: the next reply through the
// kept rows shows each change, exactly as a reply read afresh does.
TEST(RowCache, KeptRowsFollowEveryWriteBetweenTwoReplies) {
    WritableDemo own("kept.db");
    ASSERT_TRUE(own.ok);
    server::Db& reader = own.reader;
    server::Db& writer = own.writer;
    std::string error;

    server::RowCache cache(4 * 1024 * 1024);
    const std::string fresh = replyBytes(reader, nullptr);
    EXPECT_EQ(replyBytes(reader, &cache), fresh); // filling the cache
    EXPECT_EQ(replyBytes(reader, &cache), fresh); // served from it
    const auto before = rowsOf(fresh);
    ASSERT_GE(before.size(), 3u);
    EXPECT_EQ(cache.entries(), before.size());

    const long long changed = before.begin()->first;
    const long long reused = std::next(before.begin())->first;
    const std::string renamed = before.rbegin()->second.at(605);
    server::Statement last;
    ASSERT_TRUE(writer.prepare("SELECT max(lsh) + 1 FROM rules", last, error)) << error;
    ASSERT_EQ(last.step(), SQLITE_ROW);
    const long long added = last.integer(0);
    const auto run = [&](const std::string& sql, const std::vector<std::string>& values) {
        server::Statement stmt;
        ASSERT_TRUE(writer.prepare(sql, stmt, error)) << error;
        for (std::size_t i = 0; i < values.size(); ++i)
            stmt.bind(static_cast<int>(i) + 1, std::string_view(values[i]));
        ASSERT_TRUE(stmt.execute()) << writer.lastError();
    };
    run("UPDATE rules SET price = '99.5' WHERE lsh = ?", {std::to_string(changed)});
    run("UPDATE customers SET name = ? WHERE khh = ?", {"A\x01"
                                                        "B\xF0\x9F\x98\x80"
                                                        "C",
                                                        renamed});
    run("DELETE FROM orders WHERE lsh = ?", {std::to_string(reused)});
    run("DELETE FROM rules WHERE lsh = ?", {std::to_string(reused)});
    const std::string insert = "INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) "
                               "VALUES(?, 3, ?, ?, '2026.12.01', '2026.12.31')";
    run(insert, {std::to_string(reused), before.begin()->second.at(605), "zz2612"});
    run(insert, {std::to_string(added), before.begin()->second.at(605), "zz2701"});

    const std::string kept = replyBytes(reader, &cache);
    EXPECT_EQ(kept, replyBytes(reader, nullptr));
    const auto after = rowsOf(kept);
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.at(changed).at(682), "99.5");
    EXPECT_EQ(after.at(reused).at(719), "zz2612");
    EXPECT_EQ(after.at(added).at(719), "zz2701");
    int renamedRows = 0;
    for (const auto& [serial, row] : after)
        if (row.at(605) == renamed) {
            EXPECT_EQ(row.at(613), "A?B?C") << serial;
            ++renamedRows;
        }
    EXPECT_GT(renamedRows, 0);
}

// Copies one database into another whole, as a restore does.
void copyDatabase(server::Db& from, server::Db& to) {
    sqlite3_backup* copy = sqlite3_backup_init(to.handle(), "main", from.handle(), "main");
    ASSERT_NE(copy, nullptr) << to.lastError();
    EXPECT_EQ(sqlite3_backup_step(copy, -1), SQLITE_DONE);
    EXPECT_EQ(sqlite3_backup_finish(copy), SQLITE_OK) << to.lastError();
}

void setPrice(server::Db& db, long long serial, const char* price) {
    server::Statement update;
    std::string error;
    ASSERT_TRUE(db.prepare("UPDATE rules SET price = ? WHERE lsh = ?", update, error)) << error;
    update.bind(1, std::string_view(price));
    update.bind(2, std::int64_t{serial});
    ASSERT_TRUE(update.execute()) << db.lastError();
}

// A cache holding most of a reply: a stretch of a hundred rules changed together is read afresh in one
// pass and goes out in its place among the kept rows, which it replaces.
TEST(RowCache, ChangedRowsAmongKeptOnesGoOutInOrder) {
    WritableDemo own("partly.db");
    ASSERT_TRUE(own.ok);
    std::string error;
    // Three hundred more rules with serials in a row, so that a hundred of them changed make a stretch.
    ASSERT_TRUE(own.writer.exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
        "INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) SELECT (SELECT max(lsh) FROM rules) + "
        "i, "
        "3, (SELECT khh FROM rules WHERE kind = 3 LIMIT 1), 'zz2612', '2026.12.01', '2026.12.31' FROM n",
        error))
        << error;
    server::RowCache cache(4 * 1024 * 1024);
    const auto before = rowsOf(replyBytes(own.reader, &cache));
    std::vector<long long> serials;
    for (const auto& [serial, row] : before)
        serials.push_back(serial);
    ASSERT_GE(serials.size(), 300u);
    const std::size_t from = serials.size() - 200;
    server::Statement stretch;
    ASSERT_TRUE(
        own.writer.prepare("UPDATE rules SET price = '77.25' WHERE lsh BETWEEN ? AND ?", stretch, error))
        << error;
    stretch.bind(1, std::int64_t{serials[from]});
    stretch.bind(2, std::int64_t{serials[from + 99]});
    ASSERT_TRUE(stretch.execute()) << own.writer.lastError();

    const std::string kept = replyBytes(own.reader, &cache);
    EXPECT_EQ(kept, replyBytes(own.reader, nullptr));
    const auto after = rowsOf(kept);
    EXPECT_EQ(after.at(serials[from + 50]).at(682), "77.25");
    EXPECT_EQ(after.at(serials[from + 100]).at(682), before.at(serials[from + 100]).at(682));
    EXPECT_EQ(after.at(serials.back()).at(682), before.at(serials.back()).at(682));
    EXPECT_EQ(cache.entries(), before.size());
}

// The rows of a kind within validity, as a query lists them, and whether the cache holds each current.
std::size_t heldOfListed(server::Db& db, server::RowCache& cache, int category, std::size_t& listedCount) {
    std::string error;
    server::Statement names, listing;
    EXPECT_TRUE(db.prepare("SELECT names FROM rule_revision WHERE id = 1", names, error)) << error;
    EXPECT_EQ(names.step(), SQLITE_ROW);
    EXPECT_TRUE(
        db.prepare("SELECT r.lsh, r.rev FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.kind = ? "
                   "AND r.valid_date >= ? ORDER BY r.lsh",
                   listing, error))
        << error;
    listing.bind(1, std::int64_t{category});
    listing.bind(2, std::string_view(kToday));
    std::vector<server::ListedRow> listed;
    while (listing.step() == SQLITE_ROW)
        listed.push_back({listing.integer(0), listing.integer(1)});
    listedCount = listed.size();
    std::size_t held = 0;
    cache.readBatch(
        category, listed, [&held](std::size_t, std::string_view) { ++held; }, names.integer(0));
    return held;
}

// The warm-up at a server's start keeps what a query of the kind keeps: afterwards a query finds every
// row it lists kept, except rows changed while the warm-up read (kept at the revision its snapshot saw,
// so passed over), and the reply is byte for byte the one read afresh. Once the cache is emptied (another
// file or cluster) the warm-up ends and keeps nothing more.
TEST(RowCache, WarmupKeepsWhatAQueryWouldAndStopsWhenTheCacheIsEmptied) {
    WritableDemo own("warm.db");
    ASSERT_TRUE(own.ok);
    std::string error;
    // Enough rules that the warm-up's reading comes by its checks between batches a few times.
    ASSERT_TRUE(own.writer.exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
        "INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) SELECT (SELECT max(lsh) FROM rules) + "
        "i, 3, (SELECT khh FROM rules WHERE kind = 3 LIMIT 1), 'zz2612', '2026.12.01', '2026.12.31' FROM n",
        error))
        << error;
    server::RowCacheWarmup::Setup setup;
    setup.today = kToday;
    setup.kinds.push_back({server::kCategoryStopProfit, {}});
    ASSERT_TRUE(server::ruleColumnsOf(server::kCategoryStopProfit, setup.kinds[0].columns));
    int checks = 0;
    setup.waitForRequests = [&](std::chrono::milliseconds) {
        if (checks++ > 0)
            return;
        EXPECT_TRUE(own.writer.exec(
            "UPDATE rules SET price = '66.5' WHERE lsh IN ((SELECT min(lsh) FROM rules WHERE kind = 3 "
            "AND valid_date >= '2026.12.07'), (SELECT max(lsh) FROM rules WHERE kind = 3))",
            error))
            << error;
    };
    const auto source = server::StoreSource::create(own.path, 1, 8 * 1024 * 1024);
    server::WarmupReport report;
    {
        server::RowCacheWarmup warmup(*source, setup);
        ASSERT_TRUE(warmup.waitDone(std::chrono::seconds(20), report));
    }
    EXPECT_EQ(report.ended, "done");
    EXPECT_GE(checks, 1); // the change came while the warm-up read
    std::size_t listed = 0;
    const std::size_t held =
        heldOfListed(own.reader, source->rowCache(), server::kCategoryStopProfit, listed);
    EXPECT_EQ(held + 2, listed);
    EXPECT_GE(listed, 600u);
    const std::string kept = replyBytes(own.reader, &source->rowCache());
    EXPECT_EQ(kept, replyBytes(own.reader, nullptr));
    EXPECT_EQ(rowsOf(kept).rbegin()->second.at(682), "66.5");

    // Every kind, and the cache emptied at the first check.
    setup.kinds.clear();
    for (const int category : {2, 3, 4, 5, 6, 7}) {
        setup.kinds.push_back({category, {}});
        ASSERT_TRUE(server::ruleColumnsOf(category, setup.kinds.back().columns));
    }
    const auto emptied = server::StoreSource::create(own.path, 1, 8 * 1024 * 1024);
    checks = 0;
    setup.waitForRequests = [&](std::chrono::milliseconds) {
        if (checks++ == 0)
            emptied->rowCache().clear();
    };
    {
        server::RowCacheWarmup warmup(*emptied, setup);
        ASSERT_TRUE(warmup.waitDone(std::chrono::seconds(20), report));
    }
    EXPECT_EQ(report.ended, "the cache was emptied");
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(emptied->rowCache().entries(), 0u);
}

// A backup restored into the live database takes the revision counter back with it; the next write must
// still not give a kept row's revision to other contents. Backup, change rule L, read it through the
// cache, restore, change L again: the reply shows the second change.
TEST(RowCache, ARestoredBackupNeverBringsBackAKeptRow) {
    WritableDemo own("restored.db");
    ASSERT_TRUE(own.ok);
    std::string error;
    server::Db backup;
    ASSERT_TRUE(backup.open(own.dir.path + "/backup.db", false, error)) << error;
    copyDatabase(own.writer, backup);

    server::RowCache cache(4 * 1024 * 1024);
    const long long serial = rowsOf(replyBytes(own.reader, nullptr)).begin()->first;
    setPrice(own.writer, serial, "1111.00");
    std::this_thread::sleep_for(std::chrono::milliseconds(3)); // the counter behind the clock again
    EXPECT_EQ(rowsOf(replyBytes(own.reader, &cache)).at(serial).at(682), "1111.00");
    ASSERT_GT(cache.entries(), 0u);

    copyDatabase(backup, own.writer);
    setPrice(own.writer, serial, "2222.00");
    const std::string kept = replyBytes(own.reader, &cache);
    EXPECT_EQ(rowsOf(kept).at(serial).at(682), "2222.00");
    EXPECT_EQ(kept, replyBytes(own.reader, nullptr));
}

// A file moved over the database's path is what the next request reads, through a store that opened
// the old one; a path left without a file is refused rather than read from the deleted file.
TEST(RowCache, AFileReplacedUnderTheServerIsReadAnewAndAFileGoneIsRefused) {
    WritableDemo own("served.db");
    ASSERT_TRUE(own.ok);
    std::string error;
    const std::string other = own.dir.path + "/other.db";
    {
        server::Db copy;
        ASSERT_TRUE(copy.open(other, false, error)) << error;
        copyDatabase(own.writer, copy);
    }
    own.writer.close();
    own.reader.close();
    server::RowCache cache(4 * 1024 * 1024);
    server::Db served;
    ASSERT_TRUE(served.open(own.path, true, error)) << error;
    server::sqlite::SqliteStore store(std::move(served), &cache);
    const auto before = rowsOf(adminStopProfitReply(store, 7));
    ASSERT_FALSE(before.empty());
    ASSERT_GT(cache.entries(), 0u);
    const long long serial = before.begin()->first;
    {
        server::Db copy;
        ASSERT_TRUE(copy.open(other, false, error)) << error;
        setPrice(copy, serial, "3333.00");
    }
    ASSERT_EQ(std::rename(other.c_str(), own.path.c_str()), 0);
    const auto after = rowsOf(adminStopProfitReply(store, 8));
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after.at(serial).at(682), "3333.00");

    ASSERT_EQ(std::remove(own.path.c_str()), 0);
    server::OperatorRecord record;
    EXPECT_FALSE(store.findOperator("admin", record, error));
    EXPECT_NE(error.find("served.db is gone"), std::string::npos) << error;
}

// Far more rows than fit: the cache stays within its limit, keeps making room (evicted rows leave no
// trace in its index), and whatever it answers is the row stored at exactly that revision.
TEST(RowCache, StaysWithinItsLimitAndAnswersOnlyTheRevisionStored) {
    constexpr std::size_t kLimit = 256 * 1024;
    server::RowCache cache(kLimit);
    const auto itemsOf = [](long long serial, long long rev) {
        return "797=" + std::to_string(serial) + "\x01" + "613=" + std::string(200, 'a' + rev % 26) + "\x01";
    };
    for (long long serial = 1; serial <= 20000; ++serial)
        cache.store({3, serial}, 1, itemsOf(serial, 1));
    EXPECT_LE(cache.bytes(), kLimit);
    EXPECT_GT(cache.entries(), 100u);
    for (long long serial = 19000; serial <= 20000; serial += 2) // rewritten at another revision
        cache.store({3, serial}, 2, itemsOf(serial, 2));
    // Looked up in one batch, with the revision stored, another one and another category.
    std::vector<server::ListedRow> rows, stale;
    for (long long serial = 1; serial <= 20000; ++serial) {
        const long long rev = serial >= 19000 && serial % 2 == 0 ? 2 : 1;
        rows.push_back({serial, rev});
        stale.push_back({serial, 3 - rev});
    }
    std::size_t found = 0, last = 0;
    cache.readBatch(3, rows, [&](std::size_t i, std::string_view items) {
        EXPECT_TRUE(found == 0 || i > last) << i;
        EXPECT_EQ(items, itemsOf(rows[i].serial, rows[i].rev)) << rows[i].serial;
        last = i;
        ++found;
    });
    const auto never = [](std::size_t i, std::string_view) { ADD_FAILURE() << i; };
    cache.readBatch(3, stale, never);
    cache.readBatch(2, rows, never);
    EXPECT_EQ(found, cache.entries());
    EXPECT_LE(cache.bytes(), kLimit);

    server::RowCache off(0);
    off.store({3, 1}, 1, "797=1\x01");
    EXPECT_FALSE(off.enabled());
    off.readBatch(3, std::vector<server::ListedRow>{{1, 1}}, never);
}

// Workers read batches while others store and evict: every row handed out is whole and is the row at
// the revision asked for.
TEST(RowCache, ReadersSeeWholeCurrentRowsWhileWritersStoreAndEvict) {
    server::RowCache cache(128 * 1024); // far less than the rows: stores keep evicting
    const auto itemsOf = [](std::int64_t serial, std::int64_t rev) {
        return "797=" + std::to_string(serial) + "\x01" + std::string(100 + serial % 50, 'a' + rev % 26) +
               "\x01";
    };
    constexpr std::int64_t kRows = 3000;
    std::atomic<bool> done{false};
    std::atomic<long> mismatches{0}, hits{0};
    std::thread writer([&] {
        for (std::int64_t rev = 1; rev <= 6; ++rev)
            for (std::int64_t serial = 1; serial <= kRows; ++serial)
                cache.store({3, serial}, rev, itemsOf(serial, rev));
        done = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&, r] {
            std::vector<server::ListedRow> rows;
            for (std::int64_t rev = 1 + r; !done; rev = rev % 6 + 1) {
                rows.clear();
                for (std::int64_t serial = 1; serial <= kRows; serial += 3)
                    rows.push_back({serial, rev});
                cache.readBatch(3, rows, [&](std::size_t i, std::string_view items) {
                    ++hits;
                    if (items != itemsOf(rows[i].serial, rows[i].rev))
                        ++mismatches;
                });
            }
        });
    writer.join();
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(hits, 0);
    EXPECT_LE(cache.bytes(), 128u * 1024u);
}

// Some customers' rules, listed customer by customer, go out in serial order whatever the serials'
// span: a few, a dense hundred thousand, and serials millions apart (more passes), negative ones too.
TEST(RowCache, ListedRowsSortBySerial) {
    std::mt19937_64 random(7);
    for (const std::int64_t span : {std::int64_t{100}, std::int64_t{100000}, std::int64_t{1} << 40}) {
        for (const std::size_t count : {std::size_t{5}, std::size_t{9000}}) {
            std::vector<server::ListedRow> rows;
            for (std::size_t i = 0; i < count; ++i) {
                const auto serial =
                    static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(span)) - span / 3;
                rows.push_back({serial, static_cast<std::int64_t>(i)});
            }
            std::vector<server::ListedRow> expected = rows;
            std::stable_sort(expected.begin(), expected.end(),
                             [](const auto& a, const auto& b) { return a.serial < b.serial; });
            server::sortBySerial(rows);
            ASSERT_EQ(rows.size(), expected.size());
            for (std::size_t i = 0; i < rows.size(); ++i)
                ASSERT_TRUE(rows[i].serial == expected[i].serial && rows[i].rev == expected[i].rev)
                    << span << " " << count << " at " << i;
        }
    }
}

} // namespace
} // namespace orvo::test
