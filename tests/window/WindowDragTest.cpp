// The splitter bar inside the query window: the tab control and the detail list follow the bar, the rule
// lists re-fit to the tab control, and the window's own keys wait while the drag lasts.
#include "WindowTestSupport.h"

#include "query/RuleRecordLayouts.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

using windowtest::QueryWindowTest;
using windowtest::RectInParent;

class WindowDragTest : public QueryWindowTest {
protected:
    QWidget* bar() { return dlg.m_wndSplitter.GetSafeHwnd(); }

    void Drag(int dy) {
        QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(100, 10));
        for (int step = 1; step <= 5; ++step)
            QTest::mouseMove(bar(), QPoint(100, 10 + dy * step / 5));
        QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(100, 10 + dy));
    }

    // 15 inside the tab control's right and bottom, below its headers at the top, shown or hidden.
    void ExpectRuleListsInsideTheTab() {
        const CRect tab = RectInParent(dlg.m_tabKinds);
        for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind)
            EXPECT_EQ(RectInParent(dlg.RuleList(kind)),
                      CRect(tab.left, tab.top + 25, tab.right - 15, tab.bottom - 15))
                << "rule list " << kind;
        QWidget* tabBar = dlg.m_tabKinds.GetSafeHwnd()->findChild<QWidget*>();
        ASSERT_NE(tabBar, nullptr);
        EXPECT_GE(RectInParent(dlg.m_listPriceTrigger).top, tab.top + tabBar->height() - 2)
            << "the tab headers stay in sight";
    }
};

TEST_F(WindowDragTest, DragDownAndUpResizesTabAndDetailAndRefitsTheRuleLists) {
    RunWindow({Cancel()}, [&] {
        ResizeClient(1000, 700);
        const CRect tabBefore = RectInParent(dlg.m_tabKinds);
        ASSERT_EQ(RectInParent(dlg.m_wndSplitter).top, 433);

        Drag(60);
        EXPECT_EQ(RectInParent(dlg.m_wndSplitter), CRect(tabBefore.left, 493, 985, 513));
        EXPECT_EQ(RectInParent(dlg.m_tabKinds), CRect(tabBefore.left, tabBefore.top, 985, 492));
        EXPECT_EQ(RectInParent(dlg.m_listDetail).top, 514);
        EXPECT_EQ(RectInParent(dlg.m_listDetail).bottom, 650) << "the detail list keeps its bottom";
        ExpectRuleListsInsideTheTab();

        Drag(-150);
        EXPECT_EQ(RectInParent(dlg.m_wndSplitter).top, 343);
        EXPECT_EQ(RectInParent(dlg.m_tabKinds).bottom, 342);
        EXPECT_EQ(RectInParent(dlg.m_listDetail).top, 364);
        ExpectRuleListsInsideTheTab();

        // A resize lays everything out from the client size again, the split included.
        ResizeClient(1000, 701);
        EXPECT_EQ(RectInParent(dlg.m_tabKinds).bottom, 433);
        EXPECT_EQ(RectInParent(dlg.m_listPriceTrigger).top, tabBefore.top + 25);
    });
}

TEST_F(WindowDragTest, MinimizingKeepsASplitAndRestoringLaysOutFromTheClientSize) {
    RunWindow({Cancel()}, [&] {
        ResizeClient(900, 700);
        Drag(40);
        const CRect tab = RectInParent(dlg.m_tabKinds);
        const CRect bar = RectInParent(dlg.m_wndSplitter);
        const CRect detail = RectInParent(dlg.m_listDetail);
        const CRect list = RectInParent(dlg.m_listPriceTrigger);
        ASSERT_EQ(bar.top, 473);

        dlg.ShowWindow(SW_MINIMIZE);
        QApplication::processEvents();
        EXPECT_TRUE(dlg.IsIconic());
        EXPECT_EQ(RectInParent(dlg.m_tabKinds), tab);
        EXPECT_EQ(RectInParent(dlg.m_wndSplitter), bar);
        EXPECT_EQ(RectInParent(dlg.m_listDetail), detail);
        EXPECT_EQ(RectInParent(dlg.m_listPriceTrigger), list);

        ResizeClient(900, 600);
        EXPECT_FALSE(dlg.IsIconic());
        EXPECT_EQ(RectInParent(dlg.m_tabKinds).bottom, 370);
        EXPECT_EQ(RectInParent(dlg.m_wndSplitter).top, 371);
        EXPECT_EQ(RectInParent(dlg.m_listDetail).bottom, 550);
    });
}

TEST_F(WindowDragTest, KeysWaitWhileDraggingAndEscapeKeepsTheBarWhereTheGhostIs) {
    RunWindow({Cancel()}, [&] {
        ResizeClient(1000, 700);
        QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(100, 10));
        QTest::mouseMove(bar(), QPoint(100, 25));
        QTest::mouseMove(bar(), QPoint(100, 40));

        // F2 would switch tabs and query; during the drag it goes nowhere.
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_F2);
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 0);
        EXPECT_EQ(RequestCount(16477), 0u);

        // Escape would close the window; here it only ends the drag at the last position.
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_Escape);
        QApplication::processEvents();
        EXPECT_TRUE(dlg.IsModalRunning());
        EXPECT_FALSE(dlg.m_wndSplitter.IsDragging());
        EXPECT_EQ(RectInParent(dlg.m_wndSplitter).top, 463);
        EXPECT_EQ(RectInParent(dlg.m_tabKinds).bottom, 462);
        ExpectRuleListsInsideTheTab();

        // The keys work again.
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_F2);
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 1);
        EXPECT_EQ(RequestCount(16477), 1u);
    });
}

} // namespace
