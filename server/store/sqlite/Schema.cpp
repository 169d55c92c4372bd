#include "server/store/sqlite/Schema.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace orvo::server {
namespace {

const char* const kSchemaSql = R"SQL(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);

-- Host code tables. Column names are those the client reads; row order is insertion order.
CREATE TABLE IF NOT EXISTS YYB(JGBM TEXT NOT NULL UNIQUE, JGJC TEXT NOT NULL, JGQC TEXT NOT NULL DEFAULT '',
    JGLB TEXT NOT NULL, SJJG TEXT NOT NULL DEFAULT '', SJJGLB TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS KHQZ(YYB TEXT NOT NULL, KHQZ TEXT NOT NULL UNIQUE, QZMC TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS KHQZ_YYB ON KHQZ(YYB);
CREATE TABLE IF NOT EXISTS QHJYS(JYS TEXT NOT NULL UNIQUE, JYSJC TEXT NOT NULL, JYSQC TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS JYS(JYS TEXT NOT NULL UNIQUE, JYSJC TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS QHPZ(JYS TEXT NOT NULL, ZQLB TEXT NOT NULL UNIQUE, ZQLBMC TEXT NOT NULL,
    HYPZ TEXT NOT NULL, PZMC TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS QHHYDM(JYS TEXT NOT NULL, JYSMC TEXT NOT NULL, ZQLB TEXT NOT NULL,
    ZQLBMC TEXT NOT NULL, ZQDM TEXT NOT NULL UNIQUE, HYMC TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS QHXTDM(FLDM TEXT NOT NULL, IBM INTEGER NOT NULL, CBM TEXT NOT NULL DEFAULT '',
    NOTE TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS QHXTDM_FLDM ON QHXTDM(FLDM, IBM);
CREATE TABLE IF NOT EXISTS XTDM(FLDM TEXT NOT NULL, IBM INTEGER NOT NULL, CBM TEXT NOT NULL DEFAULT '',
    NOTE TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS XTDM_FLDM ON XTDM(FLDM, IBM);
CREATE TABLE IF NOT EXISTS BZ(BZ TEXT NOT NULL UNIQUE, BZMC TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS ZQLB(ZQLB TEXT NOT NULL UNIQUE, ZQLBMC TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS YWKM(YWKM TEXT NOT NULL UNIQUE, YWMC TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS JYLB(JYLB INTEGER NOT NULL UNIQUE, JYLBMC TEXT NOT NULL);

-- Operators: branches and groups are comma-separated codes, or "9999" for all.
CREATE TABLE IF NOT EXISTS operators(name TEXT PRIMARY KEY, pwhash TEXT NOT NULL,
    branches TEXT NOT NULL, groups TEXT NOT NULL);

-- Customers: yyb is the organisation the account is opened at (a branch or an office under one),
-- branch the branch it belongs to, khqz its customer group.
CREATE TABLE IF NOT EXISTS customers(khh TEXT PRIMARY KEY, name TEXT NOT NULL, yyb TEXT NOT NULL,
    branch TEXT NOT NULL, khqz TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS customers_branch ON customers(branch);
CREATE INDEX IF NOT EXISTS customers_yyb ON customers(yyb);
CREATE INDEX IF NOT EXISTS customers_khqz ON customers(khqz);

-- Rule records of all six kinds; kind is the order category (2, 3, 4, 7, 6, 5). Columns that a kind
-- does not use stay at their defaults. Dates are text "YYYY.MM.DD", times "HH:MM:SS".
CREATE TABLE IF NOT EXISTS rules(
    lsh INTEGER PRIMARY KEY, kind INTEGER NOT NULL, khh TEXT NOT NULL REFERENCES customers(khh),
    status_text TEXT NOT NULL DEFAULT '', cfzt INTEGER NOT NULL DEFAULT 0,
    jys TEXT NOT NULL DEFAULT '', zqlb TEXT NOT NULL DEFAULT '', hydm TEXT NOT NULL DEFAULT '',
    jybm TEXT NOT NULL DEFAULT '', mmfx INTEGER NOT NULL DEFAULT 0, kpfx INTEGER NOT NULL DEFAULT 0,
    lots INTEGER NOT NULL DEFAULT 0, price TEXT NOT NULL DEFAULT '', filled INTEGER NOT NULL DEFAULT 0,
    cancelled INTEGER NOT NULL DEFAULT 0, set_time TEXT NOT NULL DEFAULT '', set_date TEXT NOT NULL,
    valid_date TEXT NOT NULL,
    pdfx INTEGER NOT NULL DEFAULT 0, trig_price TEXT NOT NULL DEFAULT '',
    ticks_profit TEXT NOT NULL DEFAULT '', ticks_loss TEXT NOT NULL DEFAULT '',
    off_profit_trig TEXT NOT NULL DEFAULT '0', off_profit_order TEXT NOT NULL DEFAULT '0',
    off_loss_trig TEXT NOT NULL DEFAULT '0', off_loss_order TEXT NOT NULL DEFAULT '0',
    src_order TEXT NOT NULL DEFAULT '', src_hydm TEXT NOT NULL DEFAULT '', src_mmfx INTEGER NOT NULL DEFAULT 0,
    src_kpfx INTEGER NOT NULL DEFAULT 0, src_lots INTEGER NOT NULL DEFAULT 0,
    src_filled INTEGER NOT NULL DEFAULT 0, src_cancelled INTEGER NOT NULL DEFAULT 0,
    src_price TEXT NOT NULL DEFAULT '', order_no TEXT NOT NULL DEFAULT '',
    tllx INTEGER NOT NULL DEFAULT 0, deviation TEXT NOT NULL DEFAULT '',
    trig_lots1 INTEGER NOT NULL DEFAULT 0, trig_lots2 INTEGER NOT NULL DEFAULT 0,
    filled2 INTEGER NOT NULL DEFAULT 0, min_order INTEGER NOT NULL DEFAULT 0,
    single_leg INTEGER NOT NULL DEFAULT 0, avg_price TEXT NOT NULL DEFAULT '',
    xzbh INTEGER NOT NULL DEFAULT 0, fzbh INTEGER NOT NULL DEFAULT 0, xdfs INTEGER NOT NULL DEFAULT 0);
-- (kind) is (kind, lsh): a query of one kind streams in serial order without a sort.
CREATE INDEX IF NOT EXISTS rules_kind ON rules(kind);
CREATE INDEX IF NOT EXISTS rules_kind_valid ON rules(kind, valid_date);
CREATE INDEX IF NOT EXISTS rules_khh ON rules(khh, kind);
CREATE INDEX IF NOT EXISTS rules_kind_hydm ON rules(kind, hydm);
CREATE INDEX IF NOT EXISTS rules_kind_src_hydm ON rules(kind, src_hydm);
CREATE INDEX IF NOT EXISTS rules_kind_jys ON rules(kind, jys);
CREATE INDEX IF NOT EXISTS rules_kind_zqlb ON rules(kind, zqlb);

-- Orders produced by rules: hist 0 for the current orders (function 16151), 1 for history (16171).
CREATE TABLE IF NOT EXISTS orders(
    id INTEGER PRIMARY KEY, lsh INTEGER NOT NULL REFERENCES rules(lsh), kind INTEGER NOT NULL,
    khh TEXT NOT NULL, hist INTEGER NOT NULL, wth INTEGER NOT NULL, status_text TEXT NOT NULL DEFAULT '',
    hydm TEXT NOT NULL, mmfx INTEGER NOT NULL, kpfx INTEGER NOT NULL, price TEXT NOT NULL,
    lots INTEGER NOT NULL, fill_price TEXT NOT NULL DEFAULT '', filled INTEGER NOT NULL DEFAULT 0,
    cancelled INTEGER NOT NULL DEFAULT 0, tzlb INTEGER NOT NULL DEFAULT 1, jys TEXT NOT NULL,
    jybm TEXT NOT NULL DEFAULT '', wtsj TEXT NOT NULL, sbsj TEXT NOT NULL DEFAULT '', wtrq TEXT NOT NULL,
    flag TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS orders_rule ON orders(khh, lsh, hist, wtrq);

-- Linked-order groups and their sub-groups.
CREATE TABLE IF NOT EXISTS link_groups(xzbh INTEGER PRIMARY KEY, xzmc TEXT NOT NULL,
    khh TEXT NOT NULL REFERENCES customers(khh), xzzt INTEGER NOT NULL DEFAULT 0, yyb TEXT NOT NULL,
    qx INTEGER NOT NULL DEFAULT 0, fwxm INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS link_groups_khh ON link_groups(khh);
CREATE TABLE IF NOT EXISTS link_subgroups(xzbh INTEGER NOT NULL REFERENCES link_groups(xzbh),
    fzbh INTEGER NOT NULL, fzjc TEXT NOT NULL, xdfs INTEGER NOT NULL DEFAULT 0,
    xgrq TEXT NOT NULL DEFAULT '', xgsj TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS link_subgroups_xzbh ON link_subgroups(xzbh);
)SQL";

struct DownloadTable {
    const char* name;
    const char* sql;
};

// Every downloadable table with its columns listed, so a later column added for the server's own use
// does not leak onto the wire by accident.
constexpr std::array<DownloadTable, 12> kDownloads{{
    {"YYB", "SELECT JGBM, JGJC, JGQC, JGLB, SJJG, SJJGLB FROM YYB ORDER BY rowid"},
    {"KHQZ", "SELECT YYB, KHQZ, QZMC FROM KHQZ ORDER BY rowid"},
    {"QHJYS", "SELECT JYS, JYSJC, JYSQC FROM QHJYS ORDER BY rowid"},
    {"JYS", "SELECT JYS, JYSJC FROM JYS ORDER BY rowid"},
    {"QHPZ", "SELECT JYS, ZQLB, ZQLBMC, HYPZ, PZMC FROM QHPZ ORDER BY rowid"},
    {"QHHYDM", "SELECT JYS, JYSMC, ZQLB, ZQLBMC, ZQDM, HYMC FROM QHHYDM ORDER BY rowid"},
    {"QHXTDM", "SELECT FLDM, IBM, CBM, NOTE FROM QHXTDM ORDER BY rowid"},
    {"XTDM", "SELECT FLDM, IBM, CBM, NOTE FROM XTDM ORDER BY rowid"},
    {"BZ", "SELECT BZ, BZMC FROM BZ ORDER BY rowid"},
    {"ZQLB", "SELECT ZQLB, ZQLBMC FROM ZQLB ORDER BY rowid"},
    {"YWKM", "SELECT YWKM, YWMC FROM YWKM ORDER BY rowid"},
    {"JYLB", "SELECT JYLB, JYLBMC FROM JYLB ORDER BY rowid"},
}};

} // namespace

namespace {

// Every change to the schema after the first version, in order: step i brings a database from version
// i + 1 to version i + 2. A new table, column or index is one more line here; a fresh database runs the
// first version's text and then every step, so fresh and migrated databases are the same.
constexpr std::array<const char*, 3> kMigrationSteps{{
    // 2: operators can be disabled without losing their permissions, and show their last login.
    "ALTER TABLE operators ADD COLUMN enabled INTEGER NOT NULL DEFAULT 1;"
    "ALTER TABLE operators ADD COLUMN last_login TEXT NOT NULL DEFAULT '';",
    // 3: every rule carries a revision that the database itself changes on every write of the rule and
    // of its customer (whose name a reply shows), drawn from one counter so that no revision ever comes
    // back, not even for a serial deleted and used again. A server may keep rules encoded and tell from
    // the revision alone whether one is still current. A write that sets rev itself is taken as it is.
    // Covering indexes list a kind's rules, or some customers' rules, with their revisions, and the
    // customers an operator may see.
    "CREATE TABLE rule_revision(id INTEGER PRIMARY KEY CHECK (id = 1), value INTEGER NOT NULL);"
    "INSERT INTO rule_revision VALUES(1, 0);"
    "ALTER TABLE rules ADD COLUMN rev INTEGER NOT NULL DEFAULT 0;"
    "CREATE TRIGGER rules_rev_insert AFTER INSERT ON rules BEGIN"
    "  UPDATE rule_revision SET value = value + 1 WHERE id = 1;"
    "  UPDATE rules SET rev = (SELECT value FROM rule_revision WHERE id = 1) WHERE lsh = NEW.lsh;"
    "END;"
    "CREATE TRIGGER rules_rev_update AFTER UPDATE ON rules WHEN NEW.rev = OLD.rev BEGIN"
    "  UPDATE rule_revision SET value = value + 1 WHERE id = 1;"
    "  UPDATE rules SET rev = (SELECT value FROM rule_revision WHERE id = 1) WHERE lsh = NEW.lsh;"
    "END;"
    "CREATE TRIGGER customers_rev_insert AFTER INSERT ON customers BEGIN"
    "  UPDATE rules SET rev = rev WHERE khh = NEW.khh;"
    "END;"
    "CREATE TRIGGER customers_rev_update AFTER UPDATE OF khh, name ON customers BEGIN"
    "  UPDATE rules SET rev = rev WHERE khh IN (OLD.khh, NEW.khh);"
    "END;"
    "CREATE TRIGGER customers_rev_delete AFTER DELETE ON customers BEGIN"
    "  UPDATE rules SET rev = rev WHERE khh = OLD.khh;"
    "END;"
    "DROP INDEX rules_khh;"
    "CREATE INDEX rules_khh ON rules(khh, kind, valid_date, rev);"
    "CREATE INDEX rules_kind_rev ON rules(kind, lsh, rev, valid_date);"
    "CREATE INDEX customers_scope ON customers(branch, khqz, khh);",
    // 4: revisions never go back, not even when a backup is restored over the database: each is the
    // counter plus one or the clock in microseconds (to the millisecond), whichever is larger, so one
    // drawn after a restore lies beyond every revision a server kept before it (a server keeps rows only
    // from replies that found the counter behind the clock). A customer's write no longer redraws its
    // rules' revisions: a change of a customer's name or key, or its deletion, draws `names`, which a
    // kept row must match as well as its own revision.
    "DROP TRIGGER customers_rev_insert;"
    "DROP TRIGGER customers_rev_update;"
    "DROP TRIGGER customers_rev_delete;"
    "DROP TRIGGER rules_rev_insert;"
    "DROP TRIGGER rules_rev_update;"
    "ALTER TABLE rule_revision ADD COLUMN names INTEGER NOT NULL DEFAULT 0;"
    "CREATE TRIGGER rules_rev_insert AFTER INSERT ON rules BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  UPDATE rules SET rev = (SELECT value FROM rule_revision WHERE id = 1) WHERE lsh = NEW.lsh;"
    "END;"
    "CREATE TRIGGER rules_rev_update AFTER UPDATE ON rules WHEN NEW.rev = OLD.rev BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  UPDATE rules SET rev = (SELECT value FROM rule_revision WHERE id = 1) WHERE lsh = NEW.lsh;"
    "END;"
    "CREATE TRIGGER customers_names_update AFTER UPDATE OF khh, name ON customers"
    "  WHEN OLD.khh IS NOT NEW.khh OR OLD.name IS NOT NEW.name BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000), names = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "END;"
    "CREATE TRIGGER customers_names_delete AFTER DELETE ON customers BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000), names = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "END;",
}};
static_assert(kMigrationSteps.size() + 1 == kSchemaVersion, "one migration step per version after the first");

bool writeVersion(Db& db, int version, std::string& error) {
    Statement put;
    if (!db.prepare("INSERT OR REPLACE INTO meta(key, value) VALUES('schema_version', ?)", put, error))
        return false;
    put.bind(1, std::to_string(version));
    if (!put.execute()) {
        error = db.lastError();
        return false;
    }
    return true;
}

bool applySteps(Db& db, int from, std::string& error) {
    for (int version = from; version < kSchemaVersion; ++version)
        if (!db.exec(kMigrationSteps[static_cast<size_t>(version - 1)], error)) {
            error = "step to schema version " + std::to_string(version + 1) + ": " + error;
            return false;
        }
    return writeVersion(db, kSchemaVersion, error);
}

} // namespace

bool readSchemaVersion(Db& db, int& version, std::string& error) {
    version = 0;
    Statement tables;
    if (!db.prepare("SELECT COUNT(*), SUM(name = 'meta') FROM sqlite_master WHERE type = 'table'", tables,
                    error))
        return false;
    if (tables.step() != SQLITE_ROW) {
        error = db.lastError();
        return false;
    }
    if (tables.integer(0) == 0)
        return true; // an empty file
    if (tables.integer(1) == 0) {
        error = "not a counter database (no schema version recorded)";
        return false;
    }
    Statement get;
    if (!db.prepare("SELECT value FROM meta WHERE key = 'schema_version'", get, error))
        return false;
    if (get.step() != SQLITE_ROW) {
        error = "not a counter database (no schema version recorded)";
        return false;
    }
    const std::string text(get.text(0));
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || value < 1 || value > 1000000) {
        error = "database has schema version '" + text + "', which this program does not know";
        return false;
    }
    version = static_cast<int>(value);
    return true;
}

bool createSchema(Db& db, std::string& error) {
    int version = 0;
    if (!readSchemaVersion(db, version, error))
        return false;
    if (version == kSchemaVersion)
        return true;
    if (version == 0) {
        Transaction tx(db);
        if (!tx.ok()) {
            error = "cannot write the database: " + db.lastError();
            return false;
        }
        return db.exec(kSchemaSql, error) && applySteps(db, 1, error) && tx.commit(error);
    }
    if (version > kSchemaVersion) {
        error = "database has schema version " + std::to_string(version) + ", newer than this program's " +
                std::to_string(kSchemaVersion) + "; use the program that wrote it";
        return false;
    }
    error = "database has schema version " + std::to_string(version) + ", this program needs " +
            std::to_string(kSchemaVersion) + ": run 'orvo-counterd migrate --db FILE' (after a backup)";
    return false;
}

bool prepareSchemaFile(const std::string& path, std::string& error) {
    Db db;
    return db.open(path, false, error) && createSchema(db, error);
}

bool migrateSchema(Db& db, int& from, std::string& error) {
    Transaction tx(db);
    if (!tx.ok()) {
        error = "database is busy: " + db.lastError();
        return false;
    }
    if (!readSchemaVersion(db, from, error))
        return false;
    if (from > kSchemaVersion) {
        error = "database has schema version " + std::to_string(from) + ", newer than this program's " +
                std::to_string(kSchemaVersion);
        return false;
    }
    if (from == 0 || from == kSchemaVersion)
        return true; // an empty file gets the current schema when it is first prepared
    return applySteps(db, from, error) && tx.commit(error);
}

bool isEmpty(Db& db, bool& empty, std::string& error) {
    Statement count;
    if (!db.prepare("SELECT EXISTS(SELECT 1 FROM operators)", count, error))
        return false;
    if (count.step() != SQLITE_ROW) {
        error = db.lastError();
        return false;
    }
    empty = count.integer(0) == 0;
    return true;
}

const char* downloadQueryFor(std::string_view tableName) {
    for (const DownloadTable& t : kDownloads)
        if (tableName == t.name)
            return t.sql;
    return nullptr;
}

} // namespace orvo::server
