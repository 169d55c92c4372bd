// The store on PostgreSQL, over a pool of connections shared by the server's threads: every call takes a
// connection for its own length and gives it back. Each query is one statement, so its rows come from one
// snapshot; large results are streamed one row at a time into the reply.
#pragma once

#include "server/store/RowCache.h"
#include "server/store/Store.h"
#include "server/store/postgres/PgPool.h"

#include <chrono>

namespace orvo::server::pg {

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

private:
    StreamEnd streamRulesCached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                ReplyWriter& reply, std::string& error);
    bool readStamp(PgConnection& conn, ReplyStamp& stamp, std::string& error);

    PgPool& m_pool;
    RowCache* m_cache = nullptr;
    std::chrono::milliseconds m_wait;
};

} // namespace orvo::server::pg
