// The list's order and its exports: comparison-and-number cells and contract codes sort as a user reads
// them, a second key from a Shift+click, and CSV and .xlsx files that are the list as shown (moved and
// hidden columns, sort and filter), the workbook's cells as numbers, dates and times with their formats.
#include "GuiTestSupport.h"

#include "host/dbm/MemRecord.h"
#include "host/gui/ListExport.h"
#include "host/gui/ListRowOrder.h"
#include "host/gui/OrvoListCtrl.h"
#include "host/gui/RecordTableModel.h"
#include "platform/Wnd.h"

#include <QFile>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

CString U(const char* utf8) {
    return CString::FromUtf8(utf8);
}

const char* kLayout =
    "客户号[C12],合约[C16],委价[R10.2],触发价[C16],设置日期[C10],设置时间[C8],委手[I],color[I],KHH[C12]";

void fill(CMemRecord& rec) {
    struct R {
        const char *contract, *price, *trigger;
        long lots;
    };
    const R rows[] = {{"cu2501", "5804.1234", "<14525.00", 3},
                      {"CU2502", "3589.5", ">=3589.00", 1},
                      {"ag2502", "100", "<3589.00", 3},
                      {"AG2501", "20.25", "3589", 1},
                      {"Rb2501", "7", "<18880.00", 3}};
    rec.Zap();
    int n = 0;
    for (const R& r : rows) {
        rec.Append(nullptr, 1);
        rec.Set(U("客户号"), CString("01010000000" + std::to_string(++n)));
        rec.Set(U("合约"), CString(r.contract));
        rec.Set(U("委价"), CString(r.price));
        rec.Set(U("触发价"), CString(r.trigger));
        rec.Set(U("设置日期"), CString("2026.12.07"));
        rec.Set(U("设置时间"), CString("09:30:00"));
        rec.Set(U("委手"), r.lots);
    }
}

// One member of a zip package (an .xlsx), found through the central directory and inflated.
std::string zipMember(const QByteArray& zip, const std::string& name) {
    const auto u16 = [&](qsizetype at) {
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(zip[at]) |
                                          static_cast<std::uint8_t>(zip[at + 1]) << 8);
    };
    const auto u32 = [&](qsizetype at) {
        return static_cast<std::uint32_t>(u16(at)) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
    };
    const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0)
        return {};
    qsizetype entry = u32(end + 16);
    for (int i = 0; i < u16(end + 10) && entry + 46 < zip.size(); ++i) {
        const std::string entryName = zip.mid(entry + 46, u16(entry + 28)).toStdString();
        if (entryName == name) {
            const qsizetype local = u32(entry + 42);
            const qsizetype data = local + 30 + u16(local + 26) + u16(local + 28);
            const uLong packed = u32(entry + 20);
            std::string out(u32(entry + 24), '\0');
            z_stream z{};
            inflateInit2(&z, -MAX_WBITS);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.constData() + data));
            z.avail_in = static_cast<uInt>(packed);
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_FINISH);
            inflateEnd(&z);
            return rc == Z_STREAM_END ? out : std::string();
        }
        entry += 46 + u16(entry + 28) + u16(entry + 30) + u16(entry + 32);
    }
    return {};
}

struct SheetCell {
    std::string value;  // <v> or the inline text
    std::string format; // the number format code, "" for General
};

// A cell of sheet1 by reference ("B3") with its number format read through styles.xml.
SheetCell sheetCell(const std::string& sheet, const std::string& styles, const std::string& ref) {
    SheetCell cell;
    const QString s = QString::fromStdString(sheet);
    const QRegularExpression c(
        QString("<c r=\"%1\"(?: s=\"(\\d+)\")?[^>]*>(.*?)</c>").arg(QString::fromStdString(ref)));
    const QRegularExpressionMatch m = c.match(s);
    if (!m.hasMatch())
        return cell;
    static const QRegularExpression text("<(?:v|t)>(.*?)</(?:v|t)>");
    cell.value = text.match(m.captured(2)).captured(1).toStdString();
    if (m.captured(1).isEmpty())
        return cell;
    const QString st = QString::fromStdString(styles);
    const QString xfs = st.mid(st.indexOf("<cellXfs"));
    static const QRegularExpression xf("<xf numFmtId=\"(\\d+)\"");
    auto it = xf.globalMatch(xfs);
    QString numFmtId;
    for (int i = 0; i <= m.captured(1).toInt() && it.hasNext(); ++i)
        numFmtId = it.next().captured(1);
    const QRegularExpression fmt(QString("<numFmt numFmtId=\"%1\" formatCode=\"([^\"]*)\"").arg(numFmtId));
    cell.format = fmt.match(st)
                      .captured(1)
                      .replace("&quot;", "\"")
                      .replace("&lt;", "<")
                      .replace("&gt;", ">")
                      .toStdString();
    return cell;
}

class ListExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { guitest::App(); }
    void SetUp() override {
        ASSERT_TRUE(m_rec.Create(U(kLayout), MEMRECORD_KEEP_PRICE_DECIMALS));
        fill(m_rec);
        m_top.resize(700, 300);
        m_holder.Attach(&m_top);
        ASSERT_TRUE(m_list.Create("ListBox", "", WS_CHILD | WS_VISIBLE, CRect(0, 0, 680, 280), &m_holder, 1));
        m_list.SetRecord(&m_rec);
        m_top.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_top));
    }
    void TearDown() override {
        m_list.DestroyWindow();
        m_holder.Detach();
    }
    void clickHeader(int section, Qt::KeyboardModifiers keys = {}) {
        QHeaderView* header = m_list.View()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, keys,
                          QPoint(header->sectionViewportPosition(section) + 4, header->height() / 2));
    }
    std::vector<long> shown() const { return m_list.GetShownRecordRows(); }

    CMemRecord m_rec;
    QWidget m_top;
    CWnd m_holder;
    COrvoListCtrl m_list;
};

TEST_F(ListExportTest, ComparisonsSortByTheNumberThenTheSignCodesWithoutCaseShiftClickAddsASecondKey) {
    clickHeader(3); // 触发价: 3589 with <, none, >= in that order, then 14525, 18880 (as text: <1 <1 <3 >= 3)
    EXPECT_EQ(shown(), (std::vector<long>{2, 3, 1, 0, 4}));
    clickHeader(3);
    EXPECT_EQ(shown(), (std::vector<long>{4, 0, 1, 3, 2}));
    clickHeader(1); // 合约: AG2501 ag2502 cu2501 CU2502 Rb2501, not capitals first
    EXPECT_EQ(shown(), (std::vector<long>{3, 2, 0, 1, 4}));

    clickHeader(6);                    // 委手: 1 1 3 3 3, ties in record order
    clickHeader(1, Qt::ShiftModifier); // then 合约 among equal lots
    EXPECT_EQ(shown(), (std::vector<long>{3, 1, 2, 0, 4}));
    clickHeader(1, Qt::ShiftModifier); // the second key reversed, the first kept
    EXPECT_EQ(shown(), (std::vector<long>{1, 3, 4, 0, 2}));
    EXPECT_EQ(m_list.GetSortColumn(), 6);
    clickHeader(1); // a plain click: one key again
    EXPECT_EQ(shown(), (std::vector<long>{3, 2, 0, 1, 4}));
    EXPECT_EQ(m_list.Model()->Order().SortKeys().size(), 1u);
}

TEST_F(ListExportTest, CsvAndXlsxAreTheListAsShownWithNumbersDatesAndTimesAsTheSpreadsheetsOwn) {
    QHeaderView* header = m_list.View()->horizontalHeader();
    header->moveSection(header->visualIndex(3), 0); // 触发价 first
    m_list.HideColumn(0, TRUE);                     // 客户号 hidden
    clickHeader(3);
    m_list.SetFilterText("2501"); // cu2501, AG2501, Rb2501
    ASSERT_EQ(shown(), (std::vector<long>{3, 0, 4}));

    QTemporaryDir dir;
    const QString csv = dir.filePath("shown.csv");
    std::string error;
    ASSERT_TRUE(m_list.ExportFile(csv.toStdString(), &error)) << error;
    QFile csvFile(csv);
    ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csvFile.readAll().split('\n');
    ASSERT_EQ(lines.size(), 5); // header, three rows, the empty tail
    EXPECT_EQ(lines[0].toStdString(), U("触发价,合约,委价,设置日期,设置时间,委手\r").str());
    EXPECT_EQ(lines[1], "3589,AG2501,20.25,2026.12.07,09:30:00,1\r");
    EXPECT_EQ(lines[2], "<14525.00,cu2501,5804.1234,2026.12.07,09:30:00,3\r");

    const QString xlsx = dir.filePath("shown.xlsx");
    ASSERT_TRUE(m_list.ExportFile(xlsx.toStdString(), &error)) << error;
    QFile book(xlsx);
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    const QByteArray zip = book.readAll();
    const std::string sheet = zipMember(zip, "xl/worksheets/sheet1.xml");
    const std::string styles = zipMember(zip, "xl/styles.xml");
    ASSERT_FALSE(sheet.empty());
    EXPECT_NE(sheet.find("<autoFilter ref=\"A1:F4\"/>"), std::string::npos);
    EXPECT_EQ(sheetCell(sheet, styles, "B2").value, "AG2501");
    const SheetCell plain = sheetCell(sheet, styles, "A2"), signed_ = sheetCell(sheet, styles, "A3");
    EXPECT_EQ(plain.value, "3589");
    EXPECT_EQ(signed_.value, "14525");
    EXPECT_EQ(signed_.format, "\"<\"0.00;\"<\"-0.00") << "the number sorts, the comparison shows";
    const SheetCell price = sheetCell(sheet, styles, "C3");
    EXPECT_EQ(price.value, "5804.1234");
    EXPECT_EQ(price.format, "0.0000") << "the decimals the cell has, not the column's two";
    EXPECT_EQ(sheetCell(sheet, styles, "C2").format, "0.00");
    const SheetCell date = sheetCell(sheet, styles, "D2"), time = sheetCell(sheet, styles, "E2");
    EXPECT_EQ(date.value, "46363"); // 2026-12-07 as Excel counts days
    EXPECT_EQ(date.format, "yyyy\\.mm\\.dd");
    EXPECT_NEAR(std::stod(time.value), 9.5 / 24, 1e-9);
    EXPECT_EQ(time.format, "hh:mm:ss");

    // Stopped from its progress: an error that says so, and the earlier file left whole.
    const std::vector<long> rows = shown();
    for (const auto& [path, isXlsx] : {std::pair{xlsx, true}, std::pair{csv, false}}) {
        const auto stop = [](long, long) { return false; };
        const bool written =
            isXlsx ? orvo::WriteXlsxFile(m_rec, rows, {{1, 80}}, path.toStdString(), &error, stop)
                   : orvo::WriteCsvColumns(m_rec, rows, {1}, orvo::CsvEncoding::Gbk, path.toStdString(),
                                           &error, stop);
        EXPECT_FALSE(written);
        EXPECT_EQ(error, orvo::kExportCancelled);
    }
    QFile again(xlsx);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), zip);
    EXPECT_FALSE(QFile::exists(xlsx + ".part"));
}

} // namespace
