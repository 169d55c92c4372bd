// Pruning the tombstones of changes on PostgreSQL. The mark lives in meta as two entries, the time and
// the revision to ask from then (the snapshot's xmin: every transaction below it had ended, so every
// tombstone below it was committed by then); the pruned horizon as a third, which the change state reads.
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
                    "4611686018427387904 + txid_snapshot_xmin(txid_current_snapshot())",
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
        const PgResult dropped =
            conn->query("DELETE FROM row_tombstones WHERE rev < $1", PgParams().add(markedRevision), error);
        if (!dropped)
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
