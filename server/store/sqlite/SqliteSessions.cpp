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
                 std::int64_t& id, std::string& error) {
    Transaction tx(db); // one statement, but taken in turn with the process's other writers
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db.prepare(
            "INSERT INTO sessions(server, operator, address, since, last_request) VALUES(?, ?, ?, ?, ?)", put,
            error))
        return false;
    const std::string now = localTimestamp();
    put.bind(1, server);
    put.bind(2, operatorName);
    put.bind(3, address);
    put.bind(4, now);
    put.bind(5, now);
    if (!put.execute())
        return fail(db, error);
    id = sqlite3_last_insert_rowid(db.handle());
    return tx.commit(error);
}

bool sessionStates(Db& db, std::string_view server, std::int64_t fromId, std::vector<SessionState>& states,
                   std::string& error) {
    Statement get;
    if (!db.prepare("SELECT id, operator_changes, ended <> '', end_reason FROM sessions "
                    "WHERE server = ? AND id >= ? ORDER BY id",
                    get, error))
        return false;
    get.bind(1, server);
    get.bind(2, fromId);
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

bool listSessions(Db& db, std::string_view operatorName, std::vector<SessionRecord>& sessions,
                  std::string& error) {
    Statement get;
    if (!db.prepare("SELECT id, server, operator, address, since, last_request FROM sessions "
                    "WHERE ended = '' AND (? = '' OR operator = ?) ORDER BY id",
                    get, error))
        return false;
    get.bind(1, operatorName);
    get.bind(2, operatorName);
    sessions.clear();
    int rc = 0;
    while ((rc = get.step()) == SQLITE_ROW)
        sessions.push_back({get.integer(0), std::string(get.text(1)), std::string(get.text(2)),
                            std::string(get.text(3)), std::string(get.text(4)), std::string(get.text(5))});
    return rc == SQLITE_DONE || fail(db, error);
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
                              std::string_view address, std::int64_t& id, std::string& error) {
    Db* db = writer(error);
    return db && sqlite::openSession(*db, server, operatorName, address, id, error);
}

bool SqliteStore::sessionStates(std::string_view server, std::int64_t fromId,
                                std::vector<SessionState>& states, std::string& error) {
    return fileCurrent(error) && sqlite::sessionStates(m_db, server, fromId, states, error);
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

bool SqliteStore::listSessions(std::string_view operatorName, std::vector<SessionRecord>& sessions,
                               std::string& error) {
    return fileCurrent(error) && sqlite::listSessions(m_db, operatorName, sessions, error);
}

} // namespace orvo::server::sqlite
