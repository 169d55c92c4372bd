#include "server/admin/Csv.h"

namespace orvo::server::admin {

bool CsvReader::next(std::vector<std::string>& fields, std::string& error) {
    fields.clear();
    error.clear();
    if (m_pos >= m_text.size())
        return false;
    m_recordLine = m_line;
    std::string field;
    while (true) {
        field.clear();
        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
            ++m_pos;
            while (true) {
                if (m_pos >= m_text.size()) {
                    m_errorField = fields.size() + 1;
                    error = "quoted field is not closed";
                    return false;
                }
                const char c = m_text[m_pos++];
                if (c == '"') {
                    if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                        field += '"';
                        ++m_pos;
                        continue;
                    }
                    break;
                }
                if (c == '\n')
                    ++m_line;
                field += c;
            }
            if (m_pos < m_text.size() && m_text[m_pos] != ',' && m_text[m_pos] != '\n' &&
                !(m_text[m_pos] == '\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\n')) {
                m_errorField = fields.size() + 1;
                error = "text after the closing quote";
                return false;
            }
        } else {
            const std::size_t end = m_text.find_first_of(",\n", m_pos);
            std::size_t stop = end == std::string_view::npos ? m_text.size() : end;
            std::size_t take = stop;
            if (take > m_pos && m_text[take - 1] == '\r' &&
                (end == std::string_view::npos || m_text[end] == '\n'))
                --take;
            field.assign(m_text.substr(m_pos, take - m_pos));
            m_pos = stop;
        }
        fields.push_back(field);
        if (m_pos < m_text.size() && m_text[m_pos] == '\r')
            ++m_pos;
        if (m_pos >= m_text.size())
            return true;
        const char sep = m_text[m_pos++];
        if (sep == '\n') {
            ++m_line;
            return true;
        }
    }
}

void appendCsvRecord(std::string& out, const std::vector<std::string_view>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        const std::string_view f = fields[i];
        if (f.find_first_of(",\"\r\n") == std::string_view::npos) {
            out.append(f);
            continue;
        }
        out += '"';
        for (char c : f) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    out += '\n';
}

} // namespace orvo::server::admin
