// The operator subcommands' SQL for a SQLite database file.
#include "server/admin/OperatorStore.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/Schema.h"
#include "server/store/sqlite/SqliteSessions.h"

namespace orvo::server::admin {
namespace {

class SqliteOperatorStore final : public OperatorStore {
public:
    bool open(const std::string& path, std::string& error) {
        return prepareSchemaFile(path, error) && m_db.open(path, false, error);
    }

    bool add(std::string_view name, std::string_view hash, std::string_view branches, std::string_view groups,
             std::string& error) override {
        Statement put;
        if (!m_db.prepare(
                "INSERT INTO operators(name, pwhash, branches, groups, enabled) VALUES(?, ?, ?, ?, 1)", put,
                error))
            return false;
        put.bind(1, name);
        put.bind(2, hash);
        put.bind(3, branches);
        put.bind(4, groups);
        if (!put.execute()) {
            error = sqlite3_extended_errcode(m_db.handle()) == SQLITE_CONSTRAINT_PRIMARYKEY
                        ? operatorExists(name)
                        : m_db.lastError();
            return false;
        }
        return true;
    }

    bool setPassword(std::string_view name, std::string_view hash, std::string& error) override {
        Transaction tx(m_db);
        Statement put;
        if (!tx.ok() || !m_db.prepare("UPDATE operators SET pwhash = ? WHERE name = ?", put, error))
            return failed(error);
        put.bind(1, hash);
        put.bind(2, name);
        return runChange(put, name, error) && endSessions(name, kSessionEndedPassword, error) &&
               tx.commit(error);
    }

    bool setEnabled(std::string_view name, bool enabled, std::string& error) override {
        Transaction tx(m_db);
        Statement put;
        if (!tx.ok() || !m_db.prepare("UPDATE operators SET enabled = ? WHERE name = ?", put, error))
            return failed(error);
        put.bind(1, static_cast<std::int64_t>(enabled ? 1 : 0));
        put.bind(2, name);
        return runChange(put, name, error) && (enabled || endSessions(name, kSessionEndedDisabled, error)) &&
               tx.commit(error);
    }

    bool setPermissions(std::string_view name, std::string_view branches, std::string_view groups,
                        std::string& error) override {
        Statement put;
        if (!m_db.prepare("UPDATE operators SET branches = ?, groups = ? WHERE name = ?", put, error))
            return false;
        put.bind(1, branches);
        put.bind(2, groups);
        put.bind(3, name);
        return runChange(put, name, error);
    }

    bool list(std::vector<OperatorRow>& rows, std::string& error) override {
        Statement get;
        if (!m_db.prepare("SELECT name, enabled, branches, groups, last_login FROM operators ORDER BY name",
                          get, error))
            return false;
        rows.clear();
        int rc = 0;
        while ((rc = get.step()) == SQLITE_ROW)
            rows.push_back({std::string(get.text(0)), get.integer(1) != 0, std::string(get.text(2)),
                            std::string(get.text(3)), std::string(get.text(4))});
        if (rc != SQLITE_DONE) {
            error = m_db.lastError();
            return false;
        }
        return true;
    }

    bool unknownCodes(bool groups, const std::vector<std::string>& codes, std::vector<std::string>& unknown,
                      std::string& error) override {
        Statement find;
        if (!m_db.prepare(groups ? "SELECT 1 FROM KHQZ WHERE KHQZ = ?" : "SELECT 1 FROM YYB WHERE JGBM = ?",
                          find, error))
            return false;
        unknown.clear();
        for (const std::string& code : codes) {
            if (code == "9999")
                continue;
            find.bind(1, code);
            const int rc = find.step();
            find.reset();
            if (rc == SQLITE_DONE)
                unknown.push_back(code);
            else if (rc != SQLITE_ROW) {
                error = m_db.lastError();
                return false;
            }
        }
        return true;
    }

private:
    bool failed(std::string& error) {
        if (error.empty())
            error = m_db.lastError();
        return false;
    }

    // The servers holding them close them within a second or so (SessionWatch); ended in the change's
    // transaction.
    bool endSessions(std::string_view name, std::string_view reason, std::string& error) {
        std::size_t ended = 0;
        return sqlite::endOperatorSessions(m_db, name, reason, ended, error);
    }

    bool runChange(Statement& stmt, std::string_view name, std::string& error) {
        if (!stmt.execute()) {
            error = m_db.lastError();
            return false;
        }
        if (sqlite3_changes(m_db.handle()) == 0) {
            error = noOperatorNamed(name);
            return false;
        }
        return true;
    }

    Db m_db;
};

} // namespace

std::unique_ptr<OperatorStore> openSqliteOperatorStore(const std::string& path, std::string& error) {
    auto store = std::make_unique<SqliteOperatorStore>();
    if (!store->open(path, error))
        return nullptr;
    return store;
}

} // namespace orvo::server::admin
