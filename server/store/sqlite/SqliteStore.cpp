#include "server/store/sqlite/SqliteStore.h"

#include "server/common/Dates.h"
#include "server/common/ServerLog.h"
#include "server/store/QueryFilters.h"
#include "server/store/sqlite/Schema.h"
#include "server/store/sqlite/SqlQuery.h"
#include "server/store/sqlite/SqliteFilters.h"
#include "server/store/sqlite/SqliteOperators.h"

#include <unistd.h>
#include <vector>

namespace orvo::server::sqlite {
namespace {

// Streams every row, column i under tags[i].
StreamEnd streamTagged(Db& db, const SqlQuery& q, std::span<const std::uint32_t> tags, ReplyWriter& reply,
                       std::string& error) {
    Statement stmt;
    if (!q.prepare(db, stmt, error))
        return StreamEnd::DatabaseError;
    return streamEachRow(stmt, reply, error, [&reply, tags](const Statement& row) {
        for (std::size_t i = 0; i < tags.size(); ++i)
            reply.add(tags[i], row.text(static_cast<int>(i)));
    });
}

// Code tables that describe the organisation are cut down to what the operator may see; the other
// code tables hold no customer data and go out whole. False: nothing of the table is visible.
bool permittedDownload(std::string_view table, const Operator& op, SqlQuery& q) {
    if (table == "YYB" && !op.allBranches) {
        if (op.branches.empty())
            return false;
        q.sql("WITH RECURSIVE visible(code) AS (SELECT JGBM FROM YYB WHERE JGBM IN ").valueList(op.branches);
        q.sql(" UNION SELECT y.JGBM FROM YYB y JOIN visible v ON y.SJJG = v.code) "
              "SELECT JGBM, JGJC, JGQC, JGLB, SJJG, SJJGLB FROM YYB WHERE JGBM IN (SELECT code FROM visible) "
              "ORDER BY rowid");
        return true;
    }
    if (table == "KHQZ" && (!op.allBranches || !op.allGroups)) {
        q.sql("SELECT YYB, KHQZ, QZMC FROM KHQZ WHERE 1");
        if (!op.allBranches && op.branches.empty())
            return false;
        if (!op.allGroups && op.groups.empty())
            return false;
        if (!op.allBranches)
            q.sql(" AND YYB IN ").valueList(op.branches);
        if (!op.allGroups)
            q.sql(" AND KHQZ IN ").valueList(op.groups);
        q.sql(" ORDER BY rowid");
        return true;
    }
    q.sql(downloadQueryFor(table));
    return true;
}

} // namespace

bool SqliteStore::fileCurrent(std::string& error) {
    // Taken before the file is looked at: rows a request reads from a file about to be left are then
    // never kept once another request has told the cache of the new one.
    if (m_cache)
        m_cacheGeneration = m_cache->generation();
    if (m_owned) {
        const std::string& shown = m_db.path();
        switch (m_db.fileState()) {
        case Db::FileState::Same:
            break;
        case Db::FileState::Gone:
            error = "database file " + shown + " is gone";
            logLine(LogLevel::Error, error + ": the request is refused");
            return false;
        case Db::FileState::Replaced:
            if (!reopenFile(error)) {
                error = "database file " + shown + " was replaced and cannot be opened: " + error;
                logLine(LogLevel::Error, error);
                return false;
            }
            logLine(LogLevel::Warn, "database file " + shown + " was replaced: opened anew");
            break;
        }
        if (!m_watch && !m_db.fileIdentity().empty()) {
            m_watch = FileWatch::forFile(m_db.fileIdentity(), shown);
            m_incarnation = m_watch->look();
        } else if (m_watch && m_watch->look() != m_incarnation) {
            // Refused, whatever the new connection would read: the copy may still be being written, and
            // the client is told why rather than given what a half-copied file holds.
            std::string reopenError;
            if (!reopenFile(reopenError))
                logLine(LogLevel::Error, "database file " + shown + " cannot be opened: " + reopenError);
            error = "database file " + shown +
                    " was overwritten while the server had it open; the request is refused (the file "
                    "is opened anew)";
            return false;
        }
    }
    knowIdentity();
    if (m_cache)
        m_cache->adopt(identityText(m_identity));
    return true;
}

bool SqliteStore::fileStillCurrent(std::string& error) {
    if (!m_watch || m_watch->look() == m_incarnation)
        return true;
    error = "database file " + m_db.path() + " was overwritten while the reply read it; the reply is void";
    return false;
}

StreamEnd SqliteStore::checked(StreamEnd end, std::string& error) {
    return end == StreamEnd::Done && !fileStillCurrent(error) ? StreamEnd::DatabaseError : end;
}

bool SqliteStore::reopenFile(std::string& error) {
    m_identity = 0;
    m_changes.connection = nullptr;
    m_writer.reset();
    const bool opened = m_db.reopen(error);
    m_watch.reset();
    if (opened && !m_db.fileIdentity().empty()) {
        m_watch = FileWatch::forFile(m_db.fileIdentity(), m_db.path());
        m_incarnation = m_watch->look();
    }
    return opened;
}

void SqliteStore::knowIdentity() {
    if (m_identity != 0)
        return;
    // A database without the id (one not yet migrated) is told apart by its file and host alone.
    std::string databaseId, ignored;
    Statement stmt;
    if (m_db.prepare("SELECT value FROM meta WHERE key = 'database_id'", stmt, ignored) &&
        stmt.step() == SQLITE_ROW)
        databaseId = stmt.text(0);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        host[0] = 0;
    m_identity = identityOf("sqlite\n" + std::string(host) + "\n" + m_db.fileIdentity() + "\n" +
                            std::to_string(m_incarnation) + "\n" + databaseId);
}

bool SqliteStore::findOperator(std::string_view name, OperatorRecord& record, std::string& error) {
    error.clear();
    if (!fileCurrent(error))
        return false;
    Statement find;
    if (!m_db.prepare("SELECT pwhash, branches, groups, enabled, ticket_epoch FROM operators WHERE name = ?",
                      find, error))
        return false;
    find.bind(1, name);
    const int rc = find.step();
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW) {
        error = m_db.lastError();
        return false;
    }
    record.passwordHash = find.text(0);
    record.branches = find.text(1);
    record.groups = find.text(2);
    record.enabled = find.integer(3) != 0;
    record.ticketEpoch = find.integer(4);
    return true;
}

std::string SqliteStore::dummyPasswordHash() {
    std::string ignored;
    fileCurrent(ignored);
    return dummyHashLikeStored(m_db);
}

// The serving connections are read-only, so a write goes through a short-lived connection of its own.
template <typename Bind> void SqliteStore::writeAside(const char* sql, Bind bind) {
    Db writer;
    Db* target = &m_db;
    std::string ignored;
    if (!fileCurrent(ignored))
        return;
    if (sqlite3_db_readonly(m_db.handle(), "main") == 1) {
        const char* path = sqlite3_db_filename(m_db.handle(), "main");
        if (!path || !*path || !writer.open(path, false, ignored))
            return;
        // A long write elsewhere (an import) must not hold up the login: the write is given up instead.
        writer.setBusyTimeout(200);
        target = &writer;
    }
    Transaction tx(*target);
    Statement statement;
    if (!tx.ok() || !target->prepare(sql, statement, ignored))
        return;
    bind(statement);
    if (statement.execute())
        tx.commit(ignored);
}

void SqliteStore::recordLogin(std::string_view name) {
    writeAside("UPDATE operators SET last_login = ? WHERE name = ?", [&name](Statement& note) {
        note.bind(1, localTimestamp());
        note.bind(2, name);
    });
}

void SqliteStore::replacePasswordHash(std::string_view name, std::string_view oldHash,
                                      std::string_view newHash) {
    writeAside("UPDATE operators SET pwhash = ? WHERE name = ? AND pwhash = ?", [&](Statement& put) {
        put.bind(1, newHash);
        put.bind(2, name);
        put.bind(3, oldHash);
    });
}

bool SqliteStore::hasCodeTable(std::string_view table) {
    return downloadQueryFor(table) != nullptr;
}

StreamEnd SqliteStore::streamCodeTable(std::string_view table, const Operator& op, ReplyWriter& reply,
                                       std::string& error) {
    if (!fileCurrent(error))
        return StreamEnd::DatabaseError;
    SqlQuery q;
    if (!permittedDownload(table, op, q))
        return StreamEnd::Done;
    Statement stmt;
    if (!q.prepare(m_db, stmt, error))
        return StreamEnd::DatabaseError;
    const int columns = stmt.columnCount();
    std::vector<std::string> names;
    for (int i = 0; i < columns; ++i)
        names.emplace_back(stmt.columnName(i));
    return checked(streamEachRow(stmt, reply, error,
                                 [&reply, &names](const Statement& row) {
                                     for (std::size_t i = 0; i < names.size(); ++i)
                                         reply.addNamed(names[i], row.text(static_cast<int>(i)));
                                 }),
                   error);
}

StreamEnd SqliteStore::streamOrders(const OrderQuery& query, std::span<const std::uint32_t> tags,
                                    ReplyWriter& reply, std::string& error) {
    if (!fileCurrent(error))
        return StreamEnd::DatabaseError;
    SqlQuery q("SELECT o.khh, o.wth, o.status_text, o.hydm, o.mmfx, o.kpfx, o.price, o.lots, o.fill_price, "
               "o.filled, o.cancelled, o.tzlb, o.jys, o.wtsj, o.sbsj, o.wtrq, o.flag, o.lsh, o.kind, o.jybm "
               "FROM orders o JOIN customers c ON c.khh = o.khh WHERE o.khh = ");
    q.value(query.customer);
    appendOrderConditions(q, query);
    filterPermitted(q, *query.op);
    q.sql(" ORDER BY o.wtrq, o.wth");
    return checked(streamTagged(m_db, q, tags, reply, error), error);
}

StreamEnd SqliteStore::streamLinkGroups(const Operator& op, const Conditions& cond,
                                        std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                        std::string& error) {
    if (!fileCurrent(error))
        return StreamEnd::DatabaseError;
    SqlQuery q("SELECT g.xzbh, g.xzmc, g.khh, g.xzzt, g.yyb, g.qx, g.fwxm "
               "FROM link_groups g JOIN customers c ON c.khh = g.khh WHERE 1");
    filterCustomers(q, op, cond);
    q.sql(" ORDER BY g.xzbh");
    return checked(streamTagged(m_db, q, tags, reply, error), error);
}

StreamEnd SqliteStore::streamLinkSubgroups(const Operator& op, const Conditions& cond,
                                           std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                           std::string& error) {
    if (!fileCurrent(error))
        return StreamEnd::DatabaseError;
    SqlQuery q("SELECT s.xzbh, s.fzbh, s.fzjc, s.xdfs, s.xgrq, s.xgsj FROM link_subgroups s "
               "JOIN link_groups g ON g.xzbh = s.xzbh JOIN customers c ON c.khh = g.khh WHERE 1");
    filterCustomers(q, op, cond);
    q.sql(" ORDER BY s.rowid");
    return checked(streamTagged(m_db, q, tags, reply, error), error);
}

} // namespace orvo::server::sqlite
