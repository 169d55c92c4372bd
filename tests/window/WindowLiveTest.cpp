// The live window: a refresh asks only for the changes since the last answer and merges them into the
// list in place, keeping the user's sort, filter, selection and scroll position, and marking what moved;
// an older server gets the full query as before.
#include "WindowTestSupport.h"

#include "host/cfg/OrvoIni.h"
#include "host/gui/ListRowOrder.h"
#include "host/gui/RecordTableModel.h"
#include "query/LiveRetry.h"
#include "res/Resource.h"

#include <QScrollBar>
#include <QTableView>

#include <gtest/gtest.h>

extern COrvoIni* g_pIni;

namespace {

using namespace windowtest;
using orvo::test::FakeReply;

querytest::FakeItems Rule(long serial, const std::string& customer, long lots) {
    return querytest::Row({{"797", std::to_string(serial)},
                           {"605", customer},
                           {"613", "客户甲"},
                           {"727", "0"},
                           {"719", "cu2501"},
                           {"683", "1"},
                           {"684", std::to_string(lots)},
                           {"7107", "2026.12.07"},
                           {"1240", "2026.12.31"},
                           {"7153", "2"}});
}

// Two hundred rules, 100..299: even ones of customer 0101..., odd ones of 0202..., 1 to 7 lots.
std::vector<querytest::FakeItems> Rules() {
    std::vector<querytest::FakeItems> rows;
    for (long i = 0; i < 200; ++i)
        rows.push_back(Rule(100 + i, i % 2 ? "020200000001" : "010100000001", i % 7 + 1));
    return rows;
}

FakeReply Changes(std::vector<querytest::FakeItems> rows, const std::string& next, bool runFull = false) {
    FakeReply reply;
    reply.rows = std::move(rows);
    reply.endItems = {{"9102", next}};
    if (runFull)
        reply.endItems.emplace_back("9104", "1");
    return reply;
}

class WindowLiveTest : public QueryWindowTest {
protected:
    WindowLiveTest() {
        ini.SetValue("EXTORDERQUERY", "RefreshSeconds", "3600"); // live, the timer never due in a test
        g_pIni = &ini;
    }
    ~WindowLiveTest() override { g_pIni = nullptr; }

    long SerialAt(long recordRow) const {
        return dlg.m_recPriceTrigger.GetLong("LSH", static_cast<int>(recordRow));
    }

    COrvoIni ini;
};

TEST_F(WindowLiveTest, ChangesMergeInPlaceKeepingSortFilterSelectionAndScrollAndAreMarked) {
    server.ScriptOnce(16500, Changes({}, "r1", true)); // the revision asked before the full query
    Reply(16476, Rules());
    RunWindow({Ok()}, [&] {
        ASSERT_TRUE(dlg.IsLive());
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        list.SortByColumn(dlg.m_recPriceTrigger.FindField(GBK("委手")), false);
        dlg.OpenFind();
        dlg.GetDlgItem(IDC_EDIT_FILTER)->SetWindowText("0101"); // the find field filters the list
        ASSERT_EQ(list.GetShownRowCount(), 100);
        // Serials 110 and 112 selected, 112 current; the list scrolled part-way.
        const long row110 = 10, row112 = 12;
        list.SelectRecordRows({row110, row112}, row112);
        list.View()->verticalScrollBar()->setValue(20);
        const int scroll = list.View()->verticalScrollBar()->value();

        // 104 changes to 7 lots and 102 to its same cells, 300 (0101) and 301 (0202) are new, 106 left.
        server.ScriptOnce(16500, Changes({Rule(104, "010100000001", 7), Rule(102, "010100000001", 3),
                                          Rule(300, "010100000001", 5), Rule(301, "020200000001", 2),
                                          querytest::Row({{"797", "106"}, {"9103", "1"}})},
                                         "r2"));
        ASSERT_TRUE(dlg.RefreshIfIdle());

        const auto asked = server.Requests(16500);
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_FALSE(asked[0].Has("9101")) << "the first asks for a revision only";
        EXPECT_EQ(asked[1].Value("1842"), "2");
        EXPECT_EQ(asked[1].Value("9101"), "r1");
        EXPECT_EQ(asked[1].Value("9020"), "0") << "the conditions of the full query";
        EXPECT_EQ(RequestCount(16476), 1u) << "no full query on a refresh";

        CMemRecord& record = dlg.m_recPriceTrigger;
        ASSERT_EQ(record.GetRecordCount(), 201);
        // The lines are exactly those a fresh sort and filter would give.
        orvo::ListRowOrder fresh;
        fresh.SetSort(record.FindField(GBK("委手")), false);
        fresh.Rebuild(record);
        std::vector<int> columns;
        for (int c = 0; c < list.GetShownColumnCount(); ++c)
            columns.push_back(c);
        fresh.SetFilter(record, "0101", columns);
        EXPECT_EQ(list.GetShownRecordRows(), fresh.RecordRows());
        EXPECT_EQ(list.GetFilterText(), CString("0101"));

        // Selection, current row and scroll position stay; the rows after 106 moved up one.
        std::vector<long> selected;
        for (const long row : list.GetSelectedRecordRows())
            selected.push_back(SerialAt(row));
        EXPECT_EQ(selected.size(), 2u);
        EXPECT_NE(std::find(selected.begin(), selected.end(), 110), selected.end());
        EXPECT_NE(std::find(selected.begin(), selected.end(), 112), selected.end());
        EXPECT_EQ(record.GetLong("LSH"), 112);
        EXPECT_EQ(list.View()->verticalScrollBar()->value(), scroll);

        // Marked: 104 changed, 300 and 301 new; 102 came with the same cells.
        std::vector<long> marked;
        for (const long row : list.GetMarkedRecordRows())
            marked.push_back(SerialAt(row));
        std::sort(marked.begin(), marked.end());
        EXPECT_EQ(marked, (std::vector<long>{104, 300, 301}));
        const int line104 = list.Model()->LineOf(4); // serial 104
        ASSERT_GE(line104, 0);
        EXPECT_TRUE(list.Model()->index(line104, 0).data(Qt::BackgroundRole).isValid()) << "tinted";
        EXPECT_FALSE(list.Model()->index(list.Model()->LineOf(0), 0).data(Qt::BackgroundRole).isValid());
        EXPECT_NE(dlg.GetStatusText().Find(CString::FromUtf8("实时")), -1);
        EXPECT_NE(dlg.GetStatusText().Find(CString::FromUtf8("变动 4")), -1) << dlg.GetStatusText().ToUtf8();

        // The server asks for the full query: it runs, and its revision is the one asked from next.
        server.ScriptOnce(16500, Changes({}, "r3", true));
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(RequestCount(16476), 2u);
        EXPECT_EQ(list.GetFilterText(), CString("0101"));
        server.ScriptOnce(16500, Changes({}, "r4"));
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(server.Requests(16500).back().Value("9101"), "r3");
    });
}

TEST_F(WindowLiveTest, TheRowReadAtTheTopHoldsStillWhileRowsComeAndGoAboveIt) {
    server.ScriptOnce(16500, Changes({}, "r1", true));
    Reply(16476, Rules());
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        QTableView& view = *list.View();
        list.SortByColumn(dlg.m_recPriceTrigger.FindField(GBK("流水号")), true);
        const long selected = list.Model()->RecordRow(60); // serial 160, below the top
        list.SelectRecordRows({selected}, selected);
        view.scrollTo(list.Model()->index(50, 0), QAbstractItemView::PositionAtTop);
        ASSERT_EQ(SerialAt(list.GetTopRecordRow()), 150);
        const int y = view.rowViewportPosition(50);

        // Three rules come above it and one leaves above it; one above it changes.
        server.ScriptOnce(16500, Changes({Rule(10, "010100000001", 1), Rule(11, "010100000001", 1),
                                          Rule(12, "010100000001", 1), Rule(130, "010100000001", 7),
                                          querytest::Row({{"797", "120"}, {"9103", "1"}})},
                                         "r2"));
        ASSERT_TRUE(dlg.RefreshIfIdle());
        ASSERT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 202);
        EXPECT_EQ(SerialAt(list.GetTopRecordRow()), 150) << "the row read stays at the top";
        EXPECT_EQ(view.rowViewportPosition(list.Model()->LineOf(list.GetTopRecordRow())), y);
        ASSERT_EQ(list.GetSelectedRecordRows().size(), 1u);
        EXPECT_EQ(SerialAt(list.GetSelectedRecordRows()[0]), 160) << "and the selection with its row";

        // At the top of the list, new rows come above as its new start.
        view.verticalScrollBar()->setValue(0);
        server.ScriptOnce(16500, Changes({Rule(5, "010100000001", 1)}, "r3"));
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(SerialAt(list.GetTopRecordRow()), 5);
    });
}

TEST_F(WindowLiveTest, AFailingRefreshKeepsTheRowsGreyedAndGoesBackToChangesWhenTheServerAnswers) {
    server.ScriptOnce(16500, Changes({}, "r1", true));
    Reply(16476, Rules());
    RunWindow({Ok()}, [&] {
        COrvoListCtrl& list = dlg.m_listPriceTrigger;
        ASSERT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 200);
        // The server drops the connection on two ticks in a row: the rows stay, greyed, marked once.
        FakeReply lost;
        lost.fault = FakeReply::Fault::Close;
        server.ScriptOnce(16500, lost);
        server.ScriptOnce(16500, lost);
        for (int tick = 0; tick < 2; ++tick) {
            ASSERT_TRUE(dlg.RefreshIfIdle());
            EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 200);
            EXPECT_EQ(list.GetShownRowCount(), 200);
            EXPECT_TRUE(list.IsStale());
            EXPECT_TRUE(list.Model()->index(0, 0).data(Qt::ForegroundRole).isValid()) << "drawn greyed";
            const CString status = dlg.GetStatusText();
            EXPECT_EQ(status.Find(CString::FromUtf8("数据已过时，最后更新 ")), 0) << status.ToUtf8();
            EXPECT_EQ(status.Find(CString::FromUtf8("数据已过时"), 1), -1) << "said once";
            EXPECT_TRUE(dlg.IsStatusAlert());
        }
        EXPECT_EQ(RequestCount(16476), 1u) << "no full query while the server is away";

        // It answers again: changes since the revision held, the marker gone, "已恢复" once.
        server.ScriptOnce(16500, Changes({Rule(104, "010100000001", 7)}, "r2"));
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(server.Requests(16500).back().Value("9101"), "r1");
        EXPECT_FALSE(list.IsStale());
        EXPECT_FALSE(list.Model()->index(0, 0).data(Qt::ForegroundRole).isValid());
        EXPECT_EQ(dlg.GetStatusText().Find(CString::FromUtf8("已恢复  显示 200/200 行")), 0)
            << dlg.GetStatusText().ToUtf8();
        server.ScriptOnce(16500, Changes({}, "r3"));
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(dlg.GetStatusText().Find(CString::FromUtf8("已恢复")), -1) << dlg.GetStatusText().ToUtf8();
    });
}

TEST(LiveRetryTest, TriesOnTheNextTickThenBacksOffToTheBoundWhileTheFailureLasts) {
    CLiveRetry retry(2, 30); // a tick every 2 s, a try at least every 30 s
    std::vector<int> tries;  // the ticks that tried, over 60 ticks of failure
    for (int tick = 1; tick <= 60; ++tick)
        if (retry.TickDue()) {
            tries.push_back(tick);
            retry.Failed();
        }
    EXPECT_EQ(tries, (std::vector<int>{1, 2, 4, 8, 16, 31, 46})) << "then every 15 ticks (30 s)";
    retry.Succeeded();
    EXPECT_TRUE(retry.TickDue());
    retry.Failed();
    EXPECT_TRUE(retry.TickDue()) << "a new failure starts again from one tick";
    CLiveRetry slow(3600, 30); // a tick rarer than the bound: every tick tries
    slow.Failed();
    slow.Failed();
    EXPECT_TRUE(slow.TickDue());
}

TEST_F(WindowLiveTest, AnOlderServerGetsTheFullQueryOnEveryRefresh) {
    Reply(16476, Rules()); // no 16500: "unknown function"
    RunWindow({Ok()}, [&] {
        EXPECT_FALSE(dlg.IsLive());
        ASSERT_TRUE(dlg.RefreshIfIdle());
        ASSERT_TRUE(dlg.RefreshIfIdle());
        EXPECT_EQ(server.Requests(16500).size(), 1u) << "asked once";
        EXPECT_EQ(RequestCount(16476), 3u);
        EXPECT_EQ(dlg.m_recPriceTrigger.GetRecordCount(), 200);
        EXPECT_EQ(dlg.GetListState(0).outcome, QueryOutcome::Ok);
    });
}

} // namespace
