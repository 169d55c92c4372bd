#include "server/store/sqlite/SqliteSessions.h"

#include "server/common/Dates.h"
#include "server/store/sqlite/SqliteStore.h"

namespace orvo::server::sqlite {
namespace {

bool fail(Db& db, std::string& error) {
    error = db.lastError();
    return false;
}

} // namespace

bool openSession(Db& db, std::string_view server, std::string_view operatorName, std::string_view address,
                 std::int64_t ticketSession, std::int64_t& id, std::string& error) {
    Transaction tx(db); // one statement, but taken in turn with the process's other writers
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare("INSERT INTO sessions(server, operator, address, since, last_request, ticket_session) "
                    "VALUES(?, ?, ?, ?, ?, ?)",
                    put, error))
        return false;
    const std::string now = localTimestamp();
    put.bind(1, server);
    put.bind(2, operatorName);
    put.bind(3, address);
    put.bind(4, now);
    put.bind(5, now);
    put.bind(6, ticketSession);
    if (!put.execute())
        return fail(db, error);
    id = sqlite3_last_insert_rowid(db.handle());
    return tx.commit(error);
}

bool sessionStates(Db& db, std::string_view server, std::int64_t fromId, std::string_view endedSince,
                   std::vector<SessionState>& states, std::string& error) {
    // Two ranges of sessions_server_ended: the live ones, and those ended lately.
    Statement get;
    if (!db.prepare("SELECT id, operator_changes, ended <> '', end_reason FROM sessions "
                    "WHERE server = ?1 AND ended = '' AND id >= ?2 UNION ALL "
                    "SELECT id, operator_changes, 1, end_reason FROM sessions "
                    "WHERE server = ?1 AND ended >= ?3 AND id >= ?2 ORDER BY id",
                    get, error))
        return false;
    get.bind(1, server);
    get.bind(2, fromId);
    get.bind(3, endedSince);
    states.clear();
    int rc = 0;
    while ((rc = get.step()) == SQLITE_ROW)
        states.push_back({get.integer(0), get.integer(1), get.integer(2) != 0, std::string(get.text(3))});
    return rc == SQLITE_DONE || fail(db, error);
}

bool noteSessionRequests(Db& db, std::span<const SessionTouch> touches, std::string& error) {
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare("UPDATE sessions SET last_request = ? WHERE id = ? AND ended = ''", put, error))
        return false;
    for (const SessionTouch& touch : touches) {
        put.bind(1, touch.lastRequest);
        put.bind(2, touch.id);
        if (!put.execute())
            return fail(db, error);
    }
    return tx.commit(error);
}

bool endSessions(Db& db, std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                 std::string& error) {
    ended = 0;
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare("UPDATE sessions SET ended = ?, end_reason = ? WHERE id = ? AND ended = ''", put, error))
        return false;
    const std::string now = localTimestamp();
    for (const std::int64_t id : ids) {
        put.bind(1, now);
        put.bind(2, reason);
        put.bind(3, id);
        if (!put.execute())
            return fail(db, error);
        ended += static_cast<std::size_t>(sqlite3_changes(db.handle()));
    }
    return tx.commit(error);
}

bool endOperatorSessions(Db& db, std::string_view operatorName, std::string_view reason, std::size_t& ended,
                         std::string& error) {
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare("UPDATE sessions SET ended = ?, end_reason = ? WHERE operator = ? AND ended = ''", put,
                    error))
        return false;
    put.bind(1, localTimestamp());
    put.bind(2, reason);
    put.bind(3, operatorName);
    if (!put.execute())
        return fail(db, error);
    ended = static_cast<std::size_t>(sqlite3_changes(db.handle()));
    return tx.commit(error);
}

bool listSessions(Db& db, std::string_view operatorName, bool withEnded, std::vector<SessionRecord>& sessions,
                  std::string& error) {
    Statement get;
    if (!db.prepare("SELECT id, server, operator, address, since, last_request, ended, end_reason, ended_by "
                    "FROM sessions WHERE (?1 OR ended = '') AND (?2 = '' OR operator = ?2) ORDER BY id",
                    get, error))
        return false;
    get.bind(1, std::int64_t{withEnded ? 1 : 0});
    get.bind(2, operatorName);
    sessions.clear();
    int rc = 0;
    while ((rc = get.step()) == SQLITE_ROW)
        sessions.push_back({get.integer(0), std::string(get.text(1)), std::string(get.text(2)),
                            std::string(get.text(3)), std::string(get.text(4)), std::string(get.text(5)),
                            std::string(get.text(6)), std::string(get.text(7)), std::string(get.text(8))});
    return rc == SQLITE_DONE || fail(db, error);
}

bool ticketSession(Db& db, std::int64_t id, TicketSession& session, std::string& error) {
    Statement get;
    if (!db.prepare("SELECT operator, ticket_revoked FROM sessions WHERE id = ?", get, error))
        return false;
    get.bind(1, id);
    session = {};
    const int rc = get.step();
    if (rc == SQLITE_ROW)
        session = {true, std::string(get.text(0)), std::string(get.text(1))};
    return rc == SQLITE_ROW || rc == SQLITE_DONE || fail(db, error);
}

bool revokeSessionTickets(Db& db, std::span<const std::int64_t> ids, std::string_view operatorName,
                          std::string_view reason, std::string_view by, std::size_t& revoked,
                          std::string& error) {
    revoked = 0;
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    // A session's ticket is the one of the session it names (itself, for a password login): that
    // session's row keeps the refusal, and so does every session logged in with the same ticket.
    Statement put;
    if (!db.prepare("UPDATE sessions SET ticket_revoked = ?1, ended_by = ?2 WHERE ticket_revoked = '' AND "
                    "(id = ?3 OR ticket_session = ?3 OR (?3 = 0 AND operator = ?4))",
                    put, error))
        return false;
    Statement origin;
    if (!db.prepare("SELECT CASE ticket_session WHEN 0 THEN id ELSE ticket_session END FROM sessions "
                    "WHERE id = ?",
                    origin, error))
        return false;
    const auto revokeOf = [&](std::int64_t ticketOf) {
        put.bind(1, reason);
        put.bind(2, by);
        put.bind(3, ticketOf);
        put.bind(4, operatorName);
        if (!put.execute())
            return false;
        revoked += static_cast<std::size_t>(sqlite3_changes(db.handle()));
        return true;
    };
    if (ids.empty() && !revokeOf(0))
        return fail(db, error);
    for (const std::int64_t id : ids) {
        origin.bind(1, id);
        const int rc = origin.step();
        const std::int64_t ticketOf = rc == SQLITE_ROW ? origin.integer(0) : 0;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return fail(db, error);
        origin.reset();
        if (ticketOf != 0 && !revokeOf(ticketOf))
            return fail(db, error);
    }
    return tx.commit(error);
}

bool noteServerAlive(Db& db, std::string_view server, std::int64_t now, std::string& error) {
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare("INSERT OR REPLACE INTO servers(name, seen) VALUES(?, ?)", put, error))
        return false;
    put.bind(1, server);
    put.bind(2, now);
    return (put.execute() || fail(db, error)) && tx.commit(error);
}

bool listServers(Db& db, std::vector<std::pair<std::string, std::int64_t>>& servers, std::string& error) {
    Statement get;
    if (!db.prepare("SELECT name, seen FROM servers ORDER BY name", get, error))
        return false;
    servers.clear();
    int rc = 0;
    while ((rc = get.step()) == SQLITE_ROW)
        servers.emplace_back(std::string(get.text(0)), get.integer(1));
    return rc == SQLITE_DONE || fail(db, error);
}

bool endServerSessions(Db& db, std::span<const std::string> servers, std::string_view reason,
                       std::size_t& ended, std::string& error) {
    ended = 0;
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement end, forget;
    if (!db.prepare("UPDATE sessions SET ended = ?, end_reason = ? WHERE server = ? AND ended = ''", end,
                    error) ||
        !db.prepare("DELETE FROM servers WHERE name = ?", forget, error))
        return false;
    const std::string now = localTimestamp();
    for (const std::string& server : servers) {
        end.bind(1, now);
        end.bind(2, reason);
        end.bind(3, server);
        forget.bind(1, server);
        if (!end.execute())
            return fail(db, error);
        ended += static_cast<std::size_t>(sqlite3_changes(db.handle()));
        if (!forget.execute())
            return fail(db, error);
    }
    return tx.commit(error);
}

bool deleteEndedSessions(Db& db, std::string_view endedBefore, std::size_t& deleted, std::string& error) {
    Transaction tx(db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare("DELETE FROM sessions WHERE ended <> '' AND ended < ?", put, error))
        return false;
    put.bind(1, endedBefore);
    if (!put.execute())
        return fail(db, error);
    deleted = static_cast<std::size_t>(sqlite3_changes(db.handle()));
    return tx.commit(error);
}

} // namespace orvo::server::sqlite

namespace orvo::server::sqlite {
namespace {

// A session write waits this long for other writers (its turn among this server's, then an import in
// another process) before it is given up: a login then fails rather than hang, and the watch tries
// again at its next round.
constexpr int kSessionBusyMs = 2000;

} // namespace

Db* SqliteStore::writer(std::string& error) {
    if (!fileCurrent(error))
        return nullptr;
    if (sqlite3_db_readonly(m_db.handle(), "main") != 1)
        return &m_db;
    if (m_writer && m_writer->fileState() != Db::FileState::Same)
        m_writer.reset(); // the file was replaced: write to the one now under the path
    if (!m_writer) {
        const char* path = sqlite3_db_filename(m_db.handle(), "main");
        Db db;
        if (!path || !*path || !db.open(path, false, error))
            return nullptr;
        db.setBusyTimeout(kSessionBusyMs);
        m_writer.emplace(std::move(db));
    }
    return &*m_writer;
}

bool SqliteStore::openSession(std::string_view server, std::string_view operatorName,
                              std::string_view address, std::int64_t ticketSession, std::int64_t& id,
                              std::string& error) {
    Db* db = writer(error);
    return db && sqlite::openSession(*db, server, operatorName, address, ticketSession, id, error);
}

bool SqliteStore::sessionStates(std::string_view server, std::int64_t fromId, std::string_view endedSince,
                                std::vector<SessionState>& states, std::string& error) {
    return fileCurrent(error) && sqlite::sessionStates(m_db, server, fromId, endedSince, states, error);
}

bool SqliteStore::ticketSession(std::int64_t id, TicketSession& session, std::string& error) {
    return fileCurrent(error) && sqlite::ticketSession(m_db, id, session, error);
}

bool SqliteStore::revokeSessionTickets(std::span<const std::int64_t> ids, std::string_view operatorName,
                                       std::string_view reason, std::string_view by, std::size_t& revoked,
                                       std::string& error) {
    Db* db = writer(error);
    return db && sqlite::revokeSessionTickets(*db, ids, operatorName, reason, by, revoked, error);
}

bool SqliteStore::noteServerAlive(std::string_view server, std::int64_t now, std::string& error) {
    Db* db = writer(error);
    return db && sqlite::noteServerAlive(*db, server, now, error);
}

bool SqliteStore::listServers(std::vector<std::pair<std::string, std::int64_t>>& servers,
                              std::string& error) {
    return fileCurrent(error) && sqlite::listServers(m_db, servers, error);
}

bool SqliteStore::endServerSessions(std::span<const std::string> servers, std::string_view reason,
                                    std::size_t& ended, std::string& error) {
    Db* db = writer(error);
    return db && sqlite::endServerSessions(*db, servers, reason, ended, error);
}

bool SqliteStore::deleteEndedSessions(std::string_view endedBefore, std::size_t& deleted,
                                      std::string& error) {
    Db* db = writer(error);
    return db && sqlite::deleteEndedSessions(*db, endedBefore, deleted, error);
}

bool SqliteStore::noteSessionRequests(std::span<const SessionTouch> touches, std::string& error) {
    Db* db = writer(error);
    return db && sqlite::noteSessionRequests(*db, touches, error);
}

bool SqliteStore::endSessions(std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                              std::string& error) {
    Db* db = writer(error);
    return db && sqlite::endSessions(*db, ids, reason, ended, error);
}

bool SqliteStore::endOperatorSessions(std::string_view operatorName, std::string_view reason,
                                      std::size_t& ended, std::string& error) {
    Db* db = writer(error);
    return db && sqlite::endOperatorSessions(*db, operatorName, reason, ended, error);
}

bool SqliteStore::listSessions(std::string_view operatorName, bool withEnded,
                               std::vector<SessionRecord>& sessions, std::string& error) {
    return fileCurrent(error) && sqlite::listSessions(m_db, operatorName, withEnded, sessions, error);
}

} // namespace orvo::server::sqlite
