// The store's entries in the meta table on PostgreSQL: the session ticket key.
#include "server/store/postgres/PgStore.h"

namespace orvo::server::pg {
namespace {

constexpr std::string_view kTicketKeyEntry = "session_ticket_key";

} // namespace

bool PgStore::sessionTicketKey(std::string_view candidate, std::string& key, std::string& error) {
    error.clear();
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    const PgParams entry = PgParams().add(kTicketKeyEntry);
    // Read; none yet: store the candidate unless another server just stored its own, and read again (a
    // statement of its own, so it sees whichever was stored first).
    for (int attempt = 0; attempt < 2; ++attempt) {
        const PgResult got = conn->query("SELECT value FROM meta WHERE key = $1", entry, error);
        if (!got)
            return false;
        if (got.rows() == 1) {
            key = got.row(0).text(0);
            return true;
        }
        if (attempt == 0 &&
            !conn->query("INSERT INTO meta(key, value) VALUES($1, $2) ON CONFLICT (key) DO NOTHING",
                         PgParams().add(kTicketKeyEntry).add(candidate), error))
            return false;
    }
    error = "the session ticket key could not be stored";
    return false;
}

} // namespace orvo::server::pg
