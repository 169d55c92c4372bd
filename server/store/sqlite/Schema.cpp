#include "server/store/sqlite/Schema.h"

#include "server/store/SchemaDdl.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace orvo::server {
namespace {

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
constexpr std::array<const char*, 7> kMigrationSteps{{
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
    // 5: changes since a revision. Orders carry a revision drawn as the rules' are; a deleted rule or
    // order, and a rule moved to another kind or customer, leaves a tombstone with its old kind and
    // customer at a revision of its own, so a server can tell a client which rows left; a change of a
    // customer's branch, office or group draws `scope` (who may see which rules changed). rules(kind, rev)
    // finds a kind's rules written since a revision.
    "ALTER TABLE orders ADD COLUMN rev INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE rule_revision ADD COLUMN scope INTEGER NOT NULL DEFAULT 0;"
    "CREATE TABLE row_tombstones(tbl TEXT NOT NULL, serial INTEGER NOT NULL, kind INTEGER NOT NULL,"
    "  khh TEXT NOT NULL, lsh INTEGER NOT NULL, rev INTEGER NOT NULL);"
    "CREATE INDEX row_tombstones_rev ON row_tombstones(tbl, kind, rev);"
    "CREATE INDEX row_tombstones_rule ON row_tombstones(lsh, rev);"
    "CREATE INDEX rules_kind_changes ON rules(kind, rev);"
    "CREATE TRIGGER orders_rev_insert AFTER INSERT ON orders BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  UPDATE orders SET rev = (SELECT value FROM rule_revision WHERE id = 1) WHERE id = NEW.id;"
    "END;"
    "CREATE TRIGGER orders_rev_update AFTER UPDATE ON orders WHEN NEW.rev = OLD.rev BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  UPDATE orders SET rev = (SELECT value FROM rule_revision WHERE id = 1) WHERE id = NEW.id;"
    "END;"
    "CREATE TRIGGER orders_gone AFTER DELETE ON orders BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  INSERT INTO row_tombstones SELECT 'orders', OLD.id, OLD.kind, OLD.khh, OLD.lsh, value"
    "    FROM rule_revision WHERE id = 1;"
    "END;"
    "CREATE TRIGGER rules_gone AFTER DELETE ON rules BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  INSERT INTO row_tombstones SELECT 'rules', OLD.lsh, OLD.kind, OLD.khh, OLD.lsh, value"
    "    FROM rule_revision WHERE id = 1;"
    "END;"
    "CREATE TRIGGER rules_moved AFTER UPDATE OF kind, khh ON rules"
    "  WHEN OLD.kind IS NOT NEW.kind OR OLD.khh IS NOT NEW.khh BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "  INSERT INTO row_tombstones SELECT 'rules', OLD.lsh, OLD.kind, OLD.khh, OLD.lsh, value"
    "    FROM rule_revision WHERE id = 1;"
    "END;"
    "CREATE TRIGGER customers_scope_update AFTER UPDATE OF branch, yyb, khqz ON customers"
    "  WHEN OLD.branch IS NOT NEW.branch OR OLD.yyb IS NOT NEW.yyb OR OLD.khqz IS NOT NEW.khqz BEGIN"
    "  UPDATE rule_revision SET value = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000), scope = max(value + 1, CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER) * 1000) WHERE id = 1;"
    "END;",
    // 6: servers record the sessions they hold, so that an administrator can list and end them on any
    // server. Every change of an operator (permissions, enabled, the row replaced or deleted; not a
    // new hash of the same password) counts up operator_changes of its live sessions, which the
    // holding server watches to read the operator again. An operator row replaced by INSERT OR
    // REPLACE fires no delete trigger, hence the insert trigger.
    "CREATE TABLE sessions(id INTEGER PRIMARY KEY, server TEXT NOT NULL,"
    "  operator TEXT NOT NULL, address TEXT NOT NULL, since TEXT NOT NULL, last_request TEXT NOT NULL,"
    "  operator_changes INTEGER NOT NULL DEFAULT 0, ended TEXT NOT NULL DEFAULT '',"
    "  end_reason TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX sessions_server ON sessions(server, id);"
    "CREATE INDEX sessions_operator ON sessions(operator, ended);"
    "CREATE TRIGGER operators_sessions_insert AFTER INSERT ON operators BEGIN"
    "  UPDATE sessions SET operator_changes = operator_changes + 1 WHERE operator = NEW.name AND ended = '';"
    "END;"
    "CREATE TRIGGER operators_sessions_update AFTER UPDATE OF name, branches, groups, enabled ON operators"
    "  BEGIN"
    "  UPDATE sessions SET operator_changes = operator_changes + 1"
    "    WHERE operator IN (OLD.name, NEW.name) AND ended = '';"
    "END;"
    "CREATE TRIGGER operators_sessions_delete AFTER DELETE ON operators BEGIN"
    "  UPDATE sessions SET operator_changes = operator_changes + 1 WHERE operator = OLD.name AND ended = '';"
    "END;",
    // 7: session tickets are signed with a key kept outside the database, and carry the operator's
    // ticket epoch, which every disable, enable and password change counts up: a ticket revoked once
    // stays revoked. The key the database used to keep is dropped with every ticket it signed. A ticket
    // names the session it was issued in (ticket_session of the sessions logged in with it), which an
    // administrator revokes with the session. Servers note themselves in `servers`, so that the sessions
    // of one that died are ended by the others; the watch reads a server's live sessions by index.
    "ALTER TABLE sessions ADD COLUMN ticket_session INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE sessions ADD COLUMN ticket_revoked TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE sessions ADD COLUMN ended_by TEXT NOT NULL DEFAULT '';"
    "DROP INDEX sessions_server;"
    "CREATE INDEX sessions_server_ended ON sessions(server, ended, id);"
    "CREATE INDEX sessions_ended ON sessions(ended);"
    "CREATE TABLE servers(name TEXT PRIMARY KEY, seen INTEGER NOT NULL);"
    "ALTER TABLE operators ADD COLUMN ticket_epoch INTEGER NOT NULL DEFAULT 0;"
    "CREATE TRIGGER operators_ticket_epoch AFTER UPDATE OF pwhash, enabled ON operators"
    "  WHEN OLD.pwhash IS NOT NEW.pwhash OR OLD.enabled IS NOT NEW.enabled BEGIN"
    "  UPDATE operators SET ticket_epoch = OLD.ticket_epoch + 1 WHERE name = NEW.name;"
    "END;"
    "DELETE FROM meta WHERE key = 'session_ticket_key';",
    // 8: the database draws a random id of its own, part of its identity in the revisions a server hands
    // out, so that two servers on different files never take each other's revisions. Nothing else
    // depends on earlier steps.
    "INSERT OR IGNORE INTO meta(key, value) VALUES('database_id', lower(hex(randomblob(16))));",
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
        return db.exec(schema::tablesSql(schema::Dialect::Sqlite, 1).c_str(), error) &&
               applySteps(db, 1, error) && tx.commit(error);
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
