// Loading many rows in one transaction: room in the page cache while it lasts, and the secondary
// indexes of the bulk tables dropped first and built again once the rows are in.
#pragma once

#include "server/store/sqlite/Db.h"

#include <string>
#include <vector>

namespace orvo::server {

// Gives the connection a page cache of `kib` KiB for the object's lifetime, then puts the old size back.
class LargePageCache {
public:
    LargePageCache(Db& db, long kib);
    ~LargePageCache();
    LargePageCache(const LargePageCache&) = delete;
    LargePageCache& operator=(const LargePageCache&) = delete;

private:
    Db& m_db;
    std::string m_oldSize = "-2000"; // SQLite's default, should the old size be unreadable
};

// The secondary indexes of the rules and orders tables, as the schema defines them: dropped (inside the
// caller's transaction), their CREATE statements kept for restoreIndexes. Building them once after the
// rows costs a fraction of keeping them up to date row by row.
bool setIndexesAside(Db& db, std::vector<std::string>& createStatements, std::string& error);
bool restoreIndexes(Db& db, const std::vector<std::string>& createStatements, std::string& error);

} // namespace orvo::server
