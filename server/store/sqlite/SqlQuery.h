// Builds a statement's text from fixed fragments and placeholders, keeping the values apart: whatever a
// request carries is bound as a parameter and never becomes SQL text.
#pragma once

#include "server/store/sqlite/Db.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvo::server {

class SqlQuery {
public:
    explicit SqlQuery(std::string_view start = {}) : m_sql(start) {}

    // Fixed SQL text: only literals of this program go here.
    SqlQuery& sql(std::string_view fragment);
    // A placeholder bound to the value.
    SqlQuery& value(std::string_view text);
    SqlQuery& value(std::int64_t number);
    // "(?, ?, ...)" bound to the values, for an IN test; the caller never passes an empty list.
    SqlQuery& valueList(const std::vector<std::string>& values);

    bool prepare(Db& db, Statement& stmt, std::string& error) const;
    // Binds the values to a statement prepared from text() (on db's connection).
    bool bind(Db& db, Statement& stmt, std::string& error) const;
    const std::string& text() const { return m_sql; }

private:
    std::string m_sql;
    std::vector<std::variant<std::string, std::int64_t>> m_values;
};

} // namespace orvo::server
