#include "server/store/sqlite/BulkLoad.h"

namespace orvo::server {

LargePageCache::LargePageCache(Db& db, long kib) : m_db(db) {
    Statement get;
    std::string ignored;
    if (db.prepare("PRAGMA cache_size", get, ignored) && get.step() == SQLITE_ROW)
        m_oldSize = std::to_string(get.integer(0));
    db.exec(("PRAGMA cache_size = -" + std::to_string(kib)).c_str(), ignored);
}

LargePageCache::~LargePageCache() {
    std::string ignored;
    m_db.exec(("PRAGMA cache_size = " + m_oldSize).c_str(), ignored);
}

bool setIndexesAside(Db& db, std::vector<std::string>& createStatements, std::string& error) {
    Statement list;
    if (!db.prepare("SELECT name, sql FROM sqlite_master WHERE type = 'index' AND tbl_name IN ('rules', "
                    "'orders') AND sql IS NOT NULL",
                    list, error))
        return false;
    std::vector<std::string> names;
    while (list.step() == SQLITE_ROW) {
        names.emplace_back(list.text(0));
        createStatements.emplace_back(list.text(1));
    }
    for (const std::string& name : names) {
        // The name comes from the schema itself; quoted as an identifier all the same.
        std::string quoted = "\"";
        for (char c : name)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        if (!db.exec(("DROP INDEX " + quoted + "\"").c_str(), error))
            return false;
    }
    return true;
}

bool restoreIndexes(Db& db, const std::vector<std::string>& createStatements, std::string& error) {
    for (const std::string& sql : createStatements)
        if (!db.exec(sql.c_str(), error))
            return false;
    return true;
}

} // namespace orvo::server
