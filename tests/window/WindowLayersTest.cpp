// The query window keeps the user's work: Escape peels one layer at a time, a cancelled refresh keeps the
// rows, a failure stays in sight until a query succeeds, and a refresh keeps the selected rules.
#include "WindowTestSupport.h"

#include "query/WindowBottomBar.h"
#include "res/Resource.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using windowtest::PriceTriggerRow;
using windowtest::QueryWindowTest;

CString U(const char* utf8) {
    return CString::FromUtf8(utf8);
}

class WindowLayersTest : public QueryWindowTest {
protected:
    void ReplyThreeRules() {
        Reply(16476, {PriceTriggerRow("010100000001", 11, 1), PriceTriggerRow("010100000002", 12, 0),
                      PriceTriggerRow("010100000013", 13, 0)});
    }
    // A reply slow enough for the window to show progress and take Escape, pressed `afterMs` into it.
    void ScriptSlowReplyCancelledAfter(int afterMs) {
        orvo::test::FakeReply slow;
        slow.generatedRows = 40;
        slow.generate = [](std::size_t i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            return PriceTriggerRow("0101000001" + std::to_string(10 + i), static_cast<long>(100 + i), 0);
        };
        server.ScriptOnce(16476, slow);
        QTimer::singleShot(afterMs,
                           [this] { QTest::keyClick(dlg.m_listPriceTrigger.View(), Qt::Key_Escape); });
    }
    void ClickQuery() { dlg.GetDlgItem(IDC_BTN_QUERY)->SendMessage(BM_CLICK); }
};

TEST_F(WindowLayersTest, EscapeClosesTheFindFieldWhereverTheFocusIsBeforeItClosesTheWindow) {
    ReplyThreeRules();
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        CWnd* filter = dlg.GetDlgItem(IDC_EDIT_FILTER);
        // An Escape typed while a query too short to show progress ran: the query takes it, the window
        // never sees it.
        orvo::test::FakeReply quick;
        quick.generatedRows = 8;
        quick.generate = [](std::size_t i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            return PriceTriggerRow("010100000009", static_cast<long>(90 + i), 0);
        };
        server.ScriptOnce(16476, quick);
        QCoreApplication::postEvent(list.View(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        ASSERT_TRUE(dlg.RefreshIfIdle()); // no dialog of its own that would take the key first
        EXPECT_NE(dlg.GetModalResult(), IDCANCEL);
        EXPECT_EQ(dlg.GetStatusText().Find(U("已取消")), 0) << dlg.GetStatusText().ToUtf8();
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 3);

        dlg.OpenFind();
        QTest::keyClicks(filter->GetSafeHwnd(), "13");
        ASSERT_EQ(list.GetShownRowCount(), 1);
        // The user clicked back into the list: Escape there still means "clear the filter".
        list.SetFocus();
        QTest::keyClick(list.View(), Qt::Key_Escape);
        EXPECT_FALSE(filter->IsWindowVisible());
        EXPECT_EQ(list.GetShownRowCount(), 3);
        EXPECT_EQ(QApplication::focusWidget(), list.View()) << "the focus stays in the list";
        // From the find field, the focus goes to the list.
        dlg.OpenFind();
        QTest::keyClick(filter->GetSafeHwnd(), Qt::Key_Escape);
        EXPECT_EQ(QApplication::focusWidget(), list.View());
        EXPECT_NE(dlg.GetModalResult(), IDCANCEL) << "no Escape so far ended the window";
        // Nothing left to peel: the window closes, as its Exit button would.
        QTest::keyClick(list.View(), Qt::Key_Escape);
        EXPECT_EQ(dlg.GetModalResult(), IDCANCEL);
    });
}

TEST_F(WindowLayersTest, ACancelKeepsTheRowsAndAFailureStaysInSightUntilAQuerySucceeds) {
    ReplyThreeRules();
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        list.SetCurSel(1);
        // A refresh by its key (F1) cancelled part-way: the rows of before, said so.
        ScriptSlowReplyCancelledAfter(800);
        QTest::keyClick(list.View(), Qt::Key_F1);
        EXPECT_TRUE(dlg.IsModalRunning());
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 3);
        EXPECT_EQ(list.GetShownRowCount(), 3);
        EXPECT_EQ(QApplication::focusWidget(), list.View()) << "the list keeps the keys (Escape, Shift+F10)";
        CString status = dlg.GetStatusText();
        EXPECT_EQ(status.Find(U("已取消")), 0) << status.ToUtf8();
        EXPECT_NE(status.Find(U("显示 3/3 行")), -1) << status.ToUtf8();
        EXPECT_FALSE(dlg.IsStatusAlert());

        // A reply cut off after one row: nothing of it shown, the rows of before stay, greyed, with how old
        // they are and why, also after the user moves in the list (which rewrites the status line).
        orvo::test::FakeReply cut;
        cut.rows = {PriceTriggerRow("010100000001", 11, 1), PriceTriggerRow("010100000002", 12, 0)};
        cut.fault = orvo::test::FakeReply::Fault::Close;
        cut.faultAfterRows = 1;
        server.ScriptOnce(16476, cut);
        ClickQuery();
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 3);
        EXPECT_TRUE(list.IsStale());
        list.SetCurSel(2);
        status = dlg.GetStatusText();
        EXPECT_EQ(status.Find(U("数据已过时，最后更新 ")), 0) << status.ToUtf8();
        EXPECT_NE(status.Find(U("显示 3/3 行")), -1) << status.ToUtf8();
        EXPECT_TRUE(dlg.IsStatusAlert());
        // A cancel of the retry does not hide the failure.
        ScriptSlowReplyCancelledAfter(800);
        ClickQuery();
        EXPECT_EQ(dlg.GetStatusText().Find(U("数据已过时")), 0) << dlg.GetStatusText().ToUtf8();

        // The next whole reply ends it, and says so once.
        ClickQuery();
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 3);
        EXPECT_FALSE(list.IsStale());
        status = dlg.GetStatusText();
        EXPECT_EQ(status.Find(U("已恢复  显示 3/3 行")), 0) << status.ToUtf8();
        EXPECT_FALSE(dlg.IsStatusAlert());
        ClickQuery();
        EXPECT_EQ(dlg.GetStatusText().Find(U("显示 3/3 行")), 0) << dlg.GetStatusText().ToUtf8();

        // A list that never had rows shows the failure alone: no counts that read as an empty success.
        server.Script(16476, {});
        ClickQuery();
        ASSERT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 0);
        server.ScriptOnce(16476, cut);
        ClickQuery();
        status = dlg.GetStatusText();
        EXPECT_EQ(status.Find(U("查询失败: ")), 0) << status.ToUtf8();
        EXPECT_EQ(status.Find(U("显示")), -1) << status.ToUtf8();
        ReplyThreeRules();
        ClickQuery();
        ASSERT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 3);

        // The detail list says why it is empty: a rule without orders, or a failure.
        Reply(16151, {});
        QTest::keyClick(list.View(), Qt::Key_Return);
        EXPECT_EQ(dlg.m_listDetail.GetEmptyText(), U("该条件单尚无委托"));
        orvo::test::FakeReply refused;
        refused.fault = orvo::test::FakeReply::Fault::Refuse;
        refused.status = 5;
        refused.text = "busy";
        server.ScriptOnce(16151, refused);
        QTest::keyClick(list.View(), Qt::Key_Return);
        EXPECT_EQ(dlg.m_listDetail.GetEmptyText().Find(U("查询失败: ")), 0)
            << dlg.m_listDetail.GetEmptyText().ToUtf8();
        // The orders of a rule stay, greyed, when asking them again fails.
        Reply(16151, {querytest::Row({{"605", "010100000001"}, {"681", "901"}, {"755", ""}})});
        QTest::keyClick(list.View(), Qt::Key_Return);
        ASSERT_EQ(dlg.m_recDetail.GetRecordCount(), 1);
        server.ScriptOnce(16151, refused);
        QTest::keyClick(list.View(), Qt::Key_Return);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 1);
        EXPECT_TRUE(dlg.m_listDetail.IsStale());
        // Another rule's orders never stand in for this one's.
        list.SetCurSel(list.GetCurSel() == 0 ? 1 : 0);
        server.ScriptOnce(16151, refused);
        QTest::keyClick(list.View(), Qt::Key_Return);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 0);
    });
}

TEST_F(WindowLayersTest, ARefreshKeepsTheSelectedRulesAndTheColumnWidthsAndCopyTakesThem) {
    ReplyThreeRules();
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        QTableView* view = list.View();
        list.SetCurSel(0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          view->visualRect(view->model()->index(2, 1)).center());
        ASSERT_EQ(list.GetSelectedRecordRows(), (std::vector<long>{0, 2}));
        const int customerWidth = view->columnWidth(1);
        QTest::qWait(700); // no key held

        // The server now lists a new rule first, with short customer numbers.
        Reply(16476, {PriceTriggerRow("9", 9, 0), PriceTriggerRow("1", 11, 1), PriceTriggerRow("2", 12, 0),
                      PriceTriggerRow("3", 13, 0)});
        ASSERT_TRUE(dlg.RefreshIfIdle());
        std::vector<long> serials;
        for (const long row : list.GetSelectedRecordRows())
            serials.push_back(dlg.m_recPriceTrigger.GetLong("LSH", static_cast<int>(row)));
        EXPECT_EQ(serials, (std::vector<long>{11, 13}));
        EXPECT_NE(dlg.GetStatusText().Find(U("选中 2 行")), -1) << dlg.GetStatusText().ToUtf8();
        EXPECT_EQ(view->columnWidth(1), customerWidth) << "a refresh does not narrow a column";

        // Ctrl+C copies both; Ctrl+Shift+C puts the captions first.
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        const QStringList copied = QApplication::clipboard()->text().split('\n');
        ASSERT_EQ(copied.size(), 2);
        EXPECT_TRUE(copied[0].startsWith("11\t1\t")) << copied[0].toStdString();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        const QStringList withHeader = QApplication::clipboard()->text().split('\n');
        ASSERT_EQ(withHeader.size(), 3);
        EXPECT_TRUE(withHeader[0].startsWith(QString::fromUtf8("流水号\t客户号\t")))
            << withHeader[0].toStdString();

        // A new query fits the columns again.
        ClickQuery();
        EXPECT_LT(view->columnWidth(1), customerWidth);
    });
}

} // namespace
