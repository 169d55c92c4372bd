// The record-bound list: columns and hidden group, the two-way current row, double-click to the owner,
// bounded column fitting, clipboard text and CSV bytes.
#include "GuiTestSupport.h"

#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoDialog.h"
#include "host/gui/OrvoListCtrl.h"
#include "host/gui/RecordTableModel.h"
#include "platform/DialogBuilder.h"
#include "platform/ModalLoop.h"

#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr UINT kDlg = 7300;
constexpr int kList = 7302;
const int kOwner = 0;

CString U(const char* utf8) {
    return CString::FromUtf8(utf8);
}

const char* kLayout = "客户号[C12],委托号[I],委价[R8.2],合约[C16],color[I],KHH[C12],LSH[I]";

void fill(CMemRecord& rec, int rows) {
    rec.Zap();
    for (int i = 0; i < rows; ++i) {
        rec.Append(nullptr, 1);
        rec.Set(U("客户号"), CString::FromUtf8("0101" + std::to_string(1000 + i)));
        rec.Set(U("委托号"), static_cast<long>(i + 1));
        rec.Set(U("委价"), CString(std::to_string(100 + i) + ".5"));
        rec.Set(U("合约"), U("cu2501"));
        rec.Set("KHH", CString("K" + std::to_string(i)));
        rec.Set("LSH", static_cast<long>(500 + i));
    }
}

class ListDialog : public COrvoDialog {
public:
    ListDialog() : COrvoDialog(kDlg) {}
    COrvoListCtrl m_list;
    COrvoListCtrl m_runtime;
    std::vector<long> detailRows; // record row current when 0x1214 arrived
    CMemRecord* watched = nullptr;

protected:
    void DoDataExchange(CDataExchange* dx) override {
        COrvoDialog::DoDataExchange(dx);
        DDX_Control(dx, kList, m_list);
    }
    LRESULT OnDetail(WPARAM, LPARAM) {
        detailRows.push_back(watched ? watched->GetRecNo() : -1);
        return 1;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ListDialog, COrvoDialog)
ON_MESSAGE(kListDoubleClickMessage, &ListDialog::OnDetail)
END_MESSAGE_MAP()

class ListCtrlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        guitest::App();
        using guitest::Control;
        std::vector<DialogTemplate> templates;
        templates.push_back(guitest::Template(
            kDlg, 400, 250,
            {Control(kList, orvo::wc::kListView, "List1", WS_BORDER | WS_TABSTOP, 7, 7, 380, 180),
             Control(9014, orvo::wc::kButton, "查询", WS_TABSTOP, 290, 225, 48, 16),
             Control(IDCANCEL, orvo::wc::kButton, "退出", WS_TABSTOP, 344, 225, 48, 16)}));
        orvo::RegisterDialogTemplates(&kOwner, std::move(templates));
    }
    void SetUp() override {
        ASSERT_TRUE(m_rec.Create(U(kLayout), 0));
        ASSERT_TRUE(m_dlg.Create(kDlg));
        m_dlg.ShowWindow(SW_SHOW);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.GetSafeHwnd()));
        m_dlg.m_list.SetRecord(&m_rec);
        m_dlg.watched = &m_rec;
    }
    void TearDown() override { m_dlg.DestroyWindow(); }

    QTableView* view() { return m_dlg.m_list.View(); }
    QString header(int c) { return view()->model()->headerData(c, Qt::Horizontal).toString(); }
    QPoint rowCenter(int row) { return view()->visualRect(view()->model()->index(row, 1)).center(); }

    CMemRecord m_rec;
    ListDialog m_dlg;
};

TEST_F(ListCtrlTest, EmptySetShowsEveryHeaderInLayoutOrderWithTheColorGroupHidden) {
    ASSERT_NE(view(), nullptr);
    EXPECT_EQ(view()->model()->rowCount(), 0);
    ASSERT_EQ(view()->model()->columnCount(), 7);
    const QStringList expected{"客户号", "委托号", "委价", "合约", "color", "KHH", "LSH"};
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(header(c), expected[c]) << c;
        EXPECT_EQ(view()->isColumnHidden(c), c >= 4) << c;
    }
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), -1);
    // Fitting an empty list still sizes the headers.
    m_dlg.m_list.AdjustField(-2);
    EXPECT_GE(view()->columnWidth(0), view()->horizontalHeader()->fontMetrics().horizontalAdvance(header(0)));
}

TEST_F(ListCtrlTest, RowsAreReadFromTheRecordSetOnRefreshOnly) {
    fill(m_rec, 3);
    EXPECT_EQ(view()->model()->rowCount(), 0) << "the model keeps its count until Refresh";
    m_dlg.m_list.Refresh(0);
    ASSERT_EQ(view()->model()->rowCount(), 3);
    EXPECT_EQ(view()->model()->index(1, 0).data().toString(), "01011001");
    EXPECT_EQ(view()->model()->index(2, 1).data().toString(), "3");
    EXPECT_EQ(view()->model()->index(0, 2).data().toString(), "100.50");
    EXPECT_EQ(view()->model()->index(0, 5).data().toString(), "K0") << "hidden columns still answer";
    // The set emptied without a Refresh: painting asks for rows that are gone and gets empty cells.
    m_rec.Zap();
    EXPECT_EQ(view()->model()->index(1, 0).data().toString(), "");
    EXPECT_FALSE(view()->grab().isNull());
    m_dlg.m_list.Refresh(0);
    EXPECT_EQ(view()->model()->rowCount(), 0);
}

TEST_F(ListCtrlTest, SelectedLineAndRecordCursorFollowEachOther) {
    fill(m_rec, 5);
    m_rec.GoTop();
    while (!m_rec.Eof())
        m_rec.Skip(1); // a walk leaves the cursor past the end
    m_dlg.m_list.Refresh(0);
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 0) << "a refilled list starts at its first line";
    EXPECT_EQ(m_rec.GetRecNo(), 0);
    fill(m_rec, 5); // cursor on the last appended row
    m_dlg.m_list.Refresh(0);
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 0);
    EXPECT_EQ(m_rec.GetRecNo(), 0);

    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, rowCenter(3));
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 3);
    EXPECT_EQ(m_rec.GetRecNo(), 3) << "view to record";

    m_rec.Go(1);
    m_dlg.m_list.SyncFromRecord();
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 1) << "record to view";

    // Someone walked the set after the user chose line 1: a key for the list puts the cursor back first.
    m_rec.Go(4);
    view()->setFocus();
    {
        orvo::ScopedMessageHook hook([&](MSG& msg) {
            if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN)
                orvo::WalkPreTranslateTree(msg);
            return FALSE;
        });
        QTest::keyClick(view(), Qt::Key_Return);
    }
    EXPECT_EQ(m_rec.GetRecNo(), 1);
}

TEST_F(ListCtrlTest, DoubleClickOnARowSendsTheMessageToTheOwnerWithTheRowCurrent) {
    fill(m_rec, 4);
    m_dlg.m_list.Refresh(0);
    // A double-click alone (scripted input may send no press first) and a user's whole sequence.
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, rowCenter(2));
    ASSERT_EQ(m_dlg.detailRows.size(), 1u);
    EXPECT_EQ(m_dlg.detailRows[0], 2);
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 2);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, rowCenter(3));
    m_rec.Go(0);
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, rowCenter(3));
    ASSERT_EQ(m_dlg.detailRows.size(), 2u) << "one message per double-click";
    EXPECT_EQ(m_dlg.detailRows[1], 3);
    // Below the last row there is no row to query.
    const QPoint below(5, view()->viewport()->height() - 3);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(m_dlg.detailRows.size(), 2u);
}

TEST_F(ListCtrlTest, HomeAndEndGoToTheFirstAndLastRowWithTheRecordCursor) {
    fill(m_rec, 40); // more rows than the list shows
    m_dlg.m_list.Refresh(0);
    m_dlg.m_list.SetCurSel(5);
    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_End);
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 39);
    EXPECT_EQ(m_rec.GetRecNo(), 39);
    EXPECT_TRUE(view()->viewport()->rect().intersects(view()->visualRect(view()->model()->index(39, 0))))
        << "the last row is scrolled into view";
    QTest::keyClick(view(), Qt::Key_Home);
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 0);
    EXPECT_EQ(m_rec.GetRecNo(), 0);
    QTest::keyClick(view(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(m_dlg.m_list.GetCurSel(), 39);
}

TEST_F(ListCtrlTest, AdjustFieldFitsHeaderAndASampleNeverTheWholeSet) {
    fill(m_rec, 3000);
    m_rec.Set(U("合约"), U("一个相当长的合约名称用于测量"), 10);
    m_rec.Set(U("客户号"), U("很长很长很长很长很长很长很长很长很长很长"), 2900);
    m_dlg.m_list.Refresh(0);
    m_dlg.m_list.AdjustField(-2);
    const QFontMetrics metrics(view()->font());
    EXPECT_GE(view()->columnWidth(3),
              metrics.horizontalAdvance(QString::fromUtf8("一个相当长的合约名称用于测量")));
    EXPECT_LT(view()->columnWidth(0),
              metrics.horizontalAdvance(QString::fromUtf8("很长很长很长很长很长很长很长很长很长很长")))
        << "row 2900 lies outside the sample";
    EXPECT_GE(view()->columnWidth(1), view()->horizontalHeader()->fontMetrics().horizontalAdvance(header(1)));
}

TEST_F(ListCtrlTest, CtrlCCopiesSelectedRowsAsTabSeparatedText) {
    fill(m_rec, 4);
    m_rec.Set(U("合约"), CString("a\tb"), 2);
    m_dlg.m_list.Refresh(0);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, rowCenter(2));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCenter(0));
    QApplication::clipboard()->clear();
    QTest::keyClick(view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromUtf8("01011000\t1\t100.50\tcu2501\n01011002\t3\t102.50\ta b"));
}

TEST_F(ListCtrlTest, CsvExportInGbkAndUtf8WithBom) {
    fill(m_rec, 2);
    m_rec.Set(U("合约"), CString("=1+2"), 0);
    m_rec.Set(U("合约"), U("铜,\"主力\""), 1);
    m_dlg.m_list.Refresh(0);
    QTemporaryDir dir;
    const std::string gbkPath = dir.filePath("gbk.csv").toStdString();
    const std::string utfPath = dir.filePath("utf8.csv").toStdString();
    std::string error;
    ASSERT_TRUE(m_dlg.m_list.ExportCsv(gbkPath, orvo::CsvEncoding::Gbk, &error)) << error;
    ASSERT_TRUE(m_dlg.m_list.ExportCsv(utfPath, orvo::CsvEncoding::Utf8WithBom, &error)) << error;
    const auto read = [](const std::string& path) {
        QFile f(QString::fromStdString(path));
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    };
    const std::string utf8Body = "客户号,委托号,委价,合约\r\n"
                                 "01011000,1,100.50,'=1+2\r\n"
                                 "01011001,2,101.50,\"铜,\"\"主力\"\"\"\r\n";
    EXPECT_EQ(read(utfPath), "\xEF\xBB\xBF" + utf8Body);
    EXPECT_EQ(read(gbkPath), CString::FromUtf8(utf8Body).str());
    EXPECT_EQ(read(gbkPath).substr(0, 6), "\xBF\xCD\xBB\xA7\xBA\xC5") << "客户号 in GBK";

    // A path that cannot be written reports why and leaves nothing behind.
    EXPECT_FALSE(
        m_dlg.m_list.ExportCsv(dir.filePath("missing/x.csv").toStdString(), orvo::CsvEncoding::Gbk, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(ListCtrlTest, RuntimeListCreatedAsListBoxIsARecordList) {
    CMemRecord other;
    ASSERT_TRUE(other.Create(U("流水号[I],姓名[C16],color[I],LSH[I]"), 0));
    ASSERT_TRUE(m_dlg.m_runtime.Create("ListBox", "", WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP,
                                       CRect(0, 0, 200, 100), &m_dlg, 0));
    m_dlg.m_runtime.SetRecord(&other);
    m_dlg.m_runtime.SetCanShowTip(FALSE);
    other.Append(nullptr, 1);
    other.Set(U("姓名"), U("张三"));
    m_dlg.m_runtime.Refresh(0);
    QAbstractItemModel* model = m_dlg.m_runtime.View()->model();
    EXPECT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->index(0, 1).data().toString(), QString::fromUtf8("张三"));
    EXPECT_FALSE(model->index(0, 1).data(Qt::ToolTipRole).isValid()) << "tips switched off";
    EXPECT_EQ(m_dlg.m_list.View()->model()->index(0, 1).data(Qt::ToolTipRole).isValid(), false);
    EXPECT_EQ(m_dlg.m_runtime.GetSafeHwnd()->property("orvoKind").toString(), "list");
    // The window's font, with redraw, reaches the list and its row height.
    CFont font;
    font.CreatePointFont(180, "");
    m_dlg.m_runtime.SetFont(&font, TRUE);
    EXPECT_EQ(m_dlg.m_runtime.View()->font().pointSize(), 18);
    EXPECT_GE(m_dlg.m_runtime.View()->verticalHeader()->defaultSectionSize(),
              QFontMetrics(font.GetQFont()).height());
}

TEST_F(ListCtrlTest, AlignedButtonsKeepTheirBottomRightDistances) {
    CRect client, query;
    m_dlg.GetClientRect(client);
    m_dlg.GetDlgItem(9014)->GetWindowRect(query);
    m_dlg.ScreenToClient(query);
    const LONG rightGap = client.right - query.right;
    const LONG bottomGap = client.bottom - query.bottom;
    m_dlg.SetItemAlign(9014, 3);
    m_dlg.SetItemAlign(IDCANCEL, 3);
    m_dlg.MoveWindow(0, 0, 900, 700);
    QTest::qWait(10);
    m_dlg.GetClientRect(client);
    m_dlg.GetDlgItem(9014)->GetWindowRect(query);
    m_dlg.ScreenToClient(query);
    EXPECT_EQ(client.right - query.right, rightGap);
    EXPECT_EQ(client.bottom - query.bottom, bottomGap);
    EXPECT_EQ(query.Width(), 48 * orvo::BaseUnitsOf(m_dlg.GetSafeHwnd()->font()).x / 4);

    // Minimizing moves nothing.
    m_dlg.ShowWindow(SW_MINIMIZE);
    QTest::qWait(10);
    CRect after;
    m_dlg.GetDlgItem(9014)->GetWindowRect(after);
    m_dlg.ScreenToClient(after);
    EXPECT_EQ(after, query);
}

TEST(OrvoDialogModal, ExitButtonAndEscapeEndTheWindow) {
    guitest::App();
    for (const bool useEscape : {false, true}) {
        CMemRecord rec;
        rec.Create(U(kLayout), 0);
        ListDialog dlg;
        dlg.m_list.SetRecord(&rec);
        QTimer::singleShot(0, [&] {
            // Copying works inside the modal loop too, where keys pass PreTranslateMessage first.
            fill(rec, 2);
            dlg.m_list.Refresh(0);
            QApplication::clipboard()->clear();
            QTest::keyClick(dlg.m_list.View(), Qt::Key_C, Qt::ControlModifier);
            EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("01011000\t1\t100.50\tcu2501"));
            dlg.SetNote(U("提示"));
            EXPECT_TRUE(dlg.GetSafeHwnd()->findChild<QWidget*>("orvoNote")->isVisible());
            dlg.SetNoteVisible(FALSE);
            EXPECT_FALSE(dlg.GetSafeHwnd()->findChild<QWidget*>("orvoNote")->isVisible());
            if (useEscape)
                QTest::keyClick(dlg.m_list.View(), Qt::Key_Escape);
            else
                QTest::mouseClick(dlg.GetDlgItem(IDCANCEL)->GetSafeHwnd(), Qt::LeftButton);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
}

} // namespace

namespace {

// Rows for the ordering tests: contract names in GBK order 啊 < 北 < 中 (Unicode puts them the other way
// round), prices where text order and number order differ, and two equal prices.
void fillForOrder(CMemRecord& rec) {
    struct R {
        const char* customer;
        const char* contract;
        const char* price;
    };
    const R rows[] = {{"010100000001", "中", "9.5"},
                      {"010100000002", "啊", "100.5"},
                      {"010100000003", "北", "20"},
                      {"010100000004", "abc", "20"}};
    rec.Zap();
    long serial = 1;
    for (const R& r : rows) {
        rec.Append(nullptr, 1);
        rec.Set(U("客户号"), U(r.customer));
        rec.Set(U("委托号"), serial++);
        rec.Set(U("委价"), CString(r.price));
        rec.Set(U("合约"), U(r.contract));
    }
}

} // namespace

TEST_F(ListCtrlTest, HeaderClicksSortTheLinesByTypeStablyAndEveryActionUsesTheRowShown) {
    fillForOrder(m_rec);
    m_dlg.m_list.Refresh(0);
    QHeaderView* header = view()->horizontalHeader();
    const auto clickHeader = [&](int section) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 4, header->height() / 2));
    };
    clickHeader(2); // price, as numbers; the equal prices keep the record set's order
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{0, 2, 3, 1}));
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    clickHeader(2); // reversed, ties still in record order
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{1, 2, 3, 0}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    clickHeader(3); // contract: GBK order, ASCII first
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{3, 1, 2, 0}));
    EXPECT_EQ(m_rec.GetLayout(), U(kLayout)) << "the record set is not reordered";
    EXPECT_EQ(m_rec.GetString(U("合约"), 0), U("中"));

    // Selection, Enter's target, copy and export all act on the rows shown.
    m_dlg.m_list.SetCurSel(1);
    EXPECT_EQ(m_rec.GetRecNo(), 1);
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, rowCenter(2));
    ASSERT_FALSE(m_dlg.detailRows.empty());
    EXPECT_EQ(m_dlg.detailRows.back(), 2);
    m_dlg.m_list.SetCurSel(0);
    EXPECT_EQ(m_dlg.m_list.GetSelectedRowsText(), U("010100000004\t4\t20.00\tabc"));
    QTemporaryDir dir;
    const std::string csv = dir.filePath("order.csv").toStdString();
    ASSERT_TRUE(m_dlg.m_list.ExportFile(csv));
    QFile file(QString::fromStdString(csv));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[1].startsWith("010100000004,4,20.00,abc")) << lines[1].toStdString();
    const std::string xlsx = dir.filePath("order.xlsx").toStdString();
    ASSERT_TRUE(m_dlg.m_list.ExportFile(xlsx));
    QFile book(QString::fromStdString(xlsx));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    EXPECT_TRUE(book.read(2) == "PK") << "an .xlsx is a zip package";
    std::string error;
    EXPECT_FALSE(m_dlg.m_list.ExportFile(dir.filePath("missing/x.xlsx").toStdString(), &error));
    EXPECT_FALSE(error.empty());

    // A refill keeps the sort column; the first line shown becomes current.
    fillForOrder(m_rec);
    m_dlg.m_list.Refresh(0);
    EXPECT_EQ(m_dlg.m_list.GetSortColumn(), 3);
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{3, 1, 2, 0}));
    EXPECT_EQ(m_rec.GetRecNo(), 3);
}

TEST_F(ListCtrlTest, FilterKeepsLinesContainingTheTextCaseInsensitiveOnCharacterBoundaries) {
    fillForOrder(m_rec);
    m_rec.Set(U("合约"), CString("\x81\x41xy"), 0); // 丄 ends in the byte of 'A'
    m_rec.Set(U("合约"), CString("\x81\x61"), 1);   // 乤 ends in the byte of 'a'
    m_dlg.m_list.Refresh(0);
    m_dlg.m_list.SetCurSel(3);
    m_dlg.m_list.SetFilterText("A");
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{3})) << "only abc, not the trail byte";
    EXPECT_EQ(m_rec.GetRecNo(), 3) << "the current row stays current while it is shown";
    m_dlg.m_list.SetFilterText("AbC");
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{3}));
    m_dlg.m_list.SetFilterText(U("丄"));
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{0})) << "乤 is another character";
    m_dlg.m_list.SetFilterText(U("丄X"));
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{0}));
    EXPECT_EQ(m_rec.GetRecNo(), 0) << "a hidden current row gives way to the first line";
    m_dlg.m_list.SetFilterText("20.00"); // numbers as shown
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{2, 3}));
    m_dlg.m_list.SetFilterText("2"); // shorter again: every row is looked at afresh
    EXPECT_EQ(m_dlg.m_list.GetShownRecordRows(), (std::vector<long>{1, 2, 3}));
    m_dlg.m_list.SetFilterText("K3"); // the hidden key columns are not searched
    EXPECT_EQ(m_dlg.m_list.GetShownRowCount(), 0);
    EXPECT_TRUE(m_rec.Eof()) << "no row shown, none current for Enter or a double-click to act on";
    fillForOrder(m_rec); // a refill under the same filter: still nothing current
    m_dlg.m_list.Refresh(0);
    EXPECT_TRUE(m_rec.Eof());
    m_dlg.m_list.SetFilterText("");
    EXPECT_EQ(m_dlg.m_list.GetShownRowCount(), 4);
}

TEST_F(ListCtrlTest, SavedLayoutRestoresWidthsOrderAndHiddenColumnsOnlyForTheSameColumns) {
    fill(m_rec, 3);
    m_dlg.m_list.Refresh(0);
    QHeaderView* header = view()->horizontalHeader();
    header->resizeSection(0, 211); // as the user's drag does
    header->moveSection(header->visualIndex(3), 0);
    m_dlg.m_list.HideColumn(1, TRUE);
    m_dlg.m_list.AdjustField(-2);
    EXPECT_EQ(header->sectionSize(0), 211) << "fitting leaves the user's width";
    const std::string saved = m_dlg.m_list.SaveLayout();

    m_dlg.m_list.ResetLayout();
    EXPECT_NE(header->sectionSize(0), 211);
    EXPECT_EQ(header->visualIndex(3), 3);
    EXPECT_FALSE(header->isSectionHidden(1));
    ASSERT_TRUE(m_dlg.m_list.RestoreLayout(saved));
    m_dlg.m_list.Refresh(0);
    EXPECT_EQ(header->sectionSize(0), 211);
    EXPECT_EQ(header->visualIndex(3), 0);
    EXPECT_TRUE(header->isSectionHidden(1));
    EXPECT_TRUE(header->isSectionHidden(4));
    EXPECT_EQ(m_dlg.m_list.GetVisibleColumnsInOrder(), (std::vector<int>{3, 0, 2}));

    CMemRecord other;
    ASSERT_TRUE(other.Create(U("客户号[C12],委托号[I],color[I]"), 0));
    m_dlg.m_list.SetRecord(&other);
    EXPECT_FALSE(m_dlg.m_list.RestoreLayout(saved)) << "a layout of other columns is not applied";
    EXPECT_FALSE(m_dlg.m_list.RestoreLayout("not a layout"));
    m_dlg.m_list.SetRecord(&m_rec);
}
