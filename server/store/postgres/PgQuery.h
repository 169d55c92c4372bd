// Builds a PostgreSQL statement's text from fixed fragments and $n placeholders, keeping the values
// apart: whatever a request carries is bound as a parameter and never becomes SQL text.
#pragma once

#include "server/store/postgres/PgConnection.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server::pg {

class PgQuery {
public:
    explicit PgQuery(std::string_view start = {}) : m_sql(start) {}

    // Fixed SQL text: only literals of this program go here.
    PgQuery& sql(std::string_view fragment) {
        m_sql += fragment;
        return *this;
    }
    PgQuery& value(std::string_view text) {
        m_params.add(text);
        return placeholder();
    }
    PgQuery& value(std::int64_t number) {
        m_params.add(number);
        return placeholder();
    }
    // "($1, $2, ...)" bound to the values, for an IN test; the caller never passes an empty list.
    PgQuery& valueList(const std::vector<std::string>& values) {
        m_sql += '(';
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i)
                m_sql += ", ";
            value(values[i]);
        }
        m_sql += ')';
        return *this;
    }

    const std::string& text() const { return m_sql; }
    const PgParams& params() const { return m_params; }

private:
    PgQuery& placeholder() {
        m_sql += '$';
        m_sql += std::to_string(m_params.count());
        return *this;
    }

    std::string m_sql;
    PgParams m_params;
};

} // namespace orvo::server::pg
