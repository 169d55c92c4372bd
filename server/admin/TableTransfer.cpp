#include "server/admin/TableTransfer.h"

#include "server/admin/AdminStore.h"
#include "server/admin/Csv.h"
#include "server/common/Dates.h"
#include "server/common/Gbk.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace orvo::server::admin {
namespace {

bool digitsOnly(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool parseInteger(std::string_view text, std::int64_t& value) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool isDecimal(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos)
        return digitsOnly(text);
    return digitsOnly(text.substr(0, dot)) && (dot + 1 == text.size() || digitsOnly(text.substr(dot + 1)));
}

bool isTime(std::string_view text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !digitsOnly(text.substr(0, 2)) ||
        !digitsOnly(text.substr(3, 2)) || !digitsOnly(text.substr(6, 2)))
        return false;
    return (text[0] - '0') * 10 + (text[1] - '0') < 24 && text[3] < '6' && text[6] < '6';
}

// Why the value does not fit the column, or nothing.
const char* valueProblem(const Column& column, std::string_view value) {
    if (value.empty())
        return column.emptyAllowed ? nullptr : "a value is required";
    switch (column.kind) {
    case ColumnKind::Integer: {
        std::int64_t ignored = 0;
        return parseInteger(value, ignored) ? nullptr : "not a whole number";
    }
    case ColumnKind::Decimal:
        return isDecimal(value) ? nullptr : "not a number";
    case ColumnKind::Date:
        return isDate(value) ? nullptr : "not a calendar date YYYY.MM.DD";
    case ColumnKind::Time:
        return isTime(value) ? nullptr : "not a time HH:MM:SS";
    case ColumnKind::Text:
        break;
    }
    return nullptr;
}

std::string where(std::string_view file, size_t line, size_t field) {
    return std::string(file) + ":" + std::to_string(line) + ":" + std::to_string(field) + ": ";
}

// The length of a text as the client receives it: GBK takes at most as many bytes as UTF-8, so only a
// text longer than the limit in UTF-8 needs converting to tell.
std::size_t gbkBytes(std::string_view utf8, std::size_t limit, std::string& scratch) {
    if (utf8.size() <= limit)
        return utf8.size();
    utf8ToGbk(utf8, scratch);
    return scratch.size();
}

// The bad rows of one file: the first kMaxReported in full, the rest counted.
class Problems {
public:
    static constexpr std::size_t kMaxReported = 100;

    void add(std::string text) {
        if (m_reported.size() < kMaxReported)
            m_reported.push_back(std::move(text));
        else
            ++m_more;
    }
    bool empty() const { return m_reported.empty(); }
    // One line per bad row, then how many more there were.
    bool report(std::string& error) const {
        error.clear();
        for (const std::string& p : m_reported)
            error += (error.empty() ? "" : "\n") + p;
        if (m_more > 0)
            error += "\nand " + std::to_string(m_more) + " more";
        return false;
    }

private:
    std::vector<std::string> m_reported;
    std::size_t m_more = 0;
};

struct ImportFile {
    AdminStore& store;
    const TableInfo& info;
    const std::vector<int>& columns; // the header: a table column per field
    std::string_view name;
    FileEncoding encoding;
};

// Converts and checks one row's fields in place. problem: why the row is bad, saying where, or empty.
// False only when a reference could not be looked up (error; not the file's fault).
bool checkRow(const ImportFile& file, std::size_t line, std::vector<std::string>& fields,
              std::string& problem, std::string& error) {
    std::string converted;
    for (size_t f = 0; f < fields.size(); ++f) {
        const Column& column = file.info.columns[static_cast<size_t>(file.columns[f])];
        auto fail = [&](const std::string& reason) {
            problem = where(file.name, line, f + 1) + "column " + column.name + ": " + reason;
            return true;
        };
        if (file.encoding == FileEncoding::Gbk) {
            if (!gbkToUtf8(fields[f], converted))
                return fail("not GBK text");
            fields[f].swap(converted);
        } else if (!utf8FitsGbk(fields[f])) {
            return fail("not UTF-8 text that GBK can hold");
        }
        std::string& value = fields[f];
        if (const char* reason = valueProblem(column, value))
            return fail(std::string(reason) + " ('" + value.substr(0, 40) + "')");
        if (column.kind != ColumnKind::Integer && column.maxBytes > 0) {
            const std::size_t bytes = gbkBytes(value, column.maxBytes, converted);
            if (bytes > column.maxBytes)
                return fail("too long (" + std::to_string(bytes) + " bytes, at most " +
                            std::to_string(column.maxBytes) + ")");
        }
        if (!column.refTable.empty() && !(value.empty() && column.emptyAllowed)) {
            bool exists = false;
            if (!file.store.referenceExists(f, value, exists, error))
                return false;
            if (!exists)
                return fail("'" + value + "' is not in " + column.refTable + "." + column.refColumn);
        }
        std::int64_t number = 0;
        if (column.kind == ColumnKind::Integer && parseInteger(value, number))
            value = std::to_string(number); // "+7" and "007" are stored as 7 by either back-end
    }
    return true;
}

// A row the back-end refused, perhaps one sent earlier: its line, and the field of the column named.
std::string refusal(const ImportFile& file, const RowFailure& failure) {
    if (failure.line == 0) // not about a row: the connection, say
        return failure.message;
    size_t field = 1;
    for (size_t f = 0; f < file.columns.size(); ++f)
        if (file.info.columns[static_cast<size_t>(file.columns[f])].name == failure.column)
            field = f + 1;
    return where(file.name, failure.line, field) +
           (failure.column.empty() ? "" : "column " + failure.column + ": ") +
           (failure.duplicate ? "duplicate key (" + failure.message + ")" : failure.message);
}

// The header: which table column each field fills. False with error when it names a column twice or
// one the table lacks, or leaves out one that has no default.
bool readHeader(const TableInfo& info, std::string_view fileName, const std::vector<std::string>& fields,
                std::size_t line, std::vector<int>& columns, std::string& error) {
    std::vector<bool> seen(info.columns.size(), false);
    for (size_t f = 0; f < fields.size(); ++f) {
        int found = -1;
        for (size_t c = 0; c < info.columns.size(); ++c)
            if (info.columns[c].name == fields[f])
                found = static_cast<int>(c);
        if (found < 0 || seen[static_cast<size_t>(found)]) {
            error = where(fileName, line, f + 1) + "column '" + fields[f] + "' " +
                    (found < 0 ? "is not one of table " + info.name : "appears twice");
            return false;
        }
        seen[static_cast<size_t>(found)] = true;
        columns.push_back(found);
    }
    for (size_t c = 0; c < info.columns.size(); ++c)
        if (info.columns[c].required && !seen[c]) {
            error = where(fileName, line, fields.size()) + "column '" + info.columns[c].name +
                    "' is missing from the header and has no default";
            return false;
        }
    return true;
}

} // namespace

bool exportTable(AdminStore& store, std::string_view table, std::string& csv, std::string& error) {
    TableInfo info;
    if (!store.describe(table, info, error))
        return false;
    csv.clear();
    std::vector<std::string_view> header;
    for (const Column& c : info.columns)
        header.push_back(c.name);
    appendCsvRecord(csv, header);
    return store.exportRows(
        info,
        [&csv](const std::vector<std::string_view>& values) {
            appendCsvRecord(csv, values);
            return true;
        },
        error);
}

bool exportTable(Db& db, std::string_view table, std::string& csv, std::string& error) {
    return exportTable(*sqliteAdminStore(db), table, csv, error);
}

bool importTable(AdminStore& store, std::string_view table, std::string_view fileName, std::string_view csv,
                 const ImportOptions& options, std::size_t& rows, std::string& error) {
    rows = 0;
    TableInfo info;
    if (!store.describe(table, info, error))
        return false;
    if (options.encoding == FileEncoding::Utf8 && csv.starts_with("\xEF\xBB\xBF"))
        csv.remove_prefix(3);

    CsvReader reader(csv);
    std::vector<std::string> fields;
    if (!reader.next(fields, error)) {
        error = error.empty() ? where(fileName, 1, 1) + "no header row"
                              : where(fileName, reader.line(), reader.field()) + error;
        return false;
    }
    std::vector<int> columns;
    if (!readHeader(info, fileName, fields, reader.line(), columns, error))
        return false;
    if (!store.beginImport(info, columns, options.replace, error))
        return false;
    const ImportFile file{store, info, columns, fileName, options.encoding};

    // Every bad row is reported (up to a limit), so that one run shows all there is to fix. Once one is
    // found, rows are still checked but no longer written: nothing will be imported.
    Problems problems;
    RowFailure failure;
    std::string problem;
    while (reader.next(fields, error)) {
        const size_t line = reader.line();
        if (fields.size() == 1 && fields[0].empty() && columns.size() > 1)
            continue; // a blank line, such as the one some editors leave at the end
        if (fields.size() != columns.size()) {
            problems.add(where(fileName, line, std::min(fields.size(), columns.size()) + 1) + "the row has " +
                         std::to_string(fields.size()) + " fields, the header " +
                         std::to_string(columns.size()));
            continue;
        }
        problem.clear();
        if (!checkRow(file, line, fields, problem, error))
            return false;
        if (!problem.empty()) {
            problems.add(std::move(problem));
            continue;
        }
        if (!problems.empty())
            continue;
        if (store.insertRow(fields, line, failure)) {
            ++rows;
            continue;
        }
        // From here on the rest of the file is only checked: the back-end may take no more rows.
        problems.add(refusal(file, failure));
        if (failure.line == 0)
            return problems.report(error);
    }
    if (!error.empty()) { // the CSV text itself is broken here: nothing after it can be read
        problems.add(where(fileName, reader.line(), reader.field()) + error);
        rows = 0;
        return problems.report(error);
    }
    if (problems.empty() && !store.finishRows(failure))
        problems.add(refusal(file, failure));
    if (!problems.empty()) {
        rows = 0;
        return problems.report(error);
    }
    bool danglingReferences = false;
    if (!store.commitImport(danglingReferences, error)) {
        if (options.replace && danglingReferences)
            error = std::string(fileName) + ": rows of other tables refer to " + info.name +
                    " rows the file does not bring back; nothing imported";
        return false;
    }
    return true;
}

bool importTable(Db& db, std::string_view table, std::string_view fileName, std::string_view csv,
                 const ImportOptions& options, std::size_t& rows, std::string& error) {
    return importTable(*sqliteAdminStore(db), table, fileName, csv, options, rows, error);
}

} // namespace orvo::server::admin
