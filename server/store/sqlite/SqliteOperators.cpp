#include "server/store/sqlite/SqliteOperators.h"

#include "server/store/LoginCost.h"
#include "server/store/sqlite/SqliteStore.h"

namespace orvo::server {

bool authenticate(Db& db, std::string_view name, std::string_view password, Operator& op,
                  std::string& error) {
    sqlite::SqliteStore store(db);
    return authenticate(store, name, password, op, error);
}

bool storeOperator(Db& db, std::string_view name, std::string_view password, std::string_view branches,
                   std::string_view groups, bool demoLimits, std::string& error) {
    std::string hash;
    if (!hashPassword(password, hash, demoLimits)) {
        error = "password hashing failed";
        return false;
    }
    Statement put;
    if (!db.prepare("INSERT OR REPLACE INTO operators(name, pwhash, branches, groups) VALUES(?, ?, ?, ?)",
                    put, error))
        return false;
    put.bind(1, name);
    put.bind(2, hash);
    put.bind(3, branches);
    put.bind(4, groups);
    if (!put.execute()) {
        error = db.lastError();
        return false;
    }
    return true;
}

std::string dummyHashLikeStored(Db& db) {
    std::vector<std::string> hashes;
    Statement stmt;
    std::string error;
    if (db.prepare("SELECT pwhash FROM operators LIMIT 10000", stmt, error))
        while (stmt.step() == SQLITE_ROW)
            hashes.emplace_back(stmt.text(0));
    return dummyHashLike(hashes);
}

} // namespace orvo::server
