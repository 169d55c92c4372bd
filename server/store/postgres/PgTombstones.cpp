// Pruning the tombstones of changes on PostgreSQL. The mark lives in meta as two entries, the time and
// the position to ask from then (the commit clock's next: every position below it was committed by
// then); the pruned horizon as a third, which the change state reads. The positions of the transactions
// before the mark go with their tombstones.
#include "server/store/postgres/PgStore.h"
#include "server/store/postgres/PgTransaction.h"

namespace orvo::server::pg {

bool PgStore::pruneTombstones(std::int64_t now, std::int64_t keepSeconds, std::int64_t& pruned,
                              std::string& error) {
    pruned = 0;
    error.clear();
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    PgTransaction tx(*conn, error);
    if (!tx.ok())
        return false;
    // Servers sharing the database take turns on the mark's row (it is created first, if need be, by
    // whichever comes first); the second to come finds the mark new and prunes nothing.
    if (!conn->query("INSERT INTO meta(key, value) VALUES('tombstone_mark_at', '') ON CONFLICT (key) DO "
                     "NOTHING",
                     PgParams(), error) ||
        !conn->query("SELECT 1 FROM meta WHERE key = 'tombstone_mark_at' FOR UPDATE", PgParams(), error))
        return false;
    const PgResult got =
        conn->query("SELECT (SELECT nullif(value, '')::bigint FROM meta WHERE key = 'tombstone_mark_at'), "
                    "(SELECT nullif(value, '')::bigint FROM meta WHERE key = 'tombstone_mark_rev'), "
                    "(SELECT position + 1 FROM commit_clock WHERE id = 1)",
                    PgParams(), error);
    if (!got)
        return false;
    const bool marked = !got.row(0).isNull(0) && !got.row(0).isNull(1);
    const std::int64_t markedAt = marked ? got.row(0).integer(0) : 0;
    const std::int64_t markedRevision = marked ? got.row(0).integer(1) : 0;
    const std::int64_t next = got.row(0).integer(2);
    if (marked && now - markedAt < keepSeconds)
        return true; // not yet: nothing written, the transaction rolls back
    if (marked) {
        // Tombstones of transactions without a position (written before positions were kept) go too.
        const PgResult dropped = conn->query(
            "DELETE FROM row_tombstones t WHERE NOT EXISTS (SELECT 1 FROM commit_order o WHERE o.xid = t.rev "
            "AND o.position >= $1)",
            PgParams().add(markedRevision), error);
        if (!dropped || !conn->query("DELETE FROM commit_order WHERE position < $1",
                                     PgParams().add(markedRevision), error))
            return false;
        pruned = dropped.affected();
        // Servers answer "nothing changed" from memory until notified: they must read the new horizon.
        if (!conn->query("INSERT INTO meta(key, value) VALUES('tombstones_kept_from', $1) ON CONFLICT (key) "
                         "DO UPDATE SET value = greatest(meta.value::bigint, $1::bigint)::text",
                         PgParams().add(markedRevision), error) ||
            !conn->query("SELECT pg_notify('orvo_changes', '')", PgParams(), error))
            return false;
    }
    if (!conn->query("UPDATE meta SET value = $1 WHERE key = 'tombstone_mark_at'", PgParams().add(now),
                     error) ||
        !conn->query("INSERT INTO meta(key, value) VALUES('tombstone_mark_rev', $1) ON CONFLICT (key) DO "
                     "UPDATE SET value = excluded.value",
                     PgParams().add(next), error))
        return false;
    return tx.commit(error);
}

} // namespace orvo::server::pg
