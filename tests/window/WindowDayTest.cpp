// The query window over a working day: the find field and the status line beside the buttons, the sort
// kept by a new query, layouts that outlive the window, the live refresh, and a slow query cancelled.
#include "WindowTestSupport.h"

#include "host/gui/RecordTableModel.h"
#include "query/WindowBottomBar.h"
#include "res/Resource.h"

#include <QApplication>
#include <QHeaderView>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using windowtest::PriceTriggerRow;
using windowtest::QueryWindowTest;
using windowtest::RectInParent;

CString U(const char* utf8) {
    return CString::FromUtf8(utf8);
}

std::vector<long> shownRows(const COrvoListCtrl& list) {
    return list.GetShownRecordRows();
}

class WindowDayTest : public QueryWindowTest {
protected:
    void ReplyThreeRules() {
        Reply(16476, {PriceTriggerRow("010100000001", 11, 1), PriceTriggerRow("010100000002", 12, 0),
                      PriceTriggerRow("010100000013", 13, 0)});
    }
};

TEST_F(WindowDayTest, FindFieldAndStatusLineShareTheFreeSpaceAndTheSortOutlivesANewQuery) {
    ReplyThreeRules();
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        CWnd* status = dlg.GetDlgItem(IDC_STATIC_STATUS);
        CWnd* filter = dlg.GetDlgItem(IDC_EDIT_FILTER);
        ASSERT_TRUE(status && filter);
        const CString text = dlg.GetStatusText();
        EXPECT_NE(text.Find(U("显示 3/3 行")), -1) << text.ToUtf8();
        EXPECT_NE(text.Find(U("委手 9")), -1) << text.ToUtf8();
        EXPECT_NE(text.Find(U("查询 ")), -1) << text.ToUtf8();
        EXPECT_NE(text.Find(U("刷新 ")), -1) << text.ToUtf8();
        // The free space left of the Query button, below the detail list; nothing laid out moved.
        const CRect rcStatus = RectInParent(*status);
        const CRect rcQuery = RectInParent(*dlg.GetDlgItem(IDC_BTN_QUERY));
        EXPECT_GE(rcStatus.top, RectInParent(dlg.m_listDetail).bottom);
        EXPECT_LE(rcStatus.right, rcQuery.left);
        EXPECT_GT(rcStatus.Width(), 100);

        // Ctrl+F: the find field left of the status line, both in sight, filtering as the user types.
        QTest::keyClick(list.View(), Qt::Key_F, Qt::ControlModifier);
        EXPECT_TRUE(filter->IsWindowVisible());
        EXPECT_TRUE(status->IsWindowVisible());
        EXPECT_LE(RectInParent(*filter).right, RectInParent(*status).left);
        EXPECT_GT(RectInParent(*status).Width(), 100);
        EXPECT_EQ(QApplication::focusWidget(), filter->GetSafeHwnd());
        QTest::keyClicks(filter->GetSafeHwnd(), "13");
        EXPECT_EQ(shownRows(list), (std::vector<long>{2}));
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecNo(), 2) << "the record cursor is on the row shown";
        EXPECT_NE(dlg.GetStatusText().Find(U("显示 1/3 行")), -1) << dlg.GetStatusText().ToUtf8();
        // Escape clears and closes it, and leaves the window open.
        QTest::keyClick(filter->GetSafeHwnd(), Qt::Key_Escape);
        EXPECT_TRUE(dlg.IsModalRunning());
        EXPECT_FALSE(filter->IsWindowVisible());
        EXPECT_EQ(RectInParent(*status), rcStatus) << "the status line has the whole band again";
        EXPECT_EQ(shownRows(list), (std::vector<long>{0, 1, 2}));
        // Several rows selected: the sums are theirs.
        list.SetCurSel(0);
        QTest::mouseClick(list.View()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list.View()->visualRect(list.View()->model()->index(1, 1)).center());
        EXPECT_NE(dlg.GetStatusText().Find(U("选中 2 行 委手 6")), -1) << dlg.GetStatusText().ToUtf8();

        // Two clicks on the serial number's header: descending, and a new query keeps it.
        QHeaderView* header = list.View()->horizontalHeader();
        for (int click = 0; click < 2; ++click)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        EXPECT_EQ(shownRows(list), (std::vector<long>{2, 1, 0}));
        EXPECT_TRUE(header->isSortIndicatorShown());
        EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
        dlg.GetDlgItem(IDC_BTN_QUERY)->SendMessage(BM_CLICK);
        EXPECT_EQ(RequestCount(16476), 2u);
        EXPECT_EQ(list.GetSortColumn(), 0);
        EXPECT_FALSE(list.IsSortAscending());
        EXPECT_EQ(shownRows(list), (std::vector<long>{2, 1, 0}));
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecNo(), 2) << "the first line shown is current";
    });
}

TEST_F(WindowDayTest, LayoutsOutliveTheWindowAndUserWidthsSurviveTheFitting) {
    ReplyThreeRules();
    RunWindow({Ok()}, [&] {
        QHeaderView* header = dlg.m_listPriceTrigger.View()->horizontalHeader();
        header->resizeSection(2, 333); // as the user's drag of the section edge does
        header->moveSection(header->visualIndex(5), 0);
        dlg.m_listPriceTrigger.HideColumn(3, TRUE);
        // Sorted by 委手 descending, then by 客户号 among equal lots (a Shift+click).
        const auto clickHeader = [&](int section, Qt::KeyboardModifiers keys) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, keys,
                              QPoint(header->sectionViewportPosition(section) + 4, header->height() / 2));
        };
        clickHeader(8, {});
        clickHeader(8, {});
        clickHeader(1, Qt::ShiftModifier);
        dlg.GetDlgItem(IDC_BTN_QUERY)->SendMessage(BM_CLICK); // refits the columns
        EXPECT_EQ(header->sectionSize(2), 333);
        EXPECT_TRUE(header->isSectionHidden(3));
        // Kept a moment after the change, with the window still open: a client killed now loses nothing.
        QTest::qWait(1300);
        EXPECT_EQ(QSettings().value("ExtOrderQuery/default/list0").toString().toStdString(),
                  dlg.m_listPriceTrigger.SaveLayout());
    });
    EXPECT_TRUE(QSettings().value("ExtOrderQuery/default/split").toString().isEmpty())
        << "an undragged split is the standard one, not kept";
    // As if the operator had dragged the splitter bar to half the height.
    QSettings().setValue("ExtOrderQuery/default/split", "0.5");
    EXPECT_EQ(QSettings().value("ExtOrderQuery/default/maximized").toString(), "1");
    QSettings().setValue("ExtOrderQuery/default/maximized", "0"); // as if closed restored
    // A second start, as the next ModuleMain makes it.
    CExtOrderQueryDlg second;
    runTarget = &second;
    RunWindow({Ok()}, [&] {
        CRect rcClient;
        second.GetClientRect(rcClient);
        EXPECT_EQ(RectInParent(second.m_tabKinds).bottom, rcClient.bottom / 2)
            << "the split the operator left";
        QHeaderView* header = second.m_listPriceTrigger.View()->horizontalHeader();
        EXPECT_EQ(header->sectionSize(2), 333);
        EXPECT_EQ(header->visualIndex(5), 0);
        EXPECT_TRUE(header->isSectionHidden(3));
        EXPECT_FALSE(header->isSectionHidden(4));
        EXPECT_TRUE(header->isSectionHidden(15)) << "the color group stays hidden";
        using Key = orvo::ListRowOrder::SortKey;
        EXPECT_EQ(second.m_listPriceTrigger.Model()->Order().SortKeys(),
                  (std::vector<Key>{{8, false}, {1, true}}))
            << "both keys of the sort it was left with";
        EXPECT_FALSE(second.GetSafeHwnd()->isMaximized()) << "closed restored, it opens restored";
        second.m_listPriceTrigger.ResetLayout();
        EXPECT_EQ(header->visualIndex(5), 5);
        EXPECT_FALSE(header->isSectionHidden(3));
    });
    EXPECT_EQ(QSettings().value("ExtOrderQuery/default/split").toString(), "0.500000")
        << "the split it opened with is kept for the next start";
}

TEST_F(WindowDayTest, LiveRefreshKeepsTheSelectedRuleAndTheFilterAndWaitsWhileTheUserIsBusy) {
    ReplyThreeRules();
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        list.SetCurSel(2);
        dlg.OpenFind();
        QTest::keyClicks(dlg.GetDlgItem(IDC_EDIT_FILTER)->GetSafeHwnd(), "0101");
        // A key was just pressed: the refresh waits for the user.
        EXPECT_FALSE(dlg.RefreshIfIdle());
        QTest::qWait(700);
        // The server's answer now lists a new rule first; serial 13 stays selected.
        Reply(16476, {PriceTriggerRow("010100000009", 9, 0), PriceTriggerRow("010100000001", 11, 1),
                      PriceTriggerRow("010100000002", 12, 0), PriceTriggerRow("010100000013", 13, 0)});
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(RequestCount(16476), 2u);
        EXPECT_EQ(dlg.m_recPriceTrigger.GetLong("LSH"), 13);
        EXPECT_EQ(list.GetFilterText(), CString("0101"));
        EXPECT_EQ(list.GetShownRowCount(), 4);
        EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDC_EDIT_FILTER)->GetSafeHwnd())
            << "a refresh leaves the focus where the user put it";
    });
}

TEST_F(WindowDayTest, EscapeCancelsASlowQueryAndTheChannelServesTheNextOne) {
    // Forty rows, 30 ms apart: well over the half second after which the window shows progress.
    orvo::test::FakeReply slow;
    slow.generatedRows = 40;
    slow.generate = [](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return PriceTriggerRow("0101000001" + std::to_string(10 + i), static_cast<long>(100 + i), 0);
    };
    server.ScriptOnce(16476, slow);
    Reply(16476, {PriceTriggerRow("010100000001", 11, 1)});
    CString progress;
    QTimer escape;
    escape.setSingleShot(true);
    QObject::connect(&escape, &QTimer::timeout, [&] {
        progress = dlg.GetStatusText();
        QTest::keyClick(dlg.m_listPriceTrigger.View(), Qt::Key_Escape);
    });
    escape.start(800); // fires inside the wait, while the window repaints
    RunWindow({Ok()}, [&] {
        EXPECT_NE(progress.Find(U("正在查询")), -1) << progress.ToUtf8();
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 0) << "a cancelled query leaves the list empty";
        EXPECT_TRUE(dlg.IsModalRunning()) << "Escape cancelled the wait, not the window";
        const int connections = server.ConnectionsAccepted();
        dlg.GetDlgItem(IDC_BTN_QUERY)->SendMessage(BM_CLICK);
        EXPECT_EQ(server.ConnectionsAccepted(), connections + 1) << "the cancelled reply's line was freed";
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 1);
        EXPECT_EQ(dlg.m_recPriceTrigger.GetLong("LSH", 0), 11);
    });
}

} // namespace
