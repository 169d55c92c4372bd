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
                          std::int64_t ticketSession, std::int64_t& id, std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const std::string now = localTimestamp();
    PgParams params;
    params.add(server).add(operatorName).add(address).add(now).add(now).add(ticketSession);
    const PgResult put =
        conn->query("INSERT INTO sessions(server, operator, address, since, last_request, ticket_session) "
                    "VALUES($1, $2, $3, $4, $5, $6) RETURNING id",
                    params, error);
    if (!put || put.rows() != 1)
        return false;
    id = put.row(0).integer(0);
    return true;
}

bool PgStore::sessionStates(std::string_view server, std::int64_t fromId, std::string_view endedSince,
                            std::vector<SessionState>& states, std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    // Two ranges of sessions_server_ended: the live ones, and those ended lately.
    const PgResult got = conn->query("SELECT id, operator_changes, 0, end_reason FROM sessions "
                                     "WHERE server = $1 AND ended = '' AND id >= $2 UNION ALL "
                                     "SELECT id, operator_changes, 1, end_reason FROM sessions "
                                     "WHERE server = $1 AND ended >= $3 AND id >= $2 ORDER BY 1",
                                     PgParams().add(server).add(fromId).add(endedSince), error);
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

bool PgStore::listSessions(std::string_view operatorName, bool withEnded,
                           std::vector<SessionRecord>& sessions, std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult got = conn->query("SELECT id, server, operator, address, since, last_request, ended, "
                                     "end_reason, ended_by FROM sessions "
                                     "WHERE ($2 OR ended = '') AND ($1 = '' OR operator = $1) ORDER BY id",
                                     PgParams().add(operatorName).add(withEnded ? "true" : "false"), error);
    if (!got)
        return false;
    sessions.clear();
    for (int i = 0; i < got.rows(); ++i) {
        const PgRow row = got.row(i);
        sessions.push_back({row.integer(0), std::string(row.text(1)), std::string(row.text(2)),
                            std::string(row.text(3)), std::string(row.text(4)), std::string(row.text(5)),
                            std::string(row.text(6)), std::string(row.text(7)), std::string(row.text(8))});
    }
    return true;
}

bool PgStore::ticketSession(std::int64_t id, TicketSession& session, std::string& error) {
    session = {};
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult got =
        conn->query("SELECT operator, ticket_revoked FROM sessions WHERE id = $1", PgParams().add(id), error);
    if (!got)
        return false;
    if (got.rows() == 1)
        session = {true, std::string(got.row(0).text(0)), std::string(got.row(0).text(1))};
    return true;
}

bool PgStore::revokeSessionTickets(std::span<const std::int64_t> ids, std::string_view operatorName,
                                   std::string_view reason, std::string_view by, std::size_t& revoked,
                                   std::string& error) {
    revoked = 0;
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    // A session's ticket is the one of the session it names (itself, for a password login): that
    // session's row keeps the refusal, and so does every session logged in with the same ticket.
    const PgResult put = conn->query(
        "WITH origin AS (SELECT CASE ticket_session WHEN 0 THEN id ELSE ticket_session END AS id FROM "
        "sessions "
        "WHERE id = ANY($3::bigint[])) UPDATE sessions SET ticket_revoked = $1, ended_by = $2 "
        "WHERE ticket_revoked = '' AND (id IN (SELECT id FROM origin) OR ticket_session IN (SELECT id FROM "
        "origin) OR (cardinality($3::bigint[]) = 0 AND operator = $4))",
        PgParams().add(reason).add(by).add(idArray(ids)).add(operatorName), error);
    if (!put)
        return false;
    revoked = static_cast<std::size_t>(put.affected());
    return true;
}

bool PgStore::noteServerAlive(std::string_view server, std::int64_t now, std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    return conn && conn->query("INSERT INTO servers(name, seen) VALUES($1, $2) ON CONFLICT (name) DO UPDATE "
                               "SET seen = EXCLUDED.seen",
                               PgParams().add(server).add(now), error);
}

bool PgStore::listServers(std::vector<std::pair<std::string, std::int64_t>>& servers, std::string& error) {
    servers.clear();
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult got = conn->query("SELECT name, seen FROM servers ORDER BY name", PgParams(), error);
    if (!got)
        return false;
    for (int i = 0; i < got.rows(); ++i)
        servers.emplace_back(std::string(got.row(i).text(0)), got.row(i).integer(1));
    return true;
}

bool PgStore::endServerSessions(std::span<const std::string> servers, std::string_view reason,
                                std::size_t& ended, std::string& error) {
    ended = 0;
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    for (const std::string& server : servers) {
        const PgResult put =
            conn->query("WITH gone AS (DELETE FROM servers WHERE name = $3) UPDATE sessions SET ended = $1, "
                        "end_reason = $2 WHERE server = $3 AND ended = ''",
                        PgParams().add(localTimestamp()).add(reason).add(server), error);
        if (!put)
            return false;
        ended += static_cast<std::size_t>(put.affected());
    }
    return true;
}

bool PgStore::deleteEndedSessions(std::string_view endedBefore, std::size_t& deleted, std::string& error) {
    deleted = 0;
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgResult put = conn->query("DELETE FROM sessions WHERE ended <> '' AND ended < $1",
                                     PgParams().add(endedBefore), error);
    if (!put)
        return false;
    deleted = static_cast<std::size_t>(put.affected());
    return true;
}

} // namespace orvo::server::pg
