// The differential check's connections that write or read SQL, on either back-end.
#pragma once

#include "server/store/postgres/PgConnection.h"
#include "server/store/sqlite/Db.h"

#include <string>
#include <vector>

namespace orvo::bench::changes_check {

// One connection that writes or reads SQL, on either back-end.
class Sql {
public:
    virtual ~Sql() = default;
    virtual bool exec(const std::string& sql, std::string& error) = 0;
    // The first column of every row.
    virtual bool column(const std::string& sql, std::vector<std::string>& values, std::string& error) = 0;
};

class SqliteSql final : public Sql {
public:
    bool open(const std::string& path, std::string& error) {
        if (!m_db.open(path, false, error))
            return false;
        m_db.setBusyTimeout(10000);
        return true;
    }
    void close() { m_db.close(); }
    bool exec(const std::string& sql, std::string& error) override { return m_db.exec(sql.c_str(), error); }
    bool column(const std::string& sql, std::vector<std::string>& values, std::string& error) override {
        server::Statement stmt;
        if (!m_db.prepare(sql, stmt, error))
            return false;
        values.clear();
        while (stmt.step() == SQLITE_ROW)
            values.emplace_back(stmt.text(0));
        return true;
    }

private:
    server::Db m_db;
};

class PgSql final : public Sql {
public:
    bool open(const std::string& conninfo, std::string& error) { return m_conn.open(conninfo, error); }
    bool exec(const std::string& sql, std::string& error) override { return m_conn.exec(sql.c_str(), error); }
    bool column(const std::string& sql, std::vector<std::string>& values, std::string& error) override {
        const server::pg::PgResult got = m_conn.query(sql.c_str(), server::pg::PgParams(), error);
        if (!got)
            return false;
        values.clear();
        for (int i = 0; i < got.rows(); ++i)
            values.emplace_back(got.row(i).text(0));
        return true;
    }

private:
    server::pg::PgConnection m_conn;
};

} // namespace orvo::bench::changes_check
