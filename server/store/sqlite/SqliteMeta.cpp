// The store's entries in the meta table on SQLite: the session ticket key.
#include "server/store/sqlite/SqliteStore.h"

namespace orvo::server::sqlite {
namespace {

constexpr std::string_view kTicketKeyEntry = "session_ticket_key";

// The entry's value; false with error empty when there is none.
bool readEntry(Db& db, std::string_view entry, std::string& value, std::string& error) {
    Statement get;
    if (!db.prepare("SELECT value FROM meta WHERE key = ?", get, error))
        return false;
    get.bind(1, entry);
    const int rc = get.step();
    if (rc == SQLITE_ROW) {
        value = get.text(0);
        return true;
    }
    if (rc != SQLITE_DONE)
        error = db.lastError();
    return false;
}

} // namespace

bool SqliteStore::sessionTicketKey(std::string_view candidate, std::string& key, std::string& error) {
    error.clear();
    if (!fileCurrent(error))
        return false;
    if (readEntry(m_db, kTicketKeyEntry, key, error))
        return true;
    if (!error.empty())
        return false;
    // None yet: the first server to need one stores it; a server that loses the race reads the winner's.
    Db* db = writer(error);
    if (!db)
        return false;
    Transaction tx(*db);
    if (!tx.ok()) {
        error = tx.error();
        return false;
    }
    Statement put;
    if (!db->prepare("INSERT OR IGNORE INTO meta(key, value) VALUES(?, ?)", put, error))
        return false;
    put.bind(1, kTicketKeyEntry);
    put.bind(2, candidate);
    if (!put.execute()) {
        error = db->lastError();
        return false;
    }
    if (!tx.commit(error))
        return false;
    if (readEntry(*db, kTicketKeyEntry, key, error))
        return true;
    if (error.empty())
        error = "the session ticket key could not be stored";
    return false;
}

} // namespace orvo::server::sqlite
