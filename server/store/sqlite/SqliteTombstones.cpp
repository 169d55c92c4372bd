// Pruning the tombstones of changes on SQLite. The mark lives in meta as two entries, the time and the
// revision to ask from then; the pruned horizon as a third, which the change state reads.
#include "server/store/sqlite/SqliteStore.h"

namespace orvo::server::sqlite {
namespace {

bool fail(Db& db, std::string& error) {
    error = db.lastError();
    return false;
}

bool putEntry(Db& db, const char* sql, std::int64_t value, std::string& error) {
    Statement put;
    if (!db.prepare(sql, put, error))
        return false;
    put.bind(1, value);
    return put.execute() || fail(db, error);
}

} // namespace

bool SqliteStore::pruneTombstones(std::int64_t now, std::int64_t keepSeconds, std::int64_t& pruned,
                                  std::string& error) {
    pruned = 0;
    error.clear();
    if (!fileCurrent(error))
        return false;
    Db* db = writer(error);
    if (!db)
        return false;
    // Read and written in one write transaction, so that two servers on the file prune once.
    Transaction tx(*db);
    if (!tx.ok())
        return fail(*db, error);
    Statement get;
    if (!db->prepare("SELECT (SELECT value FROM rule_revision WHERE id = 1) + 1, "
                     "(SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'tombstone_mark_at'), "
                     "(SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'tombstone_mark_rev')",
                     get, error))
        return false;
    if (get.step() != SQLITE_ROW)
        return fail(*db, error);
    const std::int64_t next = get.integer(0);
    const bool marked = !get.isNull(1) && !get.isNull(2);
    const std::int64_t markedAt = get.integer(1);
    const std::int64_t markedRevision = get.integer(2);
    get.reset();
    if (marked && now - markedAt < keepSeconds)
        return true; // not yet: nothing written, the transaction rolls back
    if (marked) {
        Statement drop;
        if (!db->prepare("DELETE FROM row_tombstones WHERE rev < ?", drop, error))
            return false;
        drop.bind(1, markedRevision);
        if (!drop.execute())
            return fail(*db, error);
        pruned = sqlite3_changes(db->handle());
        if (!putEntry(*db,
                      "INSERT INTO meta(key, value) VALUES('tombstones_kept_from', ?1) ON CONFLICT(key) DO "
                      "UPDATE SET value = max(CAST(value AS INTEGER), ?1)",
                      markedRevision, error))
            return false;
    }
    if (!putEntry(*db, "INSERT OR REPLACE INTO meta(key, value) VALUES('tombstone_mark_at', ?)", now,
                  error) ||
        !putEntry(*db, "INSERT OR REPLACE INTO meta(key, value) VALUES('tombstone_mark_rev', ?)", next,
                  error))
        return false;
    return tx.commit(error);
}

} // namespace orvo::server::sqlite
