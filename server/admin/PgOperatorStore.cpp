// The operator subcommands' SQL for a PostgreSQL database. Each change is one transaction: a server
// reading the operators sees the row before or after, never half of it, and the sessions a new password
// or a disabling ends are ended with it.
#include "server/admin/OperatorStore.h"
#include "server/common/Dates.h"
#include "server/store/Store.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgSchema.h"
#include "server/store/postgres/PgTransaction.h"

namespace orvo::server::admin {
namespace {

using pg::PgConnection;
using pg::PgParams;
using pg::PgResult;

class PgOperatorStore final : public OperatorStore {
public:
    bool open(const std::string& conninfo, std::string& error) {
        return m_conn.open(conninfo, error) && pg::createPgSchema(m_conn, error);
    }

    bool add(std::string_view name, std::string_view hash, std::string_view branches, std::string_view groups,
             std::string& error) override {
        PgParams params;
        params.add(name).add(hash).add(branches).add(groups);
        // An existing name inserts nothing, which tells it apart from other failures without parsing them.
        const PgResult result = m_conn.query("INSERT INTO operators(name, pwhash, branches, groups, enabled) "
                                             "VALUES($1, $2, $3, $4, 1) ON CONFLICT (name) DO NOTHING",
                                             params, error);
        if (!result)
            return false;
        if (result.affected() == 0) {
            error = operatorExists(name);
            return false;
        }
        return true;
    }

    bool setPassword(std::string_view name, std::string_view hash, std::string& error) override {
        PgParams params;
        params.add(hash).add(name);
        pg::PgTransaction tx(m_conn, error);
        return tx.ok() && change("UPDATE operators SET pwhash = $1 WHERE name = $2", params, name, error) &&
               endSessions(name, kSessionEndedPassword, error) && tx.commit(error);
    }

    bool setEnabled(std::string_view name, bool enabled, std::string& error) override {
        PgParams params;
        params.add(static_cast<std::int64_t>(enabled ? 1 : 0)).add(name);
        pg::PgTransaction tx(m_conn, error);
        return tx.ok() && change("UPDATE operators SET enabled = $1 WHERE name = $2", params, name, error) &&
               (enabled || endSessions(name, kSessionEndedDisabled, error)) && tx.commit(error);
    }

    bool setPermissions(std::string_view name, std::string_view branches, std::string_view groups,
                        std::string& error) override {
        PgParams params;
        params.add(branches).add(groups).add(name);
        return change("UPDATE operators SET branches = $1, groups = $2 WHERE name = $3", params, name, error);
    }

    bool list(std::vector<OperatorRow>& rows, std::string& error) override {
        rows.clear();
        return m_conn.stream(
                   "SELECT name, enabled, branches, groups, last_login FROM operators ORDER BY name",
                   PgParams(),
                   [&rows](const pg::PgRow& row) {
                       rows.push_back({std::string(row.text(0)), row.integer(1) != 0,
                                       std::string(row.text(2)), std::string(row.text(3)),
                                       std::string(row.text(4))});
                       return true;
                   },
                   error) >= 0;
    }

    bool unknownCodes(bool groups, const std::vector<std::string>& codes, std::vector<std::string>& unknown,
                      std::string& error) override {
        const char* sql = groups ? "SELECT 1 FROM KHQZ WHERE KHQZ = $1" : "SELECT 1 FROM YYB WHERE JGBM = $1";
        unknown.clear();
        for (const std::string& code : codes) {
            if (code == "9999")
                continue;
            PgParams params;
            params.add(code);
            const PgResult found = m_conn.query(sql, params, error);
            if (!found)
                return false;
            if (found.rows() == 0)
                unknown.push_back(code);
        }
        return true;
    }

private:
    // The servers holding them close them within a second or so (SessionWatch).
    bool endSessions(std::string_view name, std::string_view reason, std::string& error) {
        PgParams params;
        params.add(localTimestamp()).add(reason).add(name);
        return static_cast<bool>(
            m_conn.query("UPDATE sessions SET ended = $1, end_reason = $2 WHERE operator = $3 AND ended = ''",
                         params, error));
    }

    bool change(const char* sql, const PgParams& params, std::string_view name, std::string& error) {
        const PgResult result = m_conn.query(sql, params, error);
        if (!result)
            return false;
        if (result.affected() == 0) {
            error = noOperatorNamed(name);
            return false;
        }
        return true;
    }

    PgConnection m_conn;
};

} // namespace

std::unique_ptr<OperatorStore> openPgOperatorStore(const std::string& conninfo, std::string& error) {
    auto store = std::make_unique<PgOperatorStore>();
    if (!store->open(conninfo, error))
        return nullptr;
    return store;
}

} // namespace orvo::server::admin
