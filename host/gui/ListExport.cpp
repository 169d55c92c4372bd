#include "host/gui/ListExport.h"

#include "host/dbm/MemRecord.h"

#include <xlsxwriter.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace orvo {
namespace {

// Excel's column width unit is about one digit of the default font: 7 pixels.
constexpr double kPixelsPerCharacter = 7.0;

std::string numberFormat(int decimals) {
    return decimals > 0 ? "0." + std::string(static_cast<size_t>(std::min(decimals, 10)), '0') : "0";
}

bool parseWhole(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool isPriceText(const FieldInfo& field) {
    // "价" in GBK: a text column of prices (a trigger price kept as text, say).
    return field.type == FieldType::Text && field.name.str().find("\xBC\xDB") != std::string::npos;
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
                   const std::string& pathUtf8, std::string* error) {
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (rows.size() + 1 > 1048576)
        return fail("more rows than a worksheet holds");
    // Written beside the target and renamed over it at the end: a failed export leaves the old file whole.
    const QString target = QString::fromStdString(pathUtf8);
    const QString temporary = target + QStringLiteral(".part");
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    lxw_workbook* book = workbook_new_opt(temporary.toStdString().c_str(), &options);
    if (!book)
        return fail("cannot create the workbook");
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    std::vector<lxw_format*> formats;
    for (const XlsxColumn& column : columns) {
        const FieldInfo& field = record.GetField(column.field);
        lxw_format* format = nullptr;
        if (field.type != FieldType::Text || isPriceText(field)) {
            format = workbook_add_format(book);
            const int decimals = field.type == FieldType::Integer ? 0 : field.decimals;
            format_set_num_format(format, numberFormat(decimals).c_str());
        }
        formats.push_back(format);
    }
    for (size_t c = 0; c < columns.size(); ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        worksheet_set_column(sheet, col, col, std::max(1.0, columns[c].widthPx / kPixelsPerCharacter),
                             nullptr);
        worksheet_write_string(sheet, 0, col, record.GetField(columns[c].field).name.ToUtf8().c_str(), bold);
    }
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_format* textPriceFormats[11] = {};
    for (size_t r = 0; r < rows.size(); ++r) {
        const auto line = static_cast<lxw_row_t>(r + 1);
        for (size_t c = 0; c < columns.size(); ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            const int field = columns[c].field;
            const FieldInfo& info = record.GetField(field);
            double value = 0;
            if (info.type == FieldType::Integer) {
                worksheet_write_number(sheet, line, col,
                                       static_cast<double>(record.GetCellLong(rows[r], field)), formats[c]);
            } else if (info.type == FieldType::Real) {
                worksheet_write_number(sheet, line, col, record.GetCellDouble(rows[r], field), formats[c]);
            } else if (formats[c] && parseWhole(record.GetCellText(rows[r], field), value)) {
                // A price kept as text shows the decimals it was written with.
                const std::string_view text = record.GetCellText(rows[r], field);
                const std::size_t point = text.find('.');
                const int decimals =
                    point == std::string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
                lxw_format*& format = textPriceFormats[std::min(decimals, 10)];
                if (!format) {
                    format = workbook_add_format(book);
                    format_set_num_format(format, numberFormat(decimals).c_str());
                }
                worksheet_write_number(sheet, line, col, value, format);
            } else {
                const std::string text = record.GetCellString(rows[r], field).ToUtf8();
                if (!text.empty())
                    worksheet_write_string(sheet, line, col, text.c_str(), nullptr);
            }
        }
    }
    const lxw_error result = workbook_close(book);
    if (result != LXW_NO_ERROR) {
        QFile::remove(temporary);
        return fail(lxw_strerror(result));
    }
    QFile::remove(target);
    if (!QFile::rename(temporary, target)) {
        QFile::remove(temporary);
        return fail("cannot replace " + pathUtf8);
    }
    return true;
}

} // namespace orvo
