#include "host/gui/ListExport.h"

#include "host/dbm/MemRecord.h"
#include "host/gui/ListExportCells.h"
#include "host/gui/ListRowOrder.h"
#include "platform/GbkText.h"
#include "platform/TextNumbers.h"

#include <xlsxwriter.h>

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <utility>

namespace orvo {
namespace {

// Excel's column width unit is about one digit of the default font: 7 pixels.
constexpr double kPixelsPerCharacter = 7.0;
constexpr int kMaxDecimals = 15;

enum class ColumnKind { Integer, Real, PriceText, Text };

bool isPriceText(const FieldInfo& field) {
    // "价" in GBK: a text column of prices (a trigger price kept as text, say).
    return field.type == FieldType::Text && field.name.str().find("\xBC\xDB") != std::string::npos;
}

ColumnKind kindOf(const FieldInfo& field) {
    switch (field.type) {
    case FieldType::Integer:
        return ColumnKind::Integer;
    case FieldType::Real:
        return ColumnKind::Real;
    case FieldType::Text:
        break;
    }
    return isPriceText(field) ? ColumnKind::PriceText : ColumnKind::Text;
}

// An Excel number format for a number with `decimals` digits after the point, `prefix` (UTF-8, may be
// empty) written before it in both signs: "<"0.00;"<"-0.00.
std::string numberFormat(const std::string& prefix, int decimals) {
    std::string digits = decimals > 0 ? "0." + std::string(static_cast<size_t>(decimals), '0') : "0";
    if (prefix.empty())
        return digits;
    std::string quoted = "\"";
    for (const char ch : prefix)
        quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    quoted += '"';
    return quoted + digits + ";" + quoted + "-" + digits;
}

// The workbook's formats, each made once: number formats by the comparison before the number and the
// decimals, date and time formats by their shape.
class SheetFormats {
public:
    explicit SheetFormats(lxw_workbook* book) : m_book(book) {}

    lxw_format* Number(std::string_view signGbk, int decimals) {
        decimals = std::clamp(decimals, 0, kMaxDecimals);
        auto found = std::find_if(m_numbers.begin(), m_numbers.end(),
                                  [&](const auto& entry) { return entry.first == signGbk; });
        if (found == m_numbers.end()) {
            m_numbers.emplace_back(std::string(signGbk), std::array<lxw_format*, kMaxDecimals + 1>{});
            found = m_numbers.end() - 1;
        }
        lxw_format*& format = found->second[static_cast<size_t>(decimals)];
        if (!format)
            format = Make(numberFormat(GbkToUtf8(signGbk), decimals));
        return format;
    }

    lxw_format* DateTime(const SheetDateTime& when) {
        const int key = (when.hasDate ? 1 : 0) | (when.hasTime ? 2 : 0) | (when.seconds ? 4 : 0) |
                        (static_cast<unsigned char>(when.separator) << 3);
        lxw_format*& format = m_dates[key];
        if (!format) {
            std::string text;
            if (when.hasDate) {
                const std::string separator =
                    std::string("\\") + when.separator; // a literal, not the locale's
                text = "yyyy" + separator + "mm" + separator + "dd";
            }
            if (when.hasTime)
                text += std::string(when.hasDate ? " " : "") + (when.seconds ? "hh:mm:ss" : "hh:mm");
            format = Make(text);
        }
        return format;
    }

private:
    lxw_format* Make(const std::string& numFormat) {
        lxw_format* format = workbook_add_format(m_book);
        format_set_num_format(format, numFormat.c_str());
        return format;
    }

    lxw_workbook* m_book;
    std::vector<std::pair<std::string, std::array<lxw_format*, kMaxDecimals + 1>>> m_numbers;
    std::map<int, lxw_format*> m_dates;
};

// Writes one row's cells; holds the buffers reused from cell to cell.
class SheetRowWriter {
public:
    SheetRowWriter(const CMemRecord& record, const XlsxColumns& columns, lxw_worksheet* sheet,
                   SheetFormats& formats)
        : m_record(record), m_columns(columns), m_sheet(sheet), m_formats(formats) {
        for (const XlsxColumn& column : columns)
            m_kinds.push_back(kindOf(record.GetField(column.field)));
    }

    void Write(lxw_row_t line, long row) {
        for (size_t c = 0; c < m_columns.size(); ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            const int field = m_columns[c].field;
            switch (m_kinds[c]) {
            case ColumnKind::Integer:
                worksheet_write_number(m_sheet, line, col,
                                       static_cast<double>(m_record.GetCellLong(row, field)),
                                       m_formats.Number({}, 0));
                break;
            case ColumnKind::Real: {
                // The decimals the list shows for this value (a price on a finer tick shows more).
                const FieldInfo& info = m_record.GetField(field);
                const double value = m_record.GetCellDouble(row, field);
                const std::string_view shown = PriceToText(value, info.decimals, info.maxDecimals, m_digits);
                worksheet_write_number(m_sheet, line, col, value, m_formats.Number({}, DecimalsOf(shown)));
                break;
            }
            case ColumnKind::PriceText:
            case ColumnKind::Text:
                WriteText(line, col, m_record.GetCellText(row, field), m_kinds[c] == ColumnKind::PriceText);
                break;
            }
        }
    }

private:
    void WriteText(lxw_row_t line, lxw_col_t col, std::string_view text, bool price) {
        if (text.empty())
            return;
        const auto first = static_cast<unsigned char>(text.front());
        if (price) {
            SignedNumber number;
            if (ParseSignedNumber(text, number)) {
                worksheet_write_number(m_sheet, line, col, number.value,
                                       m_formats.Number(number.sign, DecimalsOf(number.number)));
                return;
            }
        } else if (std::isdigit(first)) {
            SheetDateTime when;
            if (ParseSheetDateTime(text, when)) {
                worksheet_write_number(m_sheet, line, col, when.serial, m_formats.DateTime(when));
                return;
            }
        }
        if (std::all_of(text.begin(), text.end(),
                        [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }))
            m_text.assign(text);
        else
            m_text = GbkToUtf8(text);
        worksheet_write_string(m_sheet, line, col, m_text.c_str(), nullptr);
    }

    const CMemRecord& m_record;
    const XlsxColumns& m_columns;
    lxw_worksheet* m_sheet;
    SheetFormats& m_formats;
    std::vector<ColumnKind> m_kinds;
    RealTextBuffer m_digits;
    std::string m_text;
};

bool failWith(std::string* error, const std::string& why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

bool IsXlsxPath(const std::string& pathUtf8) {
    if (pathUtf8.size() < 5)
        return false;
    std::string tail = pathUtf8.substr(pathUtf8.size() - 5);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".xlsx";
}

bool WriteXlsxFile(const CMemRecord& record, const std::vector<long>& rows, const XlsxColumns& columns,
                   const std::string& pathUtf8, std::string* error, const ExportProgress& progress) {
    if (rows.size() + 1 > 1048576)
        return failWith(error, "more rows than a worksheet holds");
    if (columns.empty() || columns.size() > 16384)
        return failWith(error, "no columns to write, or more than a worksheet holds");
    // Written beside the target and renamed over it at the end: a failed export leaves the old file whole.
    const QString target = QString::fromStdString(pathUtf8);
    const QString temporary = target + QStringLiteral(".part");
    // The workbook's writer says only that it could not create its file: the folder is tried first, so
    // that the reason (no such folder, no permission) is the system's own.
    {
        QFile probe(temporary);
        if (!probe.open(QIODevice::WriteOnly))
            return failWith(error, probe.errorString().toStdString());
        probe.remove(); // the writer makes it again when it closes the workbook
    }
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    lxw_workbook* book = workbook_new_opt(temporary.toStdString().c_str(), &options);
    if (!book)
        return failWith(error, "cannot create the workbook");
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    SheetFormats formats(book);
    for (size_t c = 0; c < columns.size(); ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        worksheet_set_column(sheet, col, col, std::max(1.0, columns[c].widthPx / kPixelsPerCharacter),
                             nullptr);
        worksheet_write_string(sheet, 0, col, record.GetField(columns[c].field).name.ToUtf8().c_str(), bold);
    }
    worksheet_freeze_panes(sheet, 1, 0);
    worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(rows.size()),
                         static_cast<lxw_col_t>(columns.size() - 1));
    SheetRowWriter writer(record, columns, sheet, formats);
    const long total = static_cast<long>(rows.size());
    for (long r = 0; r < total; ++r) {
        if (progress && r % kExportProgressRows == 0 && !progress(r, total)) {
            lxw_workbook_free(book); // nothing was written to the target's folder yet
            return failWith(error, kExportCancelled);
        }
        writer.Write(static_cast<lxw_row_t>(r + 1), rows[static_cast<size_t>(r)]);
    }
    const lxw_error result = workbook_close(book);
    if (result != LXW_NO_ERROR) {
        QFile::remove(temporary);
        return failWith(error, lxw_strerror(result));
    }
    QFile::remove(target);
    if (!QFile::rename(temporary, target)) {
        QFile::remove(temporary);
        return failWith(error, "cannot replace " + pathUtf8);
    }
    return true;
}

bool WriteCsvColumns(const CMemRecord& record, const std::vector<long>& rows, const std::vector<int>& columns,
                     CsvEncoding encoding, const std::string& pathUtf8, std::string* error,
                     const ExportProgress& progress) {
    QSaveFile file(QString::fromStdString(pathUtf8));
    if (!file.open(QIODevice::WriteOnly))
        return failWith(error, file.errorString().toStdString());
    std::string chunk = encoding == CsvEncoding::Utf8WithBom ? "\xEF\xBB\xBF" : "";
    const auto endLine = [&] {
        if (!columns.empty())
            chunk.pop_back(); // the comma after the last cell
        chunk += "\r\n";
    };
    for (const int c : columns)
        chunk.append(CsvField(record.GetField(c).name, FieldType::Integer, encoding)).push_back(',');
    endLine();
    const long total = static_cast<long>(rows.size());
    for (long r = 0; r < total; ++r) {
        if (progress && r % kExportProgressRows == 0 && !progress(r, total)) {
            file.cancelWriting();
            return failWith(error, kExportCancelled);
        }
        const long row = rows[static_cast<size_t>(r)];
        for (const int c : columns)
            chunk.append(CsvField(record.GetCellString(row, c), record.GetField(c).type, encoding))
                .push_back(',');
        endLine();
        if (chunk.size() >= (1u << 20)) {
            if (file.write(chunk.data(), static_cast<qint64>(chunk.size())) !=
                static_cast<qint64>(chunk.size()))
                break; // the commit below reports the device's error
            chunk.clear();
        }
    }
    if (!chunk.empty())
        file.write(chunk.data(), static_cast<qint64>(chunk.size()));
    if (!file.commit())
        return failWith(error, file.errorString().toStdString());
    return true;
}

} // namespace orvo
