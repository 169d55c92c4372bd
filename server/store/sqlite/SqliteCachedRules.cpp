// The rule query on SQLite through the row cache. The rows selected are listed by serial and revision
// only, off covering indexes ((kind, lsh, rev, valid_date) for a whole kind, (khh, kind, valid_date,
// rev) for some customers' rules); only rows the cache lacks at that revision are read in full, with
// their customer's name, in the listing's snapshot. When the cache lacks most of the first batch listed,
// the listing is dropped and every row is read straight off the table, sent and kept as it passes.
#include "server/common/CustomerNames.h"
#include "server/store/CachedRows.h"
#include "server/store/RowKeeper.h"
#include "server/store/sqlite/SqlQuery.h"
#include "server/store/sqlite/SqliteFilters.h"
#include "server/store/sqlite/SqliteRuleRows.h"
#include "server/store/sqlite/SqliteStore.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvo::server::sqlite {
namespace {

// Reads rules in full by serial, two ways. A few scattered rows: one statement through the customers'
// join, the serials bound as one JSON array. Many rows close together (a stretch of rules changed, or
// pushed out of the cache): the table's stretch from the first serial to the last read in order, the
// rows not asked for skipped, and the names from a table of every customer's, read once per reply (as
// the direct path does). Either way a rule whose account has no customer is not delivered.
class RuleFetch {
public:
    // The statements are prepared on the first fetch: a reply the cache answers whole needs none.
    RuleFetch(Db& db, std::span<const ReplyColumn> columns, ReplyWriter& reply)
        : m_db(db), m_columns(columns), m_items(reply) {}

    bool fetch(std::span<const std::int64_t> serials, const RowDelivery& deliver, std::string& error) {
        if (serials.empty())
            return true;
        if (!m_prepared && !prepare(error))
            return false;
        const auto span = static_cast<std::uint64_t>(serials.back() - serials.front());
        if (serials.size() >= kStretchRows && span < 2 * serials.size())
            return fetchStretch(serials, deliver, error);
        return fetchScattered(serials, deliver, error);
    }

private:
    static constexpr std::size_t kStretchRows = 64;

    bool prepare(std::string& error) {
        // Columns: 0 the serial, 1 the revision, 2 the customer's name or account, then the reply's.
        SqlQuery scattered("SELECT r.lsh, r.rev, c.name");
        SqlQuery stretch("SELECT r.lsh, r.rev, r.khh");
        std::vector<OutputColumn> same;
        if (!selectRuleColumns(m_columns, scattered, 3, m_output, error) ||
            !selectRuleColumns(m_columns, stretch, 3, same, error))
            return false;
        scattered.sql(" FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.lsh IN (SELECT value FROM "
                      "json_each(?))");
        stretch.sql(" FROM rules r WHERE r.lsh BETWEEN ? AND ? ORDER BY r.lsh");
        m_prepared = scattered.prepare(m_db, m_scattered, error) && stretch.prepare(m_db, m_stretch, error);
        return m_prepared;
    }

    bool fetchScattered(std::span<const std::int64_t> serials, const RowDelivery& deliver,
                        std::string& error) {
        m_list.assign(1, '[');
        for (const std::int64_t serial : serials) {
            char digits[24];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, serial);
            (void)ec; // an int64 always fits
            if (m_list.size() > 1)
                m_list += ',';
            m_list.append(digits, end);
        }
        m_list += ']';
        m_scattered.reset();
        m_scattered.bind(1, std::string_view(m_list));
        for (;;) {
            const int rc = m_scattered.step();
            if (rc == SQLITE_DONE)
                return true;
            if (rc != SQLITE_ROW) {
                error = sqlite3_errstr(rc);
                return false;
            }
            wireName(m_scattered.text(2), m_name);
            m_items.clear();
            writeRuleItems(m_scattered.handle(), m_output, m_name, m_items);
            deliver(m_scattered.integer(0), m_scattered.integer(1), m_items.from(0));
        }
    }

    bool fetchStretch(std::span<const std::int64_t> serials, const RowDelivery& deliver, std::string& error) {
        if (!m_namesLoaded) {
            if (!loadNames(error))
                return false;
            m_namesLoaded = true;
        }
        m_stretch.reset();
        m_stretch.bind(1, serials.front());
        m_stretch.bind(2, serials.back());
        std::size_t next = 0; // the first serial asked for and not yet passed
        for (;;) {
            const int rc = m_stretch.step();
            if (rc == SQLITE_DONE)
                return true;
            if (rc != SQLITE_ROW) {
                error = sqlite3_errstr(rc);
                return false;
            }
            const std::int64_t serial = m_stretch.integer(0);
            while (next < serials.size() && serials[next] < serial)
                ++next;
            std::string_view name;
            if (next == serials.size() || serials[next] != serial || !m_names.find(m_stretch.text(2), name))
                continue;
            m_items.clear();
            writeRuleItems(m_stretch.handle(), m_output, name, m_items);
            deliver(serial, m_stretch.integer(1), m_items.from(0));
        }
    }

    bool loadNames(std::string& error) {
        Statement stmt;
        return m_db.prepare("SELECT khh, name FROM customers", stmt, error) &&
               readCustomerNames(stmt, m_names, error);
    }

    Db& m_db;
    std::span<const ReplyColumn> m_columns;
    bool m_prepared = false;
    Statement m_scattered, m_stretch;
    std::vector<OutputColumn> m_output; // the same for both statements
    CustomerNames m_names;
    bool m_namesLoaded = false;
    std::string m_list, m_name;
    EncodedItems m_items;
};

// What the snapshot says beside each row's revision: the names revision, and whether rows read now may
// be kept. They may when the revision counter is behind the clock (as the schema's triggers read it):
// every revision drawn later, even after a backup is restored over the database, is then larger than
// any this reply sees, so a kept row's revision never comes back with other contents.
bool readStamp(Db& db, StatementCache& statements, std::uint64_t generation, ReplyStamp& stamp,
               std::string& error) {
    StatementCache::Lease counter = statements.acquire(
        db,
        "SELECT value, names, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000 "
        "FROM rule_revision WHERE id = 1",
        error);
    if (!counter)
        return false;
    if (counter->step() != SQLITE_ROW) {
        error = "the revision counter is missing";
        return false;
    }
    stamp.names = counter->integer(1);
    stamp.generation = generation;
    stamp.mayStore = counter->integer(0) < counter->integer(2);
    return true;
}

// How many of the rows the cache holds current.
std::size_t countHeld(RowCache& cache, int category, std::span<const ListedRow> rows, std::int64_t names) {
    std::size_t held = 0;
    cache.readBatch(
        category, rows, [&held](std::size_t, std::string_view) { ++held; }, names);
    return held;
}

// A reply the cache can hardly help (the first after a start, or after most rules changed): the rows are
// read straight off the table as the uncached reply reads them, each encoded once, sent, and kept a batch
// at a time by a keeper beside the reply. Listing them first and reading them afterwards would cost a pass
// over an index and a seek per batch more than the uncached reply.
StreamEnd streamAndKeep(Db& db, RowCache& cache, const RuleQuery& query, std::span<const ReplyColumn> columns,
                        const ReplyStamp& stamp, ReplyWriter& reply, std::string& error) {
    RuleScan scan;
    if (!prepareRuleScan(db, query, columns, true, scan, error))
        return StreamEnd::DatabaseError;
    // Rows are kept a batch at a time beside the reply, on the keeper's thread.
    std::vector<RowKeeper::Row> pending;
    EncodedItems bytes(reply);
    std::optional<RowKeeper> keeper;
    if (stamp.mayStore)
        keeper.emplace(cache, query.category, stamp);
    const auto keep = [&] {
        if (keeper && !pending.empty())
            bytes.reuse(keeper->hand(bytes.takeBytes(), std::move(pending)));
        bytes.clear();
        pending.clear();
        pending.reserve(kListedBatchRows);
    };
    pending.reserve(kListedBatchRows);
    for (;;) {
        const int rc = scan.rows.step();
        if (rc == SQLITE_DONE) {
            keep();
            return StreamEnd::Done;
        }
        if (rc != SQLITE_ROW) {
            error = sqlite3_errstr(rc);
            return StreamEnd::DatabaseError;
        }
        std::string_view name;
        if (!scan.names.find(scan.rows.text(0), name))
            continue;
        const std::size_t at = bytes.size();
        writeRuleItems(scan.rows.handle(), scan.output, name, bytes);
        reply.addEncodedRow(bytes.from(at));
        if (!reply.flushIfFull())
            return StreamEnd::SinkFailed;
        pending.push_back({scan.rows.integer(1), scan.rows.integer(2), at, bytes.size() - at});
        if (pending.size() == kListedBatchRows)
            keep();
    }
}

} // namespace

StreamEnd SqliteStore::streamRulesCached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                         ReplyWriter& reply, std::string& error) {
    const Operator& op = *query.op;
    const Conditions& cond = *query.cond;
    // A reply column the rules lack is refused before anything is read.
    {
        SqlQuery probe;
        std::vector<OutputColumn> output;
        if (!selectRuleColumns(columns, probe, 0, output, error))
            return StreamEnd::DatabaseError;
    }
    RuleFetch fetch(m_db, columns, reply);

    const ReadSnapshot snapshot(m_db);
    ReplyStamp stamp;
    if (!readStamp(m_db, m_statements, m_cacheGeneration, stamp, error))
        return StreamEnd::DatabaseError;
    // A rule whose account has no customer is not listed, as a join would leave it out. The listing
    // need not look: a kept row is current only while no customer's name or key has changed and none
    // was deleted (the names revision), and a row read in full is read through the join.
    const bool restricted = restrictsCustomers(op, cond);
    SqlQuery q;
    if (query.changedFrom > 0) {
        // The rules written since a revision are few: found on (kind, rev), each checked against its
        // customer. The planner would rather walk the kind in serial order, which costs the whole kind.
        q.sql("SELECT r.lsh, r.rev FROM rules r INDEXED BY rules_kind_changes CROSS JOIN customers c "
              "ON c.khh = r.khh WHERE r.kind = ")
            .value(std::int64_t{query.category});
        filterCustomers(q, op, cond);
    } else if (restricted) {
        // The customers the filter picks (one row per account: it is their key), each followed into
        // its rules on the (khh, kind) index.
        q.sql("SELECT r.lsh, r.rev FROM customers c JOIN rules r ON r.khh = c.khh WHERE r.kind = ")
            .value(std::int64_t{query.category});
        filterCustomers(q, op, cond);
    } else {
        q.sql("SELECT r.lsh, r.rev FROM rules r WHERE r.kind = ").value(std::int64_t{query.category});
    }
    filterRuleConditions(q, query, false);
    // A whole kind comes off its index in serial order. Some customers' rules come customer by
    // customer: their serials and revisions alone are gathered and sorted here, at a fraction of what
    // SQLite's sorter costs.
    if (!restricted || query.changedFrom > 0)
        q.sql(" ORDER BY r.lsh");
    StatementCache::Lease lease = m_statements.acquire(m_db, q, error);
    if (!lease)
        return StreamEnd::DatabaseError;
    Statement& listing = *lease;

    const FetchRows fetchRows = [&](std::span<const std::int64_t> serials, const RowDelivery& deliver,
                                    std::string& fetchError) {
        return fetch.fetch(serials, deliver, fetchError);
    };
    // Steps the listing until `listed` holds `limit` rows or the listing ends (rc SQLITE_DONE).
    std::vector<ListedRow> listed;
    int rc = SQLITE_ROW;
    const auto listUpTo = [&](std::size_t limit) {
        while (listed.size() < limit && (rc = listing.step()) == SQLITE_ROW)
            listed.push_back({listing.integer(0), listing.integer(1)});
        if (rc == SQLITE_ROW || rc == SQLITE_DONE)
            return true;
        error = sqlite3_errstr(rc);
        return false;
    };
    // The first batch tells whether the cache can help: when it holds fewer than half of its rows, the
    // rows are read straight off the table instead.
    listed.reserve(kListedBatchRows);
    if (!listUpTo(kListedBatchRows))
        return StreamEnd::DatabaseError;
    if (countHeld(*m_cache, query.category, listed, stamp.names) * 2 < listed.size()) {
        listing.reset();
        return streamAndKeep(m_db, *m_cache, query, columns, stamp, reply, error);
    }

    if (restricted) {
        if (rc == SQLITE_ROW && !listUpTo(SIZE_MAX))
            return StreamEnd::DatabaseError;
        sortBySerial(listed);
        for (std::size_t at = 0; at < listed.size(); at += kListedBatchRows) {
            const std::size_t count = std::min(kListedBatchRows, listed.size() - at);
            const StreamEnd end = sendListedRows(*m_cache, query.category,
                                                 std::span<const ListedRow>(listed).subspan(at, count), stamp,
                                                 reply, fetchRows, error);
            if (end != StreamEnd::Done)
                return end;
        }
        return StreamEnd::Done;
    }
    for (;;) {
        const StreamEnd end =
            sendListedRows(*m_cache, query.category, listed, stamp, reply, fetchRows, error);
        if (end != StreamEnd::Done || rc == SQLITE_DONE)
            return end;
        listed.clear();
        if (!listUpTo(kListedBatchRows))
            return StreamEnd::DatabaseError;
    }
}

} // namespace orvo::server::sqlite
