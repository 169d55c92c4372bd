// A prepared INSERT bound from a list of values, for filling tables quickly.
#pragma once

#include "server/store/sqlite/Db.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::server {

class Insert {
public:
    // table and columns are literals of this program.
    bool prepare(Db& db, std::string_view table, std::string_view columns, int count, std::string& error) {
        std::string sql = "INSERT INTO ";
        sql.append(table).append("(").append(columns).append(") VALUES(");
        for (int i = 0; i < count; ++i)
            sql += i ? ",?" : "?";
        sql += ")";
        m_db = &db;
        return db.prepare(sql, m_stmt, error);
    }

    template <typename... Values> bool row(std::string& error, const Values&... values) {
        int index = 0;
        (bindOne(++index, values), ...);
        if (!m_stmt.execute()) {
            error = m_db->lastError();
            return false;
        }
        return true;
    }

private:
    void bindOne(int index, std::string_view text) { m_stmt.bind(index, text); }
    void bindOne(int index, const std::string& text) { m_stmt.bind(index, std::string_view(text)); }
    void bindOne(int index, const char* text) { m_stmt.bind(index, std::string_view(text)); }
    void bindOne(int index, int number) { m_stmt.bind(index, static_cast<std::int64_t>(number)); }
    void bindOne(int index, long number) { m_stmt.bind(index, static_cast<std::int64_t>(number)); }
    void bindOne(int index, long long number) { m_stmt.bind(index, static_cast<std::int64_t>(number)); }

    Db* m_db = nullptr;
    Statement m_stmt;
};

} // namespace orvo::server
