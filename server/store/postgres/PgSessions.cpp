// The sessions table's statements on PostgreSQL (see Store.h for what each does).
#include "server/common/Dates.h"
#include "server/store/postgres/PgStore.h"

namespace orvo::server::pg {
namespace {

// The ids as a bigint[] parameter's text: "{1,2,3}".
std::string idArray(std::span<const std::int64_t> ids) {
    std::string text = "{";
    for (const std::int64_t id : ids) {
        if (text.size() > 1)
            text += ',';
        text += std::to_string(id);
    }
    text += '}';
    return text;
}

} // namespace

bool PgStore::openSession(std::string_view server, std::string_view operatorName, std::string_view address,
                          std::int64_t& id, std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const std::string now = localTimestamp();
    PgParams params;
    params.add(server).add(operatorName).add(address).add(now).add(now);
    const PgResult put = conn->query("INSERT INTO sessions(server, operator, address, since, last_request) "
                                     "VALUES($1, $2, $3, $4, $5) RETURNING id",
                                     params, error);
    if (!put || put.rows() != 1)
        return false;
    id = put.row(0).integer(0);
    return true;
}

bool PgStore::sessionStates(std::string_view server, std::int64_t fromId, std::vector<SessionState>& states,
                            std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult got = conn->query("SELECT id, operator_changes, CASE WHEN ended <> '' THEN 1 ELSE 0 END, "
                                     "end_reason FROM sessions WHERE server = $1 AND id >= $2 ORDER BY id",
                                     PgParams().add(server).add(fromId), error);
    if (!got)
        return false;
    states.clear();
    for (int i = 0; i < got.rows(); ++i) {
        const PgRow row = got.row(i);
        states.push_back({row.integer(0), row.integer(1), row.integer(2) != 0, std::string(row.text(3))});
    }
    return true;
}

bool PgStore::noteSessionRequests(std::span<const SessionTouch> touches, std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    // One statement for all: the pairs as two arrays taken apart side by side.
    std::string ids = "{", stamps = "{";
    for (const SessionTouch& touch : touches) {
        if (ids.size() > 1) {
            ids += ',';
            stamps += ',';
        }
        ids += std::to_string(touch.id);
        stamps += '"'; // the stamps hold digits, '.', ':' and ' ' only
        stamps += touch.lastRequest;
        stamps += '"';
    }
    ids += "}";
    stamps += "}";
    return static_cast<bool>(
        conn->query("UPDATE sessions s SET last_request = t.stamp FROM unnest($1::bigint[], $2::text[]) "
                    "AS t(id, stamp) WHERE s.id = t.id AND s.ended = ''",
                    PgParams().add(ids).add(stamps), error));
}

bool PgStore::endSessions(std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                          std::string& error) {
    ended = 0;
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult put = conn->query(
        "UPDATE sessions SET ended = $1, end_reason = $2 WHERE id = ANY($3::bigint[]) AND ended = ''",
        PgParams().add(localTimestamp()).add(reason).add(idArray(ids)), error);
    if (!put)
        return false;
    ended = static_cast<std::size_t>(put.affected());
    return true;
}

bool PgStore::endOperatorSessions(std::string_view operatorName, std::string_view reason, std::size_t& ended,
                                  std::string& error) {
    ended = 0;
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult put =
        conn->query("UPDATE sessions SET ended = $1, end_reason = $2 WHERE operator = $3 AND ended = ''",
                    PgParams().add(localTimestamp()).add(reason).add(operatorName), error);
    if (!put)
        return false;
    ended = static_cast<std::size_t>(put.affected());
    return true;
}

bool PgStore::listSessions(std::string_view operatorName, std::vector<SessionRecord>& sessions,
                           std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult got =
        conn->query("SELECT id, server, operator, address, since, last_request FROM sessions "
                    "WHERE ended = '' AND ($1 = '' OR operator = $1) ORDER BY id",
                    PgParams().add(operatorName), error);
    if (!got)
        return false;
    sessions.clear();
    for (int i = 0; i < got.rows(); ++i) {
        const PgRow row = got.row(i);
        sessions.push_back({row.integer(0), std::string(row.text(1)), std::string(row.text(2)),
                            std::string(row.text(3)), std::string(row.text(4)), std::string(row.text(5))});
    }
    return true;
}

} // namespace orvo::server::pg
