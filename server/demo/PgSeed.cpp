// The demo data is generated once, into a throwaway SQLite file, and copied table by table: both stores
// then hold the same rows, in the same order, down to the password hashes.
#include "server/demo/PgSeed.h"

#include "server/demo/PrepareStore.h"
#include "server/store/postgres/PgSchema.h"
#include "server/store/postgres/PgTransaction.h"
#include "server/store/sqlite/Db.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace orvo::server::pg {
namespace {

// Every table of the schema but meta, parents before the tables that refer to them. The copy reads each
// in stored order, which the identity rowid of the code tables and sub-groups keeps.
constexpr std::array<const char*, 18> kTables{{"YYB", "KHQZ", "QHJYS", "JYS", "QHPZ", "QHHYDM", "QHXTDM",
                                               "XTDM", "BZ", "ZQLB", "YWKM", "JYLB", "operators", "customers",
                                               "rules", "orders", "link_groups", "link_subgroups"}};

bool copyTable(Db& from, PgConnection& to, const char* table, std::string& error) {
    Statement read;
    if (!from.prepare(std::string("SELECT * FROM ") + table + " ORDER BY rowid", read, error))
        return false;
    const int columns = read.columnCount();
    std::string insert = std::string("INSERT INTO ") + table + "(";
    std::string values;
    for (int i = 0; i < columns; ++i) {
        insert += (i ? ", " : "");
        insert += read.columnName(i);
        values += (i ? ", $" : "$") + std::to_string(i + 1);
    }
    insert += ") VALUES(" + values + ")";
    const std::string name = std::string("seed_") + table;
    if (!to.prepare(name, insert.c_str(), error))
        return false;
    for (;;) {
        const int rc = read.step();
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW) {
            error = from.lastError();
            return false;
        }
        PgParams params;
        for (int i = 0; i < columns; ++i) {
            if (read.isNull(i))
                params.addNull();
            else
                params.add(read.text(i));
        }
        if (!to.queryPrepared(name, params, error))
            return false;
    }
}

// A temporary folder removed with everything in it when the scope ends.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string& error) {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvo-seed-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
        else
            error = "cannot make a temporary folder for the demo data";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

bool seedFromSqlite(PgConnection& conn, const DemoOptions& demo, std::string& error) {
    ScratchFolder scratch(error);
    if (scratch.path().empty())
        return false;
    const std::string file = scratch.path() + "/demo.db";
    if (!prepareStore(file, &demo, error))
        return false;
    Db source;
    if (!source.open(file, true, error))
        return false;
    PgTransaction tx(conn, error);
    if (!tx.ok())
        return false;
    for (const char* table : kTables)
        if (!copyTable(source, conn, table, error))
            return false;
    // VACUUM marks the new pages all-visible, so the covering indexes answer without visiting the table
    // (as autovacuum would, later); ANALYZE gives the planner the data's shape.
    return tx.commit(error) && conn.exec("VACUUM (ANALYZE)", error);
}

} // namespace

bool preparePgStore(const std::string& conninfo, const DemoOptions* demo, std::string& error) {
    PgConnection conn;
    if (!conn.open(conninfo, error) || !createPgSchema(conn, error))
        return false;
    bool empty = false;
    if (!isPgEmpty(conn, empty, error))
        return false;
    return !(empty && demo) || seedFromSqlite(conn, *demo, error);
}

bool pgHasNoOperators(const std::string& conninfo, bool& none, std::string& error) {
    PgConnection conn;
    return conn.open(conninfo, error) && isPgEmpty(conn, none, error);
}

} // namespace orvo::server::pg
