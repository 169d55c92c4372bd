#include "host/gui/ListText.h"

#include "host/dbm/MemRecord.h"

#include <QSaveFile>
#include <QString>

#include <cstdlib>

namespace orvo {
namespace {

bool looksNumeric(const std::string& text) {
    if (text.empty())
        return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}

std::string csvField(const CString& gbk, FieldType type, CsvEncoding encoding) {
    std::string text = encoding == CsvEncoding::Gbk ? gbk.str() : gbk.ToUtf8();
    if (type == FieldType::Text && !text.empty()) {
        const char first = text.front();
        if ((first == '=' || first == '+' || first == '-' || first == '@') && !looksNumeric(text))
            text.insert(text.begin(), '\'');
    }
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote)
        return text;
    std::string quoted = "\"";
    for (const char ch : text) {
        if (ch == '"')
            quoted += '"';
        quoted += ch;
    }
    quoted += '"';
    return quoted;
}

} // namespace

std::string CsvField(const CString& gbk, FieldType type, CsvEncoding encoding) {
    return csvField(gbk, type, encoding);
}

int VisibleColumnCount(const CMemRecord& record) {
    const int color = record.FindField("color");
    return color >= 0 ? color : record.GetFieldCount();
}

namespace {

void AppendTabCell(std::string& text, std::string cell) {
    for (char& ch : cell)
        if (ch == '\t' || ch == '\n' || ch == '\r')
            ch = ' ';
    text += cell;
}

} // namespace

CString RowsAsTabText(const CMemRecord& record, const std::vector<long>& rows, int columnCount) {
    std::vector<int> columns;
    for (int c = 0; c < columnCount; ++c)
        columns.push_back(c);
    return RowsAsTabText(record, rows, columns, false);
}

CString RowsAsTabText(const CMemRecord& record, const std::vector<long>& rows,
                      const std::vector<int>& columns, bool withHeader) {
    std::string text;
    if (withHeader) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i)
                text += '\t';
            AppendTabCell(text, record.GetField(columns[i]).name.str());
        }
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r || withHeader)
            text += '\n';
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i)
                text += '\t';
            AppendTabCell(text, record.GetCellString(rows[r], columns[i]).str());
        }
    }
    return CString(std::move(text));
}

std::string CsvHeader(const CMemRecord& record, int columnCount, CsvEncoding encoding) {
    std::string line;
    for (int c = 0; c < columnCount; ++c) {
        if (c)
            line += ',';
        line += csvField(record.GetField(c).name, FieldType::Integer, encoding);
    }
    return line + "\r\n";
}

std::string CsvRow(const CMemRecord& record, long row, int columnCount, CsvEncoding encoding) {
    std::string line;
    for (int c = 0; c < columnCount; ++c) {
        if (c)
            line += ',';
        line += csvField(record.GetCellString(row, c), record.GetField(c).type, encoding);
    }
    return line + "\r\n";
}

std::string CsvDocument(const CMemRecord& record, int columnCount, CsvEncoding encoding) {
    std::string doc = encoding == CsvEncoding::Utf8WithBom ? "\xEF\xBB\xBF" : "";
    doc += CsvHeader(record, columnCount, encoding);
    const long rows = record.GetRecordCount();
    for (long r = 0; r < rows; ++r)
        doc += CsvRow(record, r, columnCount, encoding);
    return doc;
}

namespace {

template <class RowAt>
bool writeCsv(const CMemRecord& record, long rows, RowAt rowAt, int columnCount, CsvEncoding encoding,
              const std::string& pathUtf8, std::string* error) {
    QSaveFile file(QString::fromStdString(pathUtf8));
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString().toStdString();
        return false;
    }
    std::string chunk = encoding == CsvEncoding::Utf8WithBom ? "\xEF\xBB\xBF" : "";
    chunk += CsvHeader(record, columnCount, encoding);
    for (long r = 0; r < rows; ++r) {
        chunk += CsvRow(record, rowAt(r), columnCount, encoding);
        if (chunk.size() >= (1u << 20) || r + 1 == rows) {
            if (file.write(chunk.data(), static_cast<qint64>(chunk.size())) !=
                static_cast<qint64>(chunk.size()))
                break;
            chunk.clear();
        }
    }
    if (!chunk.empty())
        file.write(chunk.data(), static_cast<qint64>(chunk.size()));
    if (!file.commit()) {
        if (error)
            *error = file.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace

bool WriteCsvFile(const CMemRecord& record, int columnCount, CsvEncoding encoding,
                  const std::string& pathUtf8, std::string* error) {
    return writeCsv(
        record, record.GetRecordCount(), [](long r) { return r; }, columnCount, encoding, pathUtf8, error);
}

bool WriteCsvFile(const CMemRecord& record, const std::vector<long>& rows, int columnCount,
                  CsvEncoding encoding, const std::string& pathUtf8, std::string* error) {
    return writeCsv(
        record, static_cast<long>(rows.size()), [&](long r) { return rows[static_cast<std::size_t>(r)]; },
        columnCount, encoding, pathUtf8, error);
}

} // namespace orvo
