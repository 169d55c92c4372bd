// The query window: what it shows at start, its layout arithmetic, the keys F1 to F6 and Enter, and the
// detail query raised from the rule lists.
#include "WindowTestSupport.h"

#include "host/gui/RecordTableModel.h"
#include "platform/WndInternal.h"
#include "query/RuleRecordLayouts.h"
#include "res/Resource.h"

#include <QCursor>
#include <QPushButton>
#include <QTabBar>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using windowtest::QueryWindowTest;
using windowtest::RectInParent;

TEST_F(QueryWindowTest, CancelAtStartLeavesSixEmptyListsWithTabZeroShown) {
    dlg.m_strTitle = CString::FromUtf8("委托查询甲");
    RunWindow({Cancel()}, [&] {
        EXPECT_EQ(conditionOpenings, 1) << "the conditions dialog opens with the window";
        EXPECT_TRUE(dlg.IsZoomed());
        EXPECT_EQ(dlg.GetWindowText(), CString::FromUtf8("委托查询甲"));
        ASSERT_EQ(dlg.m_tabKinds.GetItemCount(), ORDER_KIND_COUNT);
        EXPECT_EQ(dlg.m_tabKinds.GetItemText(2), CString::FromUtf8("成交触发单[F3]"));
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 0);
        const int columns[ORDER_KIND_COUNT] = {22, 25, 27, 33, 18, 26};
        for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind) {
            SCOPED_TRACE(kind);
            EXPECT_EQ(dlg.RuleRecord(kind).GetFieldCount(), columns[kind]);
            EXPECT_EQ(dlg.RuleRecord(kind).GetRecordCount(), 0);
            EXPECT_EQ(dlg.RuleList(kind).GetRecord(), &dlg.RuleRecord(kind));
            EXPECT_EQ(dlg.RuleList(kind).IsWindowVisible(), kind == 0);
            EXPECT_FALSE(dlg.RuleList(kind).GetCanShowTip());
        }
        EXPECT_EQ(dlg.m_recDetail.GetFieldCount(), 20);
        EXPECT_EQ(dlg.m_listDetail.GetRecord(), &dlg.m_recDetail);
        EXPECT_EQ(CWnd::GetFocus(), &dlg.m_listPriceTrigger);
        for (std::uint32_t function : {16476u, 16477u, 16479u, 16485u, 16486u, 16151u, 16171u})
            EXPECT_EQ(RequestCount(function), 0u) << "Cancel queries nothing: " << function;
    });
}

TEST_F(QueryWindowTest, EmptyModuleNameKeepsTheTemplateTitle) {
    RunWindow({Cancel()}, [&] { EXPECT_EQ(dlg.GetWindowText(), CString::FromUtf8("扩展委托查询")); });
}

TEST_F(QueryWindowTest, OkAtStartQueriesTabZeroAndTheQueryButtonAsksAgain) {
    Reply(16476, {windowtest::PriceTriggerRow("010100000001", 11, 1),
                  windowtest::PriceTriggerRow("010100000002", 12, 0)});
    auto expired = Ok();
    expired.conditions.m_strValidity = "1";
    expired.conditions.m_strBeginDate = "2026.12.01";
    expired.conditions.m_strEndDate = "2026.12.06";
    RunWindow({Ok(), Cancel(), expired}, [&] {
        ASSERT_EQ(RequestCount(16476), 1u);
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 2);
        EXPECT_EQ(dlg.m_listPriceTrigger.Model()->rowCount(), 2);
        EXPECT_EQ(CWnd::GetFocus(), &dlg.m_listPriceTrigger);

        // Query, then Cancel: nothing is sent and the rows stay.
        dlg.GetDlgItem(IDC_BTN_QUERY)->SendMessage(BM_CLICK);
        EXPECT_EQ(conditionOpenings, 2);
        EXPECT_EQ(RequestCount(16476), 1u);
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 2);

        // Query, then OK with new conditions: the selected tab is queried with them.
        dlg.GetDlgItem(IDC_BTN_QUERY)->SendMessage(BM_CLICK);
        const auto requests = server.Requests(16476);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Value("9020"), "1");
        EXPECT_EQ(requests[1].Value("618"), "2026.12.01");
        EXPECT_EQ(requests[1].Value("590"), "2026.12.06");
    });
}

TEST_F(QueryWindowTest, TheConditionsDialogsOwnOkDecidesWhatTheFirstQuerySends) {
    auto ok = Ok();
    ok.pressButton = true;
    RunWindow({ok}, [&] {
        const auto requests = server.Requests(16476);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Keys(), (std::vector<std::string>{"697", "9020", "1842"}));
        EXPECT_EQ(requests[0].Value("9020"), "0") << "within validity is the dialog's default";
        EXPECT_EQ(dlg.m_dlgCondition.m_strValidity, "0");
    });
}

TEST_F(QueryWindowTest, LayoutFollowsTheClientSize) {
    RunWindow({Cancel()}, [&] {
        ResizeClient(1000, 700);
        CRect client;
        dlg.GetClientRect(client);
        ASSERT_EQ(client.Height(), 700);
        ASSERT_EQ(client.Width(), 1000);

        const CRect tab = RectInParent(dlg.m_tabKinds);
        const CRect bar = RectInParent(dlg.m_wndSplitter);
        const CRect detail = RectInParent(dlg.m_listDetail);
        EXPECT_EQ(tab.bottom, 432);
        EXPECT_EQ(tab.right, 985);
        EXPECT_EQ(bar.top, 433);
        EXPECT_EQ(bar.bottom, 453);
        EXPECT_EQ(bar.right, 985);
        EXPECT_EQ(detail.top, 453);
        EXPECT_EQ(detail.bottom, 650);
        EXPECT_EQ(detail.right, 985);
        for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind) {
            SCOPED_TRACE(kind);
            const CRect list = RectInParent(dlg.RuleList(kind));
            EXPECT_EQ(list, CRect(tab.left, tab.top + 25, tab.right - 15, tab.bottom - 15))
                << "hidden lists are laid out too";
        }
        // The buttons keep to the bottom right, below the detail list.
        for (int id : {IDC_BTN_QUERY, IDCANCEL}) {
            const CRect button = RectInParent(*dlg.GetDlgItem(id));
            EXPECT_GE(button.top, detail.bottom);
            EXPECT_LE(button.bottom, 700);
            EXPECT_GT(button.left, 1000 / 2);
        }

        // An odd height: every product is cut toward zero.
        ResizeClient(1000, 555);
        EXPECT_EQ(RectInParent(dlg.m_tabKinds).bottom, 342); // 342.99
        EXPECT_EQ(RectInParent(dlg.m_wndSplitter).top, 343);
        EXPECT_EQ(RectInParent(dlg.m_listDetail).top, 363);
        EXPECT_EQ(RectInParent(dlg.m_listDetail).bottom, 505);
    });
}

TEST_F(QueryWindowTest, F3FromAnyControlSelectsTabTwoAndQueriesIt) {
    Reply(16486, {querytest::Row({{"797", "31"}, {"605", "010100000003"}})});
    RunWindow({Ok()}, [&] {
        QTabBar* tabBar = dlg.m_tabKinds.GetSafeHwnd()->findChild<QTabBar*>();
        ASSERT_NE(tabBar, nullptr);
        const std::vector<QWidget*> targets{
            dlg.m_listPriceTrigger.GetSafeHwnd(), dlg.m_listDetail.GetSafeHwnd(),
            dlg.GetDlgItem(IDC_BTN_QUERY)->GetSafeHwnd(), tabBar, dlg.m_listFillTrigger.GetSafeHwnd()};
        size_t expected = 0;
        for (QWidget* target : targets) {
            SCOPED_TRACE(target->property(orvo::kPropKind).toString().toStdString());
            // Leave tab 0 with some detail rows on screen, which the switch must clear.
            dlg.m_tabKinds.SetCurSel(0);
            dlg.m_recDetail.Append(nullptr, 1);
            target->setFocus();
            QTest::keyClick(target, Qt::Key_F3);
            ++expected;
            EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 2);
            EXPECT_EQ(RequestCount(16486), expected);
            EXPECT_EQ(dlg.m_recFillTrigger.GetRecordCount(), 1);
            EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 0);
            for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind)
                EXPECT_EQ(dlg.RuleList(kind).IsWindowVisible(), kind == KIND_FILL_TRIGGER) << kind;
            EXPECT_EQ(CWnd::GetFocus(), &dlg.m_listFillTrigger);
        }
        // F6 and F1 likewise; F7 is not a tab key.
        QTest::keyClick(dlg.m_listFillTrigger.GetSafeHwnd(), Qt::Key_F6);
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 5);
        EXPECT_EQ(RequestCount(16485), 1u);
        QTest::keyClick(dlg.m_listLinked.GetSafeHwnd(), Qt::Key_F7);
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 5);
        QTest::keyClick(dlg.m_listLinked.GetSafeHwnd(), Qt::Key_F1);
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 0);
        EXPECT_EQ(RequestCount(16476), 2u) << "at start and for F1";
    });
}

TEST_F(QueryWindowTest, ClickingATabQueriesItWithTheLastConfirmedConditions) {
    auto cond = Ok();
    cond.conditions.m_strCustomer = "010100000009";
    RunWindow({cond}, [&] {
        QTabBar* tabBar = dlg.m_tabKinds.GetSafeHwnd()->findChild<QTabBar*>();
        QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(1).center());
        EXPECT_EQ(dlg.m_tabKinds.GetCurSel(), 1);
        const auto requests = server.Requests(16477);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Value("605"), "010100000009");
        EXPECT_TRUE(dlg.m_listStopProfit.IsWindowVisible());
        EXPECT_FALSE(dlg.m_listPriceTrigger.IsWindowVisible());
    });
}

TEST_F(QueryWindowTest, EnterInARuleListQueriesTheDetailOfTheSelectedRow) {
    Reply(16476, {windowtest::PriceTriggerRow("010100000001", 11, 1),
                  windowtest::PriceTriggerRow("010100000002", 12, 2)});
    Reply(16151, {querytest::Row({{"605", "010100000001"}, {"681", "901"}, {"755", ""}}),
                  querytest::Row({{"605", "010100000001"}, {"681", "902"}, {"755", "W"}}),
                  querytest::Row({{"605", "010100000001"}, {"681", "903"}})});
    RunWindow({Ok()}, [&] {
        ASSERT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 2);
        dlg.m_listPriceTrigger.SetCurSel(0);
        dlg.m_recPriceTrigger.Go(1); // the selected line decides, not where the cursor was left
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_Return);
        auto requests = server.Requests(16151);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Keys(), (std::vector<std::string>{"605", "1855", "1842"}));
        EXPECT_EQ(requests[0].Value("605"), "010100000001");
        EXPECT_EQ(requests[0].Value("1855"), "11");
        EXPECT_EQ(requests[0].Value("1842"), "2");
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 2) << "the row flagged W is not listed";
        EXPECT_EQ(dlg.m_listDetail.Model()->rowCount(), 2);

        // Enter in the detail list or on the tab control does not query the detail.
        QTest::keyClick(dlg.m_listDetail.GetSafeHwnd(), Qt::Key_Return);
        QTest::keyClick(dlg.m_tabKinds.GetSafeHwnd()->findChild<QTabBar*>(), Qt::Key_Return);
        EXPECT_EQ(RequestCount(16151), 1u);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 2);

        // A double-click in the detail list makes its row current and queries nothing.
        QTableView* detail = dlg.m_listDetail.View();
        const QPoint second = detail->visualRect(detail->model()->index(1, 0)).center();
        QTest::mouseClick(detail->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(detail->viewport(), Qt::LeftButton, {}, second);
        EXPECT_EQ(RequestCount(16151), 1u);
        EXPECT_EQ(dlg.m_listDetail.GetCurSel(), 1);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 2);

        // A double-click on the second row (as the view reports it) asks for its detail.
        QTableView* view = dlg.m_listPriceTrigger.View();
        emit view->doubleClicked(view->model()->index(1, 0));
        requests = server.Requests(16151);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Value("1855"), "12");
    });
}

TEST_F(QueryWindowTest, DetailIsRefusedForARuleThatHasNotFiredAndPostedToTheTabItArrives) {
    Reply(16476, {windowtest::PriceTriggerRow("010100000001", 11, 0)});
    Reply(16477, {querytest::Row({{"797", "21"}, {"605", "010100000002"}, {"727", "0"}})});
    Reply(16151, {querytest::Row({{"605", "010100000002"}, {"681", "777"}})});
    RunWindow({Ok()}, [&] {
        // F1: trigger state 0, no request, the detail list is emptied.
        dlg.m_recDetail.Append(nullptr, 1);
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_Return);
        EXPECT_EQ(RequestCount(16151), 0u);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 0);

        // F2 looks at no trigger state. The list posts its message to the tab control; the window answers.
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_F2);
        ASSERT_EQ(dlg.m_recStopProfit.GetRecordCount(), 1);
        dlg.m_tabKinds.PostMessage(UM_QUERY_DETAIL, 0, 0);
        QApplication::processEvents();
        const auto requests = server.Requests(16151);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Value("1842"), "3");
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 1);
    });
}

TEST_F(QueryWindowTest, WithoutATabNothingIsQueriedButTheDetailIsEmptied) {
    RunWindow({Ok()}, [&] {
        const size_t sent = server.Requests().size();
        dlg.m_tabKinds.DeleteAllItems();
        dlg.m_recDetail.Append(nullptr, 1);
        EXPECT_EQ(dlg.RefreshCurrentKind(), 0);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 0);
        dlg.m_recDetail.Append(nullptr, 1);
        EXPECT_EQ(dlg.SendMessage(UM_QUERY_DETAIL), 1);
        EXPECT_EQ(dlg.m_recDetail.GetRecordCount(), 0);
        EXPECT_EQ(server.Requests().size(), sent);
    });
}

TEST_F(QueryWindowTest, TheWaitCursorShowsWhileARequestWaitsAndGoesAfter) {
    Reply(16477, {querytest::Row({{"797", "21"}, {"605", "010100000002"}})});
    Reply(16151, {});
    std::vector<std::pair<long, bool>> waiting; // (function, wait cursor shown) at each request sent
    fix.SetTraceCallback([&waiting](const FixCommTraceEvent& event) {
        if (event.kind == FixCommTraceEvent::Request && event.function >= 1000) {
            const QCursor* cursor = QApplication::overrideCursor();
            waiting.emplace_back(event.function, cursor && cursor->shape() == Qt::WaitCursor);
        }
    });
    RunWindow({Ok()}, [&] {
        QTest::keyClick(dlg.m_listPriceTrigger.GetSafeHwnd(), Qt::Key_F2);
        QTest::keyClick(dlg.m_listStopProfit.GetSafeHwnd(), Qt::Key_Return);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    });
    fix.SetTraceCallback(nullptr);
    const std::vector<std::pair<long, bool>> expected{{16476, true}, {16477, true}, {16151, true}};
    std::vector<std::pair<long, bool>> queries;
    for (const auto& sent : waiting)
        if (sent.first != 15016) // the conditions dialog's own permission request
            queries.push_back(sent);
    EXPECT_EQ(queries, expected);
}

TEST_F(QueryWindowTest, TheBarIsPaintedGoldOnSlateWithOneBrush) {
    RunWindow({Cancel()}, [&] {
        CDC dc(dlg.m_wndSplitter.GetSafeHwnd());
        const auto brush = reinterpret_cast<HBRUSH>(
            dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(&dc),
                            reinterpret_cast<LPARAM>(dlg.m_wndSplitter.GetSafeHwnd())));
        ASSERT_NE(brush, nullptr);
        EXPECT_EQ(brush->color, 0x008B704Au);
        EXPECT_EQ(dc.GetTextColor(), 0x0000D7FFu);
        EXPECT_EQ(dc.GetBkColor(), 0x008B704Au);
        CDC again(dlg.m_wndSplitter.GetSafeHwnd());
        EXPECT_EQ(reinterpret_cast<HBRUSH>(
                      dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(&again),
                                      reinterpret_cast<LPARAM>(dlg.m_wndSplitter.GetSafeHwnd()))),
                  brush)
            << "one brush for the life of the window";

        // Another static keeps the base's colours.
        CDC other(dlg.GetDlgItem(IDC_BTN_QUERY)->GetSafeHwnd());
        const auto otherBrush = reinterpret_cast<HBRUSH>(
            dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(&other),
                            reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_BTN_QUERY)->GetSafeHwnd())));
        EXPECT_NE(otherBrush, brush);
        EXPECT_FALSE(other.HasTextColor());
    });
}

} // namespace
