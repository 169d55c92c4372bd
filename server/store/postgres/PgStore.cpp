// Every statement the functions run on PostgreSQL. Conditions are bound parameters; the filters mirror
// the SQLite store's, so both answer a request with the same rows in the same order.
#include "server/store/postgres/PgStore.h"

#include "server/common/Dates.h"
#include "server/store/CachedRows.h"
#include "server/store/LoginCost.h"
#include "server/store/QueryFilters.h"
#include "server/store/postgres/PgFilters.h"
#include "server/store/postgres/PgIncarnation.h"
#include "server/store/postgres/PgQuery.h"
#include "server/store/postgres/PgSchema.h"
#include "server/store/postgres/PgTransaction.h"

#include <algorithm>
#include <vector>

namespace orvo::server::pg {
namespace {

// The rule fields a reply may carry: only these names ever reach the statement's text.
constexpr std::string_view kRuleFields[] = {"lsh",
                                            "kind",
                                            "cfzt",
                                            "mmfx",
                                            "kpfx",
                                            "lots",
                                            "filled",
                                            "cancelled",
                                            "pdfx",
                                            "src_mmfx",
                                            "src_kpfx",
                                            "src_lots",
                                            "src_filled",
                                            "src_cancelled",
                                            "tllx",
                                            "trig_lots1",
                                            "trig_lots2",
                                            "filled2",
                                            "min_order",
                                            "single_leg",
                                            "xzbh",
                                            "fzbh",
                                            "xdfs",
                                            "khh",
                                            "status_text",
                                            "hydm",
                                            "price",
                                            "trig_price",
                                            "ticks_profit",
                                            "ticks_loss",
                                            "set_time",
                                            "set_date",
                                            "valid_date",
                                            "jys",
                                            "jybm",
                                            "src_order",
                                            "src_hydm",
                                            "src_price",
                                            "order_no",
                                            "deviation",
                                            "avg_price",
                                            "off_profit_trig",
                                            "off_profit_order",
                                            "off_loss_trig",
                                            "off_loss_order"};

bool isRuleField(std::string_view field) {
    for (std::string_view name : kRuleFields)
        if (name == field)
            return true;
    return false;
}

// The reply column's expression over rules r joined with customers c; the field is one of kRuleFields.
std::string ruleColumn(const ReplyColumn& column) {
    if (column.field == kFieldCustomerName)
        return "c.name";
    return "r." + std::string(column.field);
}

bool selectRuleColumns(std::span<const ReplyColumn> columns, std::string& error) {
    for (const ReplyColumn& column : columns)
        if (column.field != kFieldCustomerName && !isRuleField(column.field)) {
            error = "no rule field " + std::string(column.field);
            return false;
        }
    return true;
}

// Streams the statement's rows into the reply, addItems(row) writing each row's items.
template <typename AddItems>
StreamEnd streamQuery(PgPool& pool, std::chrono::milliseconds wait, const PgQuery& q, ReplyWriter& reply,
                      std::string& error, AddItems addItems) {
    PgPool::Lease conn = pool.acquire(wait, error);
    if (!conn)
        return StreamEnd::DatabaseError;
    bool sinkFailed = false;
    const std::int64_t rows = conn->stream(
        q.text().c_str(), q.params(),
        [&](const PgRow& row) {
            reply.beginRow();
            addItems(row);
            sinkFailed = !reply.endRow();
            return !sinkFailed;
        },
        error);
    if (sinkFailed)
        return StreamEnd::SinkFailed;
    return rows < 0 ? StreamEnd::DatabaseError : StreamEnd::Done;
}

StreamEnd streamTagged(PgPool& pool, std::chrono::milliseconds wait, const PgQuery& q,
                       std::span<const std::uint32_t> tags, ReplyWriter& reply, std::string& error) {
    return streamQuery(pool, wait, q, reply, error, [&reply, tags](const PgRow& row) {
        for (std::size_t i = 0; i < tags.size(); ++i)
            reply.add(tags[i], row.text(static_cast<int>(i)));
    });
}

// The organisation code tables cut down to what the operator may see; false: nothing of it is visible.
bool permittedDownload(std::string_view table, const Operator& op, PgQuery& q) {
    if (table == "YYB" && !op.allBranches) {
        if (op.branches.empty())
            return false;
        q.sql("WITH RECURSIVE visible(code) AS (SELECT JGBM FROM YYB WHERE JGBM IN ").valueList(op.branches);
        q.sql(R"( UNION SELECT y.JGBM FROM YYB y JOIN visible v ON y.SJJG = v.code) )"
              R"(SELECT JGBM AS "JGBM", JGJC AS "JGJC", JGQC AS "JGQC", JGLB AS "JGLB", SJJG AS "SJJG",)"
              R"( SJJGLB AS "SJJGLB" FROM YYB WHERE JGBM IN (SELECT code FROM visible) ORDER BY rowid)");
        return true;
    }
    if (table == "KHQZ" && (!op.allBranches || !op.allGroups)) {
        if ((!op.allBranches && op.branches.empty()) || (!op.allGroups && op.groups.empty()))
            return false;
        q.sql(R"(SELECT YYB AS "YYB", KHQZ AS "KHQZ", QZMC AS "QZMC" FROM KHQZ WHERE true)");
        if (!op.allBranches)
            q.sql(" AND YYB IN ").valueList(op.branches);
        if (!op.allGroups)
            q.sql(" AND KHQZ IN ").valueList(op.groups);
        q.sql(" ORDER BY rowid");
        return true;
    }
    q.sql(pgDownloadQueryFor(table));
    return true;
}

} // namespace

bool PgStore::findOperator(std::string_view name, OperatorRecord& record, std::string& error) {
    error.clear();
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    PgParams params;
    params.add(name);
    const PgResult result =
        conn->query("SELECT pwhash, branches, groups, enabled, ticket_epoch FROM operators WHERE name = $1",
                    params, error);
    if (!result)
        return false;
    if (result.rows() == 0)
        return false;
    const PgRow row = result.row(0);
    record.passwordHash = row.text(0);
    record.branches = row.text(1);
    record.groups = row.text(2);
    record.enabled = row.integer(3) != 0;
    record.ticketEpoch = row.integer(4);
    return true;
}

std::string PgStore::dummyPasswordHash() {
    std::vector<std::string> hashes;
    std::string error;
    if (PgPool::Lease conn = m_pool.acquire(m_wait, error)) {
        const PgResult result = conn->query("SELECT pwhash FROM operators LIMIT 10000", PgParams(), error);
        for (int i = 0; i < result.rows(); ++i)
            hashes.emplace_back(result.row(i).text(0));
    }
    return dummyHashLike(hashes);
}

void PgStore::recordLogin(std::string_view name) {
    std::string ignored;
    PgPool::Lease conn = m_pool.acquire(m_wait, ignored);
    if (!conn)
        return;
    PgParams params;
    params.add(localTimestamp()).add(name);
    conn->query("UPDATE operators SET last_login = $1 WHERE name = $2", params, ignored);
}

void PgStore::replacePasswordHash(std::string_view name, std::string_view oldHash, std::string_view newHash) {
    std::string ignored;
    PgPool::Lease conn = m_pool.acquire(m_wait, ignored);
    if (!conn)
        return;
    PgParams params;
    params.add(newHash).add(name).add(oldHash);
    conn->query("UPDATE operators SET pwhash = $1 WHERE name = $2 AND pwhash = $3", params, ignored);
}

bool PgStore::hasCodeTable(std::string_view table) {
    return pgDownloadQueryFor(table) != nullptr;
}

StreamEnd PgStore::streamCodeTable(std::string_view table, const Operator& op, ReplyWriter& reply,
                                   std::string& error) {
    PgQuery q;
    if (!permittedDownload(table, op, q))
        return StreamEnd::Done;
    std::vector<std::string> names;
    return streamQuery(m_pool, m_wait, q, reply, error, [&reply, &names](const PgRow& row) {
        if (names.empty())
            for (int i = 0; i < row.columns(); ++i)
                names.emplace_back(row.columnName(i));
        for (std::size_t i = 0; i < names.size(); ++i)
            reply.addNamed(names[i], row.text(static_cast<int>(i)));
    });
}

StreamEnd PgStore::streamRules(const RuleQuery& query, std::span<const ReplyColumn> columns,
                               ReplyWriter& reply, std::string& error) {
    if (!selectRuleColumns(columns, error))
        return StreamEnd::DatabaseError;
    if (m_cache && m_cache->enabled())
        return streamRulesCached(query, columns, reply, error);
    // The rules and the customers' names are read by one statement, so from one snapshot.
    PgQuery q("SELECT ");
    for (std::size_t i = 0; i < columns.size(); ++i)
        q.sql(i ? ", " : "").sql(ruleColumn(columns[i]));
    q.sql(" FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.kind = ")
        .value(std::int64_t{query.category});
    filterCustomers(q, *query.op, *query.cond);
    filterRules(q, query);
    q.sql(" ORDER BY r.lsh");
    std::vector<std::uint32_t> tags;
    for (const ReplyColumn& column : columns)
        tags.push_back(column.tag);
    return streamTagged(m_pool, m_wait, q, tags, reply, error);
}

// The names revision of the reply's snapshot, and the database's incarnation: the cache keeps rows of
// one incarnation only. Within one, revisions are transaction ids, which never come back.
bool PgStore::readStamp(PgConnection& conn, ReplyStamp& stamp, std::string& error) {
    const std::string sql =
        "SELECT names, " + std::string(kPgIncarnationSql) + " FROM rule_revision WHERE id = 1";
    PgResult got = conn.query(sql.c_str(), PgParams(), error);
    if (!got)
        return false;
    if (got.rows() != 1) {
        error = "the names revision is missing";
        return false;
    }
    m_cache->adopt(identityText(identityOf(got.row(0).text(1))));
    stamp.names = got.row(0).integer(0);
    return true;
}

// Through the row cache: the rows selected are listed by serial and revision, from a cursor, a batch at a
// time; only the rows the cache lacks at that revision are read in full. Listing and reading share one
// repeatable-read snapshot, so what is read is what was listed.
StreamEnd PgStore::streamRulesCached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                     ReplyWriter& reply, std::string& error) {
    // A rule whose account has no customer is left out as the join leaves it out, by the fetch: a kept
    // row is current only while no customer's name or key has changed and none was deleted (the names
    // revision), so the listing joins the customers only to filter them.
    const bool restricted = restrictsCustomers(*query.op, *query.cond);
    PgQuery listing(
        restricted ? "DECLARE listed NO SCROLL CURSOR FOR SELECT r.lsh, r.rev FROM customers c JOIN "
                     "rules r ON r.khh = c.khh WHERE r.kind = "
                   : "DECLARE listed NO SCROLL CURSOR FOR SELECT r.lsh, r.rev FROM rules r WHERE r.kind = ");
    listing.value(std::int64_t{query.category});
    if (restricted)
        filterCustomers(listing, *query.op, *query.cond);
    filterRules(listing, query);
    listing.sql(" ORDER BY r.lsh");
    std::string fetchSql = "SELECT r.lsh, r.rev";
    std::vector<std::string> tags;
    for (const ReplyColumn& column : columns) {
        fetchSql.append(", ").append(ruleColumn(column));
        tags.push_back(std::to_string(column.tag));
    }
    fetchSql += " FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.lsh = ANY($1::bigint[])";

    ReplyStamp stamp;
    stamp.generation = m_cache->generation();
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return StreamEnd::DatabaseError;
    PgTransaction tx(*conn, error);
    // The cursor is read to its end: planned for all its rows, not for the first few.
    if (!tx.ok() || !conn->exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY", error) ||
        !conn->exec("SET LOCAL cursor_tuple_fraction = 1.0", error) || !readStamp(*conn, stamp, error) ||
        !conn->query(listing.text().c_str(), listing.params(), error))
        return StreamEnd::DatabaseError;

    std::string items, serialList;
    const FetchRows fetch = [&](std::span<const std::int64_t> serials, const RowDelivery& deliver,
                                std::string& fetchError) {
        serialList.assign(1, '{');
        for (const std::int64_t serial : serials)
            serialList.append(serialList.size() > 1 ? "," : "").append(std::to_string(serial));
        serialList += '}';
        PgParams params;
        params.add(serialList);
        return conn->stream(
                   fetchSql.c_str(), params,
                   [&](const PgRow& row) {
                       items.clear();
                       for (std::size_t i = 0; i < tags.size(); ++i)
                           reply.encodeText(items, tags[i], row.text(static_cast<int>(i) + 2));
                       deliver(row.integer(0), row.integer(1), items);
                       return true;
                   },
                   fetchError) >= 0;
    };
    // Listed rows come a few batches a round trip.
    constexpr std::size_t kFetchRows = 8 * kListedBatchRows;
    const std::string fetchListed = "FETCH " + std::to_string(kFetchRows) + " FROM listed";
    std::vector<ListedRow> listed;
    listed.reserve(kFetchRows);
    for (;;) {
        const PgResult result = conn->query(fetchListed.c_str(), PgParams(), error);
        if (!result)
            return StreamEnd::DatabaseError;
        listed.clear();
        for (int i = 0; i < result.rows(); ++i)
            listed.push_back({result.row(i).integer(0), result.row(i).integer(1)});
        for (std::size_t at = 0; at < listed.size(); at += kListedBatchRows) {
            const std::size_t count = std::min(kListedBatchRows, listed.size() - at);
            const StreamEnd end = sendListedRows(*m_cache, query.category,
                                                 std::span<const ListedRow>(listed).subspan(at, count), stamp,
                                                 reply, fetch, error);
            if (end != StreamEnd::Done)
                return end;
        }
        if (listed.size() < kFetchRows)
            return tx.commit(error) ? StreamEnd::Done : StreamEnd::DatabaseError;
    }
}

StreamEnd PgStore::streamOrders(const OrderQuery& query, std::span<const std::uint32_t> tags,
                                ReplyWriter& reply, std::string& error) {
    PgQuery q("SELECT o.khh, o.wth, o.status_text, o.hydm, o.mmfx, o.kpfx, o.price, o.lots, o.fill_price, "
              "o.filled, o.cancelled, o.tzlb, o.jys, o.wtsj, o.sbsj, o.wtrq, o.flag, o.lsh, o.kind, o.jybm "
              "FROM orders o JOIN customers c ON c.khh = o.khh WHERE o.khh = ");
    q.value(query.customer);
    appendOrderConditions(q, query);
    filterPermitted(q, *query.op);
    q.sql(" ORDER BY o.wtrq, o.wth");
    return streamTagged(m_pool, m_wait, q, tags, reply, error);
}

StreamEnd PgStore::streamLinkGroups(const Operator& op, const Conditions& cond,
                                    std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                    std::string& error) {
    PgQuery q("SELECT g.xzbh, g.xzmc, g.khh, g.xzzt, g.yyb, g.qx, g.fwxm "
              "FROM link_groups g JOIN customers c ON c.khh = g.khh WHERE true");
    filterCustomers(q, op, cond);
    q.sql(" ORDER BY g.xzbh");
    return streamTagged(m_pool, m_wait, q, tags, reply, error);
}

StreamEnd PgStore::streamLinkSubgroups(const Operator& op, const Conditions& cond,
                                       std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                       std::string& error) {
    PgQuery q("SELECT s.xzbh, s.fzbh, s.fzjc, s.xdfs, s.xgrq, s.xgsj FROM link_subgroups s "
              "JOIN link_groups g ON g.xzbh = s.xzbh JOIN customers c ON c.khh = g.khh WHERE true");
    filterCustomers(q, op, cond);
    q.sql(" ORDER BY s.rowid");
    return streamTagged(m_pool, m_wait, q, tags, reply, error);
}

} // namespace orvo::server::pg
