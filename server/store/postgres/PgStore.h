// The store on PostgreSQL, over a pool of connections shared by the server's threads: every call takes a
// connection for its own length and gives it back. Each query is one statement, so its rows come from one
// snapshot; large results are streamed one row at a time into the reply.
#pragma once

#include "server/store/RowCache.h"
#include "server/store/Store.h"
#include "server/store/postgres/PgPool.h"

#include <chrono>

namespace orvo::server::pg {

class PgChangeFeed;

class PgStore final : public Store {
public:
    // wait: how long a call waits for a free connection before it fails.
    // cache: rule rows kept encoded between replies, shared with other stores (null: none).
    explicit PgStore(PgPool& pool, RowCache* cache = nullptr,
                     std::chrono::milliseconds wait = std::chrono::seconds(10))
        : m_pool(pool), m_cache(cache), m_wait(wait) {}

    bool findOperator(std::string_view name, OperatorRecord& record, std::string& error) override;
    std::string dummyPasswordHash() override;
    void recordLogin(std::string_view name) override;
    void replacePasswordHash(std::string_view name, std::string_view oldHash,
                             std::string_view newHash) override;

    // PgSessions.cpp
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
    bool readChangeState(ChangeState& state, std::string& error) override;
    bool countRuleChanges(int category, std::int64_t from, std::int64_t limit, std::int64_t& count,
                          std::string& error) override;
    StreamEnd streamLeftRules(const RuleQuery& query, ReplyWriter& reply, std::string& error) override;
    bool ordersChangedSince(const OrderQuery& query, std::int64_t from, bool& changed,
                            std::string& error) override;
    bool pruneTombstones(std::int64_t now, std::int64_t keepSeconds, std::int64_t& pruned,
                         std::string& error) override;

    // The server's change notifications (null: none; every change state is then read from the database).
    void setChangeFeed(PgChangeFeed* feed) { m_feed = feed; }

    StreamEnd streamLinkGroups(const Operator& op, const Conditions& cond,
                               std::span<const std::uint32_t> tags, ReplyWriter& reply,
                               std::string& error) override;
    StreamEnd streamLinkSubgroups(const Operator& op, const Conditions& cond,
                                  std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                  std::string& error) override;

private:
    StreamEnd streamRulesCached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                ReplyWriter& reply, std::string& error);
    bool readStamp(PgConnection& conn, ReplyStamp& stamp, std::string& error);

    PgPool& m_pool;
    RowCache* m_cache = nullptr;
    std::chrono::milliseconds m_wait;
    PgChangeFeed* m_feed = nullptr;
};

} // namespace orvo::server::pg
