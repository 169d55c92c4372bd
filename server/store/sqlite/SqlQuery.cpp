#include "server/store/sqlite/SqlQuery.h"

namespace orvo::server {

SqlQuery& SqlQuery::sql(std::string_view fragment) {
    m_sql += fragment;
    return *this;
}

SqlQuery& SqlQuery::value(std::string_view text) {
    m_sql += '?';
    m_values.emplace_back(std::string(text));
    return *this;
}

SqlQuery& SqlQuery::value(std::int64_t number) {
    m_sql += '?';
    m_values.emplace_back(number);
    return *this;
}

SqlQuery& SqlQuery::valueList(const std::vector<std::string>& values) {
    m_sql += '(';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            m_sql += ", ";
        value(values[i]);
    }
    m_sql += ')';
    return *this;
}

bool SqlQuery::prepare(Db& db, Statement& stmt, std::string& error) const {
    return db.prepare(m_sql, stmt, error) && bind(db, stmt, error);
}

bool SqlQuery::bind(Db& db, Statement& stmt, std::string& error) const {
    for (size_t i = 0; i < m_values.size(); ++i) {
        int index = static_cast<int>(i + 1);
        bool ok = std::holds_alternative<std::string>(m_values[i])
                      ? stmt.bind(index, std::string_view(std::get<std::string>(m_values[i])))
                      : stmt.bind(index, std::get<std::int64_t>(m_values[i]));
        if (!ok) {
            error = db.lastError();
            return false;
        }
    }
    return true;
}

} // namespace orvo::server
