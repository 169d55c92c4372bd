// Comma-separated values as the export writes and the import reads them: a header row, fields quoted
// with '"' when they hold a comma, a quote or a line break, quotes doubled inside, lines ending in LF
// or CRLF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server::admin {

class CsvReader {
public:
    explicit CsvReader(std::string_view text) : m_text(text) {}

    // Reads the next record. False at the end of the text, or with error set for a malformed record
    // (an unterminated quote, text after a closing quote); line() and field() then say where.
    bool next(std::vector<std::string>& fields, std::string& error);
    // The line the last record started on (1-based), and the field the error is in (1-based).
    std::size_t line() const { return m_recordLine; }
    std::size_t field() const { return m_errorField; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_line = 1;
    std::size_t m_recordLine = 0;
    std::size_t m_errorField = 0;
};

// Appends one record, quoting the fields that need it, and a line feed.
void appendCsvRecord(std::string& out, const std::vector<std::string_view>& fields);

} // namespace orvo::server::admin
