#include "server/store/postgres/PgSchema.h"

#include "server/store/SchemaDdl.h"
#include "server/store/SchemaTables.h"
#include "server/store/postgres/PgTransaction.h"

#include <algorithm>
#include <array>

namespace orvo::server::pg {
namespace {

// A fresh database's tables come from the schema's description (SchemaDdl.h says how they translate);
// queries that return column names to the client alias them in double quotes (see kDownloads), as
// unquoted names fold to lower case here.

// Every change to the schema after the first version, in order: step i brings a database from version
// i + 1 to version i + 2, as the SQLite schema's steps do. Both back-ends record the same version number.
constexpr std::array<const char*, 7> kMigrationSteps{{
    // 2: operators can be disabled, and a login notes its time.
    "ALTER TABLE operators ADD COLUMN enabled bigint NOT NULL DEFAULT 1;"
    "ALTER TABLE operators ADD COLUMN last_login gbk NOT NULL DEFAULT '';",
    // 3: every rule carries a revision that the database itself changes on every write of the rule and
    // of its customer (whose name a reply shows), drawn from one sequence so that no revision ever comes
    // back: servers keep rules encoded and tell from the revision alone whether one is still current.
    // Covering indexes list a kind's rules, or some customers' rules, with their revisions, and the
    // customers an operator may see.
    "CREATE SEQUENCE rule_revision;"
    "ALTER TABLE rules ADD COLUMN rev bigint NOT NULL DEFAULT 0;"
    "CREATE FUNCTION rules_next_rev() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN NEW.rev := nextval('rule_revision'); RETURN NEW; END $$;"
    "CREATE TRIGGER rules_rev BEFORE INSERT OR UPDATE ON rules"
    " FOR EACH ROW EXECUTE FUNCTION rules_next_rev();"
    "CREATE FUNCTION customers_touch_rules() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " IF TG_OP <> 'INSERT' THEN UPDATE rules SET rev = rev WHERE khh = OLD.khh; END IF;"
    " IF TG_OP <> 'DELETE' THEN UPDATE rules SET rev = rev WHERE khh = NEW.khh; END IF;"
    " RETURN NULL; END $$;"
    "CREATE TRIGGER customers_rev_write AFTER INSERT OR DELETE ON customers"
    " FOR EACH ROW EXECUTE FUNCTION customers_touch_rules();"
    "CREATE TRIGGER customers_rev_rename AFTER UPDATE OF khh, name ON customers"
    " FOR EACH ROW EXECUTE FUNCTION customers_touch_rules();"
    "DROP INDEX rules_khh;"
    "CREATE INDEX rules_khh ON rules(khh, kind, valid_date, rev);"
    "CREATE INDEX rules_kind_rev ON rules(kind, lsh, rev, valid_date);"
    "CREATE INDEX customers_scope ON customers(branch, khqz, khh);",
    // 4: a revision is the writing transaction's id, past anything the sequence drew: unique for as long
    // as the cluster lives, and not stored in a dump, so a restore cannot make one come back. A
    // customer's write no longer redraws its rules' revisions: a statement that changes a customer's
    // name or key, or deletes one, sets `names`, which a kept row must match as well as its own revision.
    // The one row serialises such statements, so a reply's snapshot sees `names` and the names together.
    "DROP TRIGGER customers_rev_write ON customers;"
    "DROP TRIGGER customers_rev_rename ON customers;"
    "DROP FUNCTION customers_touch_rules();"
    "CREATE OR REPLACE FUNCTION rules_next_rev() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN NEW.rev := 4611686018427387904 + txid_current(); RETURN NEW; END $$;"
    "DROP SEQUENCE rule_revision;"
    "CREATE TABLE rule_revision(id bigint PRIMARY KEY CHECK (id = 1), names bigint NOT NULL);"
    "INSERT INTO rule_revision VALUES(1, 4611686018427387904 + txid_current());"
    "CREATE FUNCTION customers_names_changed() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " IF TG_OP = 'TRUNCATE' OR (TG_OP = 'DELETE' AND EXISTS (SELECT 1 FROM gone)) OR"
    "  (TG_OP = 'UPDATE' AND EXISTS (SELECT 1 FROM gone g WHERE NOT EXISTS"
    "   (SELECT 1 FROM kept k WHERE k.khh = g.khh AND k.name = g.name))) THEN"
    "  UPDATE rule_revision SET names = 4611686018427387904 + txid_current() WHERE id = 1;"
    " END IF; RETURN NULL; END $$;"
    "CREATE TRIGGER customers_names_update AFTER UPDATE ON customers REFERENCING OLD TABLE AS gone"
    " NEW TABLE AS kept FOR EACH STATEMENT EXECUTE FUNCTION customers_names_changed();"
    "CREATE TRIGGER customers_names_delete AFTER DELETE ON customers REFERENCING OLD TABLE AS gone"
    " FOR EACH STATEMENT EXECUTE FUNCTION customers_names_changed();"
    "CREATE TRIGGER customers_names_truncate AFTER TRUNCATE ON customers"
    " FOR EACH STATEMENT EXECUTE FUNCTION customers_names_changed();",
    // 5: changes since a revision, as the SQLite schema's step 5: orders carry revisions, deleted or moved
    // rows leave tombstones, a customer's change of branch, office or group (or a table emptied at once)
    // draws `scope`. Every statement that writes rules, orders or customers notifies channel
    // orvo_changes, so servers learn of new revisions without asking.
    "ALTER TABLE orders ADD COLUMN rev bigint NOT NULL DEFAULT 0;"
    "ALTER TABLE rule_revision ADD COLUMN scope bigint NOT NULL DEFAULT 0;"
    "CREATE TABLE row_tombstones(tbl gbk NOT NULL, serial bigint NOT NULL, kind bigint NOT NULL,"
    " khh gbk NOT NULL, lsh bigint NOT NULL, rev bigint NOT NULL);"
    "CREATE INDEX row_tombstones_rev ON row_tombstones(tbl, kind, rev);"
    "CREATE INDEX row_tombstones_rule ON row_tombstones(lsh, rev);"
    "CREATE INDEX rules_kind_changes ON rules(kind, rev);"
    "CREATE TRIGGER orders_rev BEFORE INSERT OR UPDATE ON orders"
    " FOR EACH ROW EXECUTE FUNCTION rules_next_rev();"
    "CREATE FUNCTION rules_gone() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " INSERT INTO row_tombstones VALUES('rules', OLD.lsh, OLD.kind, OLD.khh, OLD.lsh,"
    "  4611686018427387904 + txid_current());"
    " RETURN NULL; END $$;"
    "CREATE TRIGGER rules_gone AFTER DELETE ON rules FOR EACH ROW EXECUTE FUNCTION rules_gone();"
    "CREATE TRIGGER rules_moved AFTER UPDATE OF kind, khh ON rules FOR EACH ROW"
    " WHEN (OLD.kind IS DISTINCT FROM NEW.kind OR OLD.khh IS DISTINCT FROM NEW.khh)"
    " EXECUTE FUNCTION rules_gone();"
    "CREATE FUNCTION orders_gone() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " INSERT INTO row_tombstones VALUES('orders', OLD.id, OLD.kind, OLD.khh, OLD.lsh, 4611686018427387904 + txid_current());"
    " RETURN NULL; END $$;"
    "CREATE TRIGGER orders_gone AFTER DELETE ON orders FOR EACH ROW EXECUTE FUNCTION orders_gone();"
    "CREATE FUNCTION scope_changed() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " IF TG_OP = 'TRUNCATE' OR EXISTS (SELECT 1 FROM gone g WHERE NOT EXISTS (SELECT 1 FROM kept k"
    "  WHERE k.khh = g.khh AND k.branch = g.branch AND k.yyb = g.yyb AND k.khqz = g.khqz)) THEN"
    "  UPDATE rule_revision SET scope = 4611686018427387904 + txid_current() WHERE id = 1;"
    " END IF; RETURN NULL; END $$;"
    "CREATE TRIGGER customers_scope_update AFTER UPDATE ON customers REFERENCING OLD TABLE AS gone"
    " NEW TABLE AS kept FOR EACH STATEMENT EXECUTE FUNCTION scope_changed();"
    "CREATE TRIGGER rules_scope_truncate AFTER TRUNCATE ON rules"
    " FOR EACH STATEMENT EXECUTE FUNCTION scope_changed();"
    "CREATE TRIGGER orders_scope_truncate AFTER TRUNCATE ON orders"
    " FOR EACH STATEMENT EXECUTE FUNCTION scope_changed();"
    "CREATE FUNCTION notify_changes() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " PERFORM pg_notify('orvo_changes', ''); RETURN NULL; END $$;"
    "CREATE TRIGGER rules_notify AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON rules"
    " FOR EACH STATEMENT EXECUTE FUNCTION notify_changes();"
    "CREATE TRIGGER orders_notify AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON orders"
    " FOR EACH STATEMENT EXECUTE FUNCTION notify_changes();"
    "CREATE TRIGGER customers_notify AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON customers"
    " FOR EACH STATEMENT EXECUTE FUNCTION notify_changes();",
    // 6: servers record the sessions they hold, so that an administrator can list and end them on any
    // server. Every change of an operator (permissions, enabled, the row deleted or added again; not a
    // new hash of the same password) counts up operator_changes of its live sessions, which the
    // holding server watches to read the operator again.
    "CREATE TABLE sessions(id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, server gbk NOT NULL,"
    " operator gbk NOT NULL, address gbk NOT NULL, since gbk NOT NULL, last_request gbk NOT NULL,"
    " operator_changes bigint NOT NULL DEFAULT 0, ended gbk NOT NULL DEFAULT '',"
    " end_reason gbk NOT NULL DEFAULT '');"
    "CREATE INDEX sessions_server ON sessions(server, id);"
    "CREATE INDEX sessions_operator ON sessions(operator, ended);"
    "CREATE FUNCTION operators_touch_sessions() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " IF TG_OP <> 'INSERT' THEN UPDATE sessions SET operator_changes = operator_changes + 1"
    "  WHERE operator = OLD.name AND ended = ''; END IF;"
    " IF TG_OP <> 'DELETE' THEN UPDATE sessions SET operator_changes = operator_changes + 1"
    "  WHERE operator = NEW.name AND ended = ''; END IF;"
    " RETURN NULL; END $$;"
    "CREATE TRIGGER operators_sessions AFTER INSERT OR DELETE ON operators"
    " FOR EACH ROW EXECUTE FUNCTION operators_touch_sessions();"
    "CREATE TRIGGER operators_sessions_change AFTER UPDATE OF name, branches, groups, enabled ON operators"
    " FOR EACH ROW EXECUTE FUNCTION operators_touch_sessions();",
    // 7: session tickets are signed with a key kept outside the database, and carry the operator's
    // ticket epoch, which every disable, enable and password change counts up: a ticket revoked once
    // stays revoked. The key the database used to keep is dropped with every ticket it signed. A ticket
    // names the session it was issued in (ticket_session of the sessions logged in with it), which an
    // administrator revokes with the session. Servers note themselves in `servers`, so that the sessions
    // of one that died are ended by the others; the watch reads a server's live sessions by index.
    "ALTER TABLE sessions ADD COLUMN ticket_session bigint NOT NULL DEFAULT 0,"
    " ADD COLUMN ticket_revoked gbk NOT NULL DEFAULT '', ADD COLUMN ended_by gbk NOT NULL DEFAULT '';"
    "DROP INDEX sessions_server;"
    "CREATE INDEX sessions_server_ended ON sessions(server, ended, id);"
    "CREATE INDEX sessions_ended ON sessions(ended);"
    "CREATE TABLE servers(name gbk PRIMARY KEY, seen bigint NOT NULL);"
    "ALTER TABLE operators ADD COLUMN ticket_epoch bigint NOT NULL DEFAULT 0;"
    "CREATE FUNCTION operators_ticket_epoch() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " NEW.ticket_epoch := OLD.ticket_epoch + 1; RETURN NEW; END $$;"
    "CREATE TRIGGER operators_ticket_epoch BEFORE UPDATE OF pwhash, enabled ON operators FOR EACH ROW"
    " WHEN (OLD.pwhash IS DISTINCT FROM NEW.pwhash OR OLD.enabled IS DISTINCT FROM NEW.enabled)"
    " EXECUTE FUNCTION operators_ticket_epoch();"
    "DELETE FROM meta WHERE key = 'session_ticket_key';",
    // 8: commit order. Transaction ids commit out of order, so an open transaction anywhere in the cluster
    // held every answer back. Rows, tombstones, names and scope still carry the writing transaction's id
    // (unique for the cluster's life, which the row cache relies on); each writing transaction also
    // records its id in commit_order, once, and a deferred constraint trigger gives it a position there as
    // it commits: the next value of commit_clock's one row, whose lock the transaction then holds until its
    // commit is visible. Positions are therefore taken in the order commits become visible, and a
    // snapshot that sees commit_clock at P sees every position up to P and none past it. "Changes since" a
    // position looks up the ids committed at or past it. The tables are new, so the dump of a live
    // database restored over it (or anywhere) recreates them: another incarnation, which servers notice.
    // The marks of the previous pruning were transaction ids: pruning starts afresh.
    "CREATE TABLE commit_clock(id bigint PRIMARY KEY CHECK (id = 1), position bigint NOT NULL);"
    "INSERT INTO commit_clock VALUES(1, 0);"
    "CREATE TABLE commit_order(xid bigint PRIMARY KEY, position bigint);"
    "CREATE INDEX commit_order_position ON commit_order(position, xid);"
    "CREATE FUNCTION commit_marked() RETURNS bigint LANGUAGE plpgsql AS $$"
    " DECLARE x bigint := 4611686018427387904 + txid_current(); BEGIN"
    " IF current_setting('orvo.commit_marked', true) IS DISTINCT FROM x::text THEN"
    "  INSERT INTO commit_order(xid) VALUES(x) ON CONFLICT (xid) DO NOTHING;"
    "  PERFORM set_config('orvo.commit_marked', x::text, true);"
    " END IF; RETURN x; END $$;"
    "CREATE FUNCTION commit_position() RETURNS trigger LANGUAGE plpgsql AS $$"
    " DECLARE p bigint; BEGIN"
    " UPDATE commit_clock SET position = position + 1 WHERE id = 1 RETURNING position INTO p;"
    " UPDATE commit_order SET position = p WHERE xid = NEW.xid;"
    " RETURN NULL; END $$;"
    "CREATE CONSTRAINT TRIGGER commit_order_positioned AFTER INSERT ON commit_order"
    " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION commit_position();"
    "CREATE OR REPLACE FUNCTION rules_next_rev() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN NEW.rev := commit_marked(); RETURN NEW; END $$;"
    "CREATE OR REPLACE FUNCTION rules_gone() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " INSERT INTO row_tombstones VALUES('rules', OLD.lsh, OLD.kind, OLD.khh, OLD.lsh, commit_marked());"
    " RETURN NULL; END $$;"
    "CREATE OR REPLACE FUNCTION orders_gone() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " INSERT INTO row_tombstones VALUES('orders', OLD.id, OLD.kind, OLD.khh, OLD.lsh, commit_marked());"
    " RETURN NULL; END $$;"
    "CREATE OR REPLACE FUNCTION customers_names_changed() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " IF TG_OP = 'TRUNCATE' OR (TG_OP = 'DELETE' AND EXISTS (SELECT 1 FROM gone)) OR"
    "  (TG_OP = 'UPDATE' AND EXISTS (SELECT 1 FROM gone g WHERE NOT EXISTS"
    "   (SELECT 1 FROM kept k WHERE k.khh = g.khh AND k.name = g.name))) THEN"
    "  UPDATE rule_revision SET names = commit_marked() WHERE id = 1;"
    " END IF; RETURN NULL; END $$;"
    "CREATE OR REPLACE FUNCTION scope_changed() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " IF TG_OP = 'TRUNCATE' OR EXISTS (SELECT 1 FROM gone g WHERE NOT EXISTS (SELECT 1 FROM kept k"
    "  WHERE k.khh = g.khh AND k.branch = g.branch AND k.yyb = g.yyb AND k.khqz = g.khqz)) THEN"
    "  UPDATE rule_revision SET scope = commit_marked() WHERE id = 1;"
    " END IF; RETURN NULL; END $$;"
    "DELETE FROM meta WHERE key IN ('tombstone_mark_at', 'tombstone_mark_rev', 'tombstones_kept_from');",
}};
static_assert(kMigrationSteps.size() + 1 == kSchemaVersion,
              "the PostgreSQL schema needs the same versions as the SQLite schema");

// Any fixed number: servers starting at once against a fresh database create the schema one at a time.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7243001)";

struct DownloadTable {
    const char* name;
    const char* sql;
};

// The host code tables of function 2, each column named exactly as the client reads it.
constexpr std::array<DownloadTable, 12> kDownloads{{
    {"YYB", R"(SELECT JGBM AS "JGBM", JGJC AS "JGJC", JGQC AS "JGQC", JGLB AS "JGLB", SJJG AS "SJJG",)"
            R"( SJJGLB AS "SJJGLB" FROM YYB ORDER BY rowid)"},
    {"KHQZ", R"(SELECT YYB AS "YYB", KHQZ AS "KHQZ", QZMC AS "QZMC" FROM KHQZ ORDER BY rowid)"},
    {"QHJYS", R"(SELECT JYS AS "JYS", JYSJC AS "JYSJC", JYSQC AS "JYSQC" FROM QHJYS ORDER BY rowid)"},
    {"JYS", R"(SELECT JYS AS "JYS", JYSJC AS "JYSJC" FROM JYS ORDER BY rowid)"},
    {"QHPZ", R"(SELECT JYS AS "JYS", ZQLB AS "ZQLB", ZQLBMC AS "ZQLBMC", HYPZ AS "HYPZ", PZMC AS "PZMC")"
             R"( FROM QHPZ ORDER BY rowid)"},
    {"QHHYDM", R"(SELECT JYS AS "JYS", JYSMC AS "JYSMC", ZQLB AS "ZQLB", ZQLBMC AS "ZQLBMC", ZQDM AS "ZQDM",)"
               R"( HYMC AS "HYMC" FROM QHHYDM ORDER BY rowid)"},
    {"QHXTDM",
     R"(SELECT FLDM AS "FLDM", IBM AS "IBM", CBM AS "CBM", NOTE AS "NOTE" FROM QHXTDM ORDER BY rowid)"},
    {"XTDM", R"(SELECT FLDM AS "FLDM", IBM AS "IBM", CBM AS "CBM", NOTE AS "NOTE" FROM XTDM ORDER BY rowid)"},
    {"BZ", R"(SELECT BZ AS "BZ", BZMC AS "BZMC" FROM BZ ORDER BY rowid)"},
    {"ZQLB", R"(SELECT ZQLB AS "ZQLB", ZQLBMC AS "ZQLBMC" FROM ZQLB ORDER BY rowid)"},
    {"YWKM", R"(SELECT YWKM AS "YWKM", YWMC AS "YWMC" FROM YWKM ORDER BY rowid)"},
    {"JYLB", R"(SELECT JYLB AS "JYLB", JYLBMC AS "JYLBMC" FROM JYLB ORDER BY rowid)"},
}};

} // namespace

bool readPgSchemaVersion(PgConnection& conn, int& version, std::string& error) {
    version = 0;
    PgResult meta = conn.query("SELECT to_regclass('meta') IS NOT NULL", PgParams(), error);
    if (!meta)
        return false;
    if (meta.row(0).text(0) != "t")
        return true;
    PgResult got =
        conn.query("SELECT value FROM meta WHERE key = $1", PgParams().add("schema_version"), error);
    if (!got)
        return false;
    if (got.rows() == 0)
        return true;
    const std::string text(got.row(0).text(0));
    version = static_cast<int>(got.row(0).integer(0));
    if (version <= 0) {
        error = "database has schema version '" + text + "', which this program does not know";
        return false;
    }
    return true;
}

bool createPgSchema(PgConnection& conn, std::string& error) {
    PgTransaction tx(conn, error);
    if (!tx.ok() || !conn.exec(kSchemaLock, error))
        return false;
    int version = 0;
    if (!readPgSchemaVersion(conn, version, error))
        return false;
    if (version > kSchemaVersion) {
        error = "database has schema version " + std::to_string(version) + ", newer than this program's " +
                std::to_string(kSchemaVersion) + "; use the program that wrote it";
        return false;
    }
    if (version != 0 && version != kSchemaVersion) {
        error = "database has schema version " + std::to_string(version) + ", this program needs " +
                std::to_string(kSchemaVersion) + ": run 'orvo-counterd migrate --db URI' (after a backup)";
        return false;
    }
    if (version == kSchemaVersion)
        return tx.commit(error);
    if (!conn.exec(schema::tablesSql(schema::Dialect::Postgres, 1).c_str(), error))
        return false;
    for (const char* step : kMigrationSteps)
        if (!conn.exec(step, error))
            return false;
    PgParams put;
    put.add("schema_version").add(static_cast<std::int64_t>(kSchemaVersion));
    if (!conn.query("INSERT INTO meta(key, value) VALUES($1, $2)", put, error))
        return false;
    return tx.commit(error);
}

bool migratePgSchema(PgConnection& conn, int& from, std::string& error) {
    PgTransaction tx(conn, error);
    if (!tx.ok() || !conn.exec(kSchemaLock, error) || !readPgSchemaVersion(conn, from, error))
        return false;
    if (from > kSchemaVersion) {
        error = "database has schema version " + std::to_string(from) + ", newer than this program's " +
                std::to_string(kSchemaVersion);
        return false;
    }
    if (from == kSchemaVersion)
        return true;
    if (from == 0 && !conn.exec(schema::tablesSql(schema::Dialect::Postgres, 1).c_str(), error))
        return false;
    for (int version = std::max(from, 1); version < kSchemaVersion; ++version)
        if (!conn.exec(kMigrationSteps[static_cast<size_t>(version - 1)], error)) {
            error = "step to schema version " + std::to_string(version + 1) + ": " + error;
            return false;
        }
    PgParams put;
    put.add("schema_version").add(static_cast<std::int64_t>(kSchemaVersion));
    return conn.query("INSERT INTO meta(key, value) VALUES($1, $2) "
                      "ON CONFLICT (key) DO UPDATE SET value = excluded.value",
                      put, error) &&
           tx.commit(error);
}

bool isPgEmpty(PgConnection& conn, bool& empty, std::string& error) {
    PgResult any = conn.query("SELECT EXISTS(SELECT 1 FROM operators)", PgParams(), error);
    if (!any)
        return false;
    empty = any.row(0).text(0) != "t";
    return true;
}

const char* pgDownloadQueryFor(std::string_view tableName) {
    for (const DownloadTable& t : kDownloads)
        if (tableName == t.name)
            return t.sql;
    return nullptr;
}

} // namespace orvo::server::pg
