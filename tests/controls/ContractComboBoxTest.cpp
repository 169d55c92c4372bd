// The contract search box: loading, the type-ahead search on each edit change, the choice on leaving the
// box and GetSelCode.
#include "tests/conditions/GuiHost.h"

#include "controls/ContractComboBox.h"
#include "controls/ControlMessages.h"
#include "host/dbm/MemRecord.h"

#include <QLineEdit>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using condtest::RecordingWnd;

constexpr int kId = 9011;

// Rows of (exchange, variety, variety name, code).
CMemRecord contracts(std::initializer_list<std::vector<std::string>> rows) {
    CMemRecord rec;
    rec.Create("JYS[C4],JYSMC[C20],ZQLB[C8],ZQLBMC[C20],ZQDM[C12],HYMC[C20]", 0);
    for (const auto& row : rows) {
        rec.Append(nullptr, 1);
        rec.Set("JYS", CString::FromUtf8(row.at(0)));
        rec.Set("ZQLB", CString::FromUtf8(row.at(1)));
        rec.Set("ZQLBMC", CString::FromUtf8(row.at(2)));
        rec.Set("ZQDM", CString::FromUtf8(row.at(3)));
        rec.Set("HYMC", CString::FromUtf8(row.at(3) + "合约"));
    }
    return rec;
}

class ContractComboTest : public ::testing::Test {
protected:
    ContractComboTest() {
        box.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT,
                   RECT{10, 10, 170, 200}, &host, kId);
        table = contracts({{"SQ", "cu", "铜", "cu2502"},
                           {"DS", "m", "豆粕", "m2505"},
                           {"SQ", "cu", "铜", "CU2501"},
                           {"SQ", "al", "铝", "al2501"},
                           {"SQ", "cu", "铜", "cu2503"}});
    }

    // The edit text as the user left it, then the edit-change notification as the box raises it.
    void Edit(const char* text, int selStart = -2, int selEnd = -2) {
        box.SetWindowText(text);
        if (selStart != -2)
            box.SetEditSel(selStart, selEnd);
        host.SendMessage(WM_COMMAND, MAKEWPARAM(kId, CBN_EDITCHANGE), reinterpret_cast<LPARAM>(box.m_hWnd));
    }
    void Leave() {
        host.SendMessage(WM_COMMAND, MAKEWPARAM(kId, CBN_KILLFOCUS), reinterpret_cast<LPARAM>(box.m_hWnd));
    }
    std::vector<std::string> List() {
        std::vector<std::string> out;
        for (int i = 0; i < box.GetCount(); ++i) {
            CString text;
            box.GetLBText(i, text);
            out.push_back(text.ToUtf8());
        }
        return out;
    }
    QLineEdit* EditField() { return box.m_hWnd->findChild<QLineEdit*>(); }

    RecordingWnd host;
    CContractComboBox box;
    CMemRecord table;
};

TEST_F(ContractComboTest, BeforeLoadingNothingIsSearchedOrSelected) {
    EXPECT_EQ(box.GetListKind(), 0);
    EXPECT_EQ(box.GetSelCode(), "");
    Edit("  cu ");
    EXPECT_EQ(box.GetCount(), 0);
    EXPECT_EQ(box.GetWindowText(), "cu");
    EXPECT_FALSE(box.GetDroppedState());
    CContractComboBox windowless;
    EXPECT_EQ(windowless.LoadContracts(&table), 1);
    EXPECT_EQ(windowless.GetSelCode(), "") << "no window, no selection";
    EXPECT_EQ(windowless.GetCurSel(), CB_ERR);
    EXPECT_EQ(windowless.GetCount(), 0);
}

TEST_F(ContractComboTest, LoadingListsCodesInRecordOrderWithTheirKeys) {
    EXPECT_EQ(box.LoadContracts(&table), 1);
    EXPECT_EQ(box.GetListKind(), CContractComboBox::kLoaded);
    EXPECT_EQ(List(), (std::vector<std::string>{"cu2502", "m2505", "CU2501", "al2501", "cu2503"}));
    for (int i = 0; i < box.GetCount(); ++i)
        EXPECT_EQ(box.GetItemData(i), static_cast<DWORD_PTR>(i));
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(box.GetSelCode(), "");
    EXPECT_EQ(box.FindContract(1)->strVarietyName, GBK("豆粕"));

    // A reload replaces the store; an empty record set leaves it empty.
    CMemRecord empty = contracts({});
    box.ResetContent();
    EXPECT_EQ(box.LoadContracts(&empty), 1);
    EXPECT_EQ(box.GetContractCount(), 0);
    EXPECT_EQ(box.GetCount(), 0);
    Leave();
    EXPECT_EQ(box.GetSelCode(), "");
}

TEST_F(ContractComboTest, PrefixInAnyCaseWithBlanksAround) {
    box.LoadContracts(&table);
    Edit(" cU ", 3, 3);
    EXPECT_EQ(List(), (std::vector<std::string>{"CU2501", "cu2502", "cu2503"}));
    EXPECT_EQ(box.GetWindowText(), "cU");
    EXPECT_TRUE(box.GetDroppedState());
    EXPECT_EQ(box.GetCurSel(), -1);
    // The entries keep the keys of their contracts, in sort order now.
    EXPECT_EQ(box.GetItemData(0), 2u);
    EXPECT_EQ(box.GetItemData(1), 0u);

    Edit("cu", 1, 2);
    EXPECT_EQ(box.GetEditSel(), static_cast<DWORD>(MAKELPARAM(1, 2))) << "the selection is put back";
    EXPECT_EQ(host.Commands(CBN_EDITCHANGE), 0) << "the parent never sees the box's own notifications";
}

TEST_F(ContractComboTest, WholeCodeMatchesLongerTextDoesNot) {
    box.LoadContracts(&table);
    Edit("al2501");
    EXPECT_EQ(List(), (std::vector<std::string>{"al2501"}));
    Edit("al25011");
    EXPECT_TRUE(List().empty());
}

TEST_F(ContractComboTest, BlankTextListsCodeAndVarietySortedWithoutOpening) {
    box.LoadContracts(&table);
    Edit("   ");
    EXPECT_EQ(List(),
              (std::vector<std::string>{"al2501 铝", "CU2501 铜", "cu2502 铜", "cu2503 铜", "m2505 豆粕"}));
    EXPECT_FALSE(box.GetDroppedState());
    EXPECT_EQ(box.GetWindowText(), "");
    Leave();
    EXPECT_EQ(box.GetCurSel(), -1) << "leaving with blank text selects nothing";
    EXPECT_EQ(box.GetSelCode(), "");
}

TEST_F(ContractComboTest, BlankTextListFollowsEachLoadWithItsKeys) {
    box.LoadContracts(&table);
    Edit("");
    Edit("cu");
    Edit(" ");
    ASSERT_EQ(List(),
              (std::vector<std::string>{"al2501 铝", "CU2501 铜", "cu2502 铜", "cu2503 铜", "m2505 豆粕"}));
    const std::vector<DWORD_PTR> keys{3, 2, 0, 4, 1};
    for (int i = 0; i < box.GetCount(); ++i)
        EXPECT_EQ(box.GetItemData(i), keys[static_cast<std::size_t>(i)]) << i;
    box.SetCurSel(1);
    EXPECT_EQ(box.GetSelCode(), "CU2501");

    // Another load: the blank list is the new store's, not the one shown before.
    CMemRecord other = contracts({{"DS", "y", "豆油", "y2509"}, {"SQ", "AU", "金", "AU2506"}});
    box.ResetContent();
    box.LoadContracts(&other);
    Edit("");
    EXPECT_EQ(List(), (std::vector<std::string>{"AU2506 金", "y2509 豆油"}));
    EXPECT_EQ(box.GetItemData(0), 1u);
}

TEST(ContractComboUnsortedTest, BlankTextInAnUnsortedBoxKeepsRecordOrder) {
    RecordingWnd host;
    CContractComboBox box;
    box.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, RECT{0, 0, 100, 100}, &host, kId);
    CMemRecord table = contracts({{"SQ", "cu", "铜", "cu2502"}, {"SQ", "al", "铝", "al2501"}});
    box.LoadContracts(&table);
    box.SetWindowText("");
    host.SendMessage(WM_COMMAND, MAKEWPARAM(kId, CBN_EDITCHANGE), reinterpret_cast<LPARAM>(box.m_hWnd));
    ASSERT_EQ(box.GetCount(), 2);
    CString first;
    box.GetLBText(0, first);
    EXPECT_EQ(first.ToUtf8(), "cu2502 铜");
    EXPECT_EQ(box.GetItemData(1), 1u);
}

TEST_F(ContractComboTest, NoMatchLeavesAnOpenEmptyListThenClearsOnLeaving) {
    box.LoadContracts(&table);
    Edit("zz");
    EXPECT_EQ(box.GetCount(), 0);
    EXPECT_TRUE(box.GetDroppedState());
    Leave();
    EXPECT_EQ(box.GetWindowText(), "");
    EXPECT_EQ(box.GetSelCode(), "");
}

TEST_F(ContractComboTest, LeavingWithAPrefixSelectsTheFirstMatchAndTellsTheParent) {
    box.LoadContracts(&table);
    Edit("c");
    Leave();
    EXPECT_EQ(box.GetCurSel(), 0);
    EXPECT_EQ(box.GetWindowText(), "CU2501");
    EXPECT_EQ(box.GetSelCode(), "CU2501");
    const auto moved = host.Of(UM_SPLITTER_MOVED);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].wParam, static_cast<WPARAM>(kId));
    EXPECT_EQ(moved[0].lParam, reinterpret_cast<LPARAM>(box.m_hWnd));
    EXPECT_EQ(host.Commands(CBN_KILLFOCUS), 0);
}

TEST_F(ContractComboTest, SelCodeReportsTheEntryNeverTheTypedText) {
    box.LoadContracts(&table);
    box.SetCurSel(1);
    EXPECT_EQ(box.GetSelCode(), "m2505");
    box.SetWindowText("cu2502");
    EXPECT_EQ(box.GetSelCode(), "m2505");
    box.SetItemData(1, 999);
    EXPECT_EQ(box.GetSelCode(), "") << "a key missing from the store";
}

TEST_F(ContractComboTest, RealTypingNarrowsTheOpenListKeyByKey) {
    box.LoadContracts(&table);
    host.m_hWnd->show();
    box.SetFocus();
    QTest::keyClick(EditField(), Qt::Key_C);
    ASSERT_TRUE(box.GetDroppedState());
    // The list is open now: the next keys travel through it to the edit field.
    QListView* list = box.m_hWnd->findChild<QListView*>();
    ASSERT_NE(list, nullptr);
    QTest::keyClicks(list, "u25");
    EXPECT_EQ(box.GetWindowText(), "cu25");
    EXPECT_EQ(List(), (std::vector<std::string>{"CU2501", "cu2502", "cu2503"}));
    EXPECT_EQ(EditField()->cursorPosition(), 4);
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(box.GetWindowText(), "cu2");
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(box.GetDroppedState());
    EXPECT_EQ(box.GetSelCode(), "cu2502");
    host.m_hWnd->hide();
}

TEST(ContractComboLifeTest, DestroyedWithItsListOpenItTellsNobody) {
    RecordingWnd host;
    {
        CContractComboBox box;
        box.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWN | CBS_SORT, RECT{0, 0, 100, 100}, &host, kId);
        box.AddString("cu2501");
        box.ShowDropDown(TRUE);
        ASSERT_TRUE(box.GetDroppedState());
    }
    EXPECT_EQ(host.Commands(CBN_CLOSEUP), 0);
    EXPECT_EQ(host.Commands(CBN_SELENDCANCEL), 0);
}

} // namespace
