// The store on one SQLite connection. The SQL of every query the functions make lives here and in
// SqliteRules.cpp; the connection is the caller's and stays open for the store's life.
#pragma once

#include "server/store/RowCache.h"
#include "server/store/Store.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/FileWatch.h"
#include "server/store/sqlite/StatementCache.h"

#include <optional>

namespace orvo::server::sqlite {

class SqliteStore final : public Store {
public:
    // cache: rule rows kept encoded between replies, shared with other stores (null: none).
    explicit SqliteStore(Db& db, RowCache* cache = nullptr) : m_db(db), m_cache(cache) {}
    // Owns the connection.
    explicit SqliteStore(Db&& db, RowCache* cache = nullptr)
        : m_owned(std::move(db)), m_db(*m_owned), m_cache(cache) {}
    // m_db may refer to m_owned: never copied or moved.
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    bool findOperator(std::string_view name, OperatorRecord& record, std::string& error) override;
    std::string dummyPasswordHash() override;
    void recordLogin(std::string_view name) override;
    void replacePasswordHash(std::string_view name, std::string_view oldHash,
                             std::string_view newHash) override;

    bool openSession(std::string_view server, std::string_view operatorName, std::string_view address,
                     std::int64_t ticketSession, std::int64_t& id, std::string& error) override;
    bool sessionStates(std::string_view server, std::int64_t fromId, std::string_view endedSince,
                       std::vector<SessionState>& states, std::string& error) override;
    bool ticketSession(std::int64_t id, TicketSession& session, std::string& error) override;
    bool revokeSessionTickets(std::span<const std::int64_t> ids, std::string_view operatorName,
                              std::string_view reason, std::string_view by, std::size_t& revoked,
                              std::string& error) override;
    bool noteServerAlive(std::string_view server, std::int64_t now, std::string& error) override;
    bool listServers(std::vector<std::pair<std::string, std::int64_t>>& servers, std::string& error) override;
    bool endServerSessions(std::span<const std::string> servers, std::string_view reason, std::size_t& ended,
                           std::string& error) override;
    bool deleteEndedSessions(std::string_view endedBefore, std::size_t& deleted, std::string& error) override;
    bool noteSessionRequests(std::span<const SessionTouch> touches, std::string& error) override;
    bool endSessions(std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                     std::string& error) override;
    bool endOperatorSessions(std::string_view operatorName, std::string_view reason, std::size_t& ended,
                             std::string& error) override;
    bool listSessions(std::string_view operatorName, bool withEnded, std::vector<SessionRecord>& sessions,
                      std::string& error) override;

    bool hasCodeTable(std::string_view table) override;
    StreamEnd streamCodeTable(std::string_view table, const Operator& op, ReplyWriter& reply,
                              std::string& error) override;

    StreamEnd streamRules(const RuleQuery& query, std::span<const ReplyColumn> columns, ReplyWriter& reply,
                          std::string& error) override;
    StreamEnd streamOrders(const OrderQuery& query, std::span<const std::uint32_t> tags, ReplyWriter& reply,
                           std::string& error) override;
    StreamEnd streamLinkGroups(const Operator& op, const Conditions& cond,
                               std::span<const std::uint32_t> tags, ReplyWriter& reply,
                               std::string& error) override;
    StreamEnd streamLinkSubgroups(const Operator& op, const Conditions& cond,
                                  std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                  std::string& error) override;

    bool readChangeState(ChangeState& state, std::string& error) override;
    bool countRuleChanges(int category, std::int64_t from, std::int64_t limit, std::int64_t& count,
                          std::string& error) override;
    StreamEnd streamLeftRules(const RuleQuery& query, ReplyWriter& reply, std::string& error) override;
    bool ordersChangedSince(const OrderQuery& query, std::int64_t from, bool& changed,
                            std::string& error) override;
    bool pruneTombstones(std::int64_t now, std::int64_t keepSeconds, std::int64_t& pruned,
                         std::string& error) override;

    Db& db() { return m_db; }

private:
    StreamEnd streamRulesUncached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                  ReplyWriter& reply, std::string& error);
    StreamEnd streamRulesCached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                ReplyWriter& reply, std::string& error);
    // Before each request on a connection of its own: a file replaced under the path is opened anew, a
    // file gone is refused, a file overwritten in place is refused once and opened anew; the cache is
    // told the database's identity. False, error set, when the request must not read.
    bool fileCurrent(std::string& error);
    // After a reply has read the file: false, error set, when it was overwritten in place meanwhile (the
    // rows read may be anything).
    bool fileStillCurrent(std::string& error);
    // The end of a reply that read the file: Done only while the file is still current.
    StreamEnd checked(StreamEnd end, std::string& error);
    bool reopenFile(std::string& error);
    // The database's identity (StateToken.h): the host, the file (device and inode) and how many times
    // this process found it overwritten in place, and the database's own random id.
    void knowIdentity();
    // A connection that may write: the store's own, or (when that is read-only, as a server's are) one
    // opened beside it on first need and kept (SqliteSessions.cpp).
    Db* writer(std::string& error);
    // Runs one write statement on a writable connection (the serving one may be read-only); failures ignored.
    template <typename Bind> void writeAside(const char* sql, Bind bind);

    std::optional<Db> m_owned;
    Db& m_db;
    std::optional<Db> m_writer;
    RowCache* m_cache = nullptr;
    std::uint64_t m_cacheGeneration = 0; // as the last request's file check began
    std::shared_ptr<FileWatch> m_watch;  // of the file the connection has open (null: not looked at yet)
    std::uint64_t m_incarnation = 0;     // the watch's when the connection opened
    std::uint64_t m_identity = 0;        // 0: to be read

    // The change state as last read, and the connection's data version then: while another
    // connection has committed nothing, it still holds (SqliteChanges.cpp).
    struct KnownChanges {
        sqlite3* connection = nullptr; // the statement's and the state's connection
        Statement dataVersion;
        std::int64_t version = -1;
        ChangeState state;
    } m_changes;
    StatementCache m_statements; // the statements a request runs again and again (changes, listings)
};

// Steps a prepared statement to its end; for each row, addItems(stmt) writes the row's items between
// beginRow() and endRow().
template <typename AddItems>
StreamEnd streamEachRow(Statement& stmt, ReplyWriter& reply, std::string& error, AddItems addItems) {
    for (;;) {
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return StreamEnd::Done;
        if (rc != SQLITE_ROW) {
            error = sqlite3_errstr(rc);
            return StreamEnd::DatabaseError;
        }
        reply.beginRow();
        addItems(stmt);
        if (!reply.endRow())
            return StreamEnd::SinkFailed;
    }
}

} // namespace orvo::server::sqlite
