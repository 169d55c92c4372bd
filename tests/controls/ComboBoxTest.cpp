// The platform combo box's Win32 semantics and the host's keyed and check combos built on it.
#include "tests/conditions/GuiHost.h"

#include "host/gui/OrvoCheckCombo.h"
#include "host/gui/OrvoComboBox.h"
#include "platform/ComboBox.h"
#include "platform/DateTimeCtrl.h"

#include <QLineEdit>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

using condtest::RecordingWnd;

constexpr DWORD kBase = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL;

std::vector<std::string> texts(HWND combo) {
    std::vector<std::string> out;
    for (const auto& entry : orvo::ReadComboState(combo).entries)
        out.push_back(entry.text.ToUtf8());
    return out;
}

QLineEdit* editOf(CWnd& combo) {
    return combo.m_hWnd->findChild<QLineEdit*>();
}

QListView* listOf(CWnd& combo) {
    return combo.m_hWnd->findChild<QListView*>();
}

class ComboTest : public ::testing::Test {
protected:
    RecordingWnd host;
    CComboBox combo;
    void Make(DWORD style) { ASSERT_TRUE(combo.Create(kBase | style, RECT{10, 10, 160, 120}, &host, 77)); }
};

TEST_F(ComboTest, SortedAddIsStableAndCaselessInsertKeepsTheIndex) {
    Make(CBS_DROPDOWN | CBS_SORT);
    for (const char* text : {"cu2502", "AL2501", "Cu2501", "al2501", "zn2501"})
        combo.SetItemData(combo.AddString(text), static_cast<DWORD_PTR>(text[0]));
    EXPECT_EQ(texts(combo), (std::vector<std::string>{"AL2501", "al2501", "Cu2501", "cu2502", "zn2501"}));
    // Item data travels with its entry, whatever the sorting did.
    for (int i = 0; i < combo.GetCount(); ++i) {
        CString text;
        combo.GetLBText(i, text);
        EXPECT_EQ(combo.GetItemData(i), static_cast<DWORD_PTR>(text[0]));
    }
    EXPECT_EQ(combo.InsertString(0, "zz"), 0);
    EXPECT_EQ(combo.InsertString(-1, "aa"), 6);
    EXPECT_EQ(combo.InsertString(9, "xx"), CB_ERR);
    EXPECT_EQ(texts(combo).front(), "zz");
    EXPECT_EQ(texts(combo).back(), "aa");
}

TEST_F(ComboTest, LargeSortedListsStayInOrderAcrossInsertionsAndDeletions) {
    Make(CBS_DROPDOWN | CBS_SORT);
    // Thousands of entries in a scrambled order, with equal texts in different case.
    std::vector<std::string> added;
    for (int i = 0; i < 3000; ++i) {
        std::string text = (i % 3 ? "cu" : "CU") + std::to_string((i * 7919) % 1000);
        combo.SetItemData(combo.AddString(text.c_str()), static_cast<DWORD_PTR>(i));
        added.push_back(text);
    }
    // In the middle, at the ends, and out again.
    combo.SetItemData(combo.InsertString(1500, "mid"), 9001);
    combo.SetItemData(combo.InsertString(0, "first"), 9000);
    combo.DeleteString(1501); // "mid", one further on now
    ASSERT_EQ(combo.GetCount(), 3001);
    CString text;
    combo.GetLBText(0, text);
    EXPECT_EQ(text, "first");
    EXPECT_EQ(combo.GetItemData(0), 9000u);
    const std::vector<std::string> listed = texts(combo);
    std::vector<std::pair<std::string, int>> expected; // stable: equal texts keep the order they came in
    for (int i = 0; i < 3000; ++i) {
        std::string folded = added[static_cast<std::size_t>(i)];
        for (char& ch : folded)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        expected.emplace_back(folded, i);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (int i = 0; i < 3000; ++i) {
        const int id = expected[static_cast<std::size_t>(i)].second;
        ASSERT_EQ(listed[static_cast<std::size_t>(i) + 1], added[static_cast<std::size_t>(id)]) << i;
        ASSERT_EQ(combo.GetItemData(i + 1), static_cast<DWORD_PTR>(id)) << i;
    }
    EXPECT_EQ(combo.FindStringExact(-1, "cu7"),
              1 + static_cast<int>(std::find_if(expected.begin(), expected.end(),
                                                [](const auto& e) { return e.first == "cu7"; }) -
                                   expected.begin()));
}

// A batch lands exactly where AddString and SetItemData, one entry after another, would put it.
class ComboBatchTest : public ::testing::Test {
protected:
    RecordingWnd host;
    CComboBox oneByOne;
    CComboBox batched;

    void Make(DWORD style) {
        ASSERT_TRUE(oneByOne.Create(kBase | CBS_DROPDOWN | style, RECT{10, 10, 160, 120}, &host, 78));
        ASSERT_TRUE(batched.Create(kBase | CBS_DROPDOWN | style, RECT{10, 10, 160, 120}, &host, 79));
    }
    // The same entries into both boxes, the second box in one batch.
    void Add(const std::vector<ComboBatchEntry>& entries) {
        for (const ComboBatchEntry& entry : entries)
            oneByOne.SetItemData(oneByOne.AddString(entry.text), entry.data);
        EXPECT_EQ(batched.AddStrings(entries), oneByOne.GetCount());
    }
    void ExpectSameLists() {
        const orvo::ComboState expected = orvo::ReadComboState(oneByOne);
        const orvo::ComboState got = orvo::ReadComboState(batched);
        ASSERT_EQ(got.entries.size(), expected.entries.size());
        for (std::size_t i = 0; i < got.entries.size(); ++i) {
            EXPECT_EQ(got.entries[i].text, expected.entries[i].text) << i;
            EXPECT_EQ(got.entries[i].data, expected.entries[i].data) << i;
        }
        EXPECT_EQ(got.current, expected.current);
    }
};

TEST_F(ComboBatchTest, SortedBoxTakesABatchAsOneByOneAdditions) {
    Make(CBS_SORT);
    // Equal texts in different case keep their order; an out-of-order batch is sorted.
    Add({{"cu2502", 1}, {"AL2501", 2}, {"Cu2501", 3}, {"al2501", 4}, {"cu2501", 5}, {"", 6}});
    ExpectSameLists();
    // Into a list already there, with a selection: equal texts go after the ones listed.
    oneByOne.SetCurSel(3);
    batched.SetCurSel(3);
    Add({{"CU2501", 7}, {"a", 8}, {"zz", 9}, {"cu2502", 10}});
    ExpectSameLists();
    EXPECT_EQ(batched.GetCurSel(), 4);
    // A batch already in order, thousands long.
    std::vector<ComboBatchEntry> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back(
            {CString((i % 2 ? "M" : "m") + std::to_string(10000 + i / 3)), static_cast<DWORD_PTR>(100 + i)});
    Add(many);
    ExpectSameLists();
    // A list put out of order by InsertString still places each entry where AddString's search does.
    oneByOne.InsertString(0, "zzz");
    batched.InsertString(0, "zzz");
    Add({{"b", 11}, {"ZZZ", 12}, {"a", 13}});
    ExpectSameLists();
}

TEST_F(ComboBatchTest, UnsortedBoxAppendsTheBatchAsGiven) {
    Make(0);
    Add({{"b", 1}, {"a", 2}});
    oneByOne.SetCurSel(1);
    batched.SetCurSel(1);
    Add({{"c", 3}, {"A", 4}});
    ExpectSameLists();
    EXPECT_EQ(texts(batched), (std::vector<std::string>{"b", "a", "c", "A"}));
    EXPECT_EQ(batched.AddStrings({}), 4);
}

TEST_F(ComboBatchTest, GbkTrailBytesAreNotLettersToFold) {
    Make(CBS_SORT);
    // 0x81 0x61 and 0x81 0x41 are two different characters whose trail bytes look like 'a' and 'A'.
    Add({{"\x81\x61", 1}, {"\x81\x41", 2}, {"\x81\x61x", 3}, {"A", 4}});
    ExpectSameLists();
    EXPECT_EQ(batched.GetItemData(0), 4u);
    EXPECT_EQ(batched.GetItemData(1), 2u) << "0x41 sorts before 0x61 when not folded";
    EXPECT_EQ(batched.FindStringExact(-1, "\x81\x61"), 2);
    EXPECT_EQ(batched.FindString(-1, "\x81\x61"), 2);
    EXPECT_EQ(batched.FindString(-1, "a"), 0);
    EXPECT_TRUE(orvo::ComboSortsBefore("\x81\x41", "\x81\x61"));
    EXPECT_FALSE(orvo::ComboSortsBefore("Cu", "cU"));
    EXPECT_FALSE(orvo::ComboSortsBefore("cU", "Cu"));
}

TEST_F(ComboTest, SelectionFollowsInsertionsAndDeletions) {
    Make(CBS_DROPDOWN);
    combo.AddString("b");
    combo.AddString("c");
    EXPECT_EQ(combo.SetCurSel(1), 1);
    combo.InsertString(0, "a");
    EXPECT_EQ(combo.GetCurSel(), 2);
    EXPECT_EQ(combo.DeleteString(0), 2);
    EXPECT_EQ(combo.GetCurSel(), 1);
    EXPECT_EQ(combo.DeleteString(1), 1);
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(combo.GetItemData(5), static_cast<DWORD_PTR>(static_cast<LRESULT>(CB_ERR)));
}

TEST_F(ComboTest, ResetContentClearsListSelectionAndEditText) {
    Make(CBS_DROPDOWN | CBS_SORT);
    combo.AddString("cu2501");
    combo.SetCurSel(0);
    EXPECT_EQ(combo.GetWindowText(), "cu2501");
    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(combo.GetWindowText(), "");
    EXPECT_EQ(editOf(combo)->text(), QString());
    combo.SetWindowText("typed");
    EXPECT_EQ(combo.GetWindowText(), "typed");
    EXPECT_EQ(combo.GetCurSel(), -1) << "setting the text selects nothing";
}

TEST_F(ComboTest, EditSelectionCountsBytesOfTheGbkText) {
    Make(CBS_DROPDOWN);
    combo.SetWindowText(GBK("铜cu"));
    ASSERT_TRUE(combo.SetEditSel(2, 3));
    EXPECT_EQ(editOf(combo)->selectedText(), QStringLiteral("c"));
    EXPECT_EQ(combo.GetEditSel(), static_cast<DWORD>(MAKELPARAM(2, 3)));
    DWORD start = 9, end = 9;
    combo.SendMessage(CB_GETEDITSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 2u);
    EXPECT_EQ(end, 3u);
    combo.SetEditSel(4, 4);
    EXPECT_EQ(editOf(combo)->cursorPosition(), 3);
    EXPECT_FALSE(editOf(combo)->hasSelectedText());
}

TEST_F(ComboTest, ProgramChangesDoNotNotifyUserChoicesDo) {
    Make(CBS_DROPDOWNLIST);
    combo.AddString("one");
    combo.AddString("two");
    combo.SetCurSel(1);
    EXPECT_EQ(combo.GetWindowText(), "two");
    EXPECT_EQ(host.Commands(CBN_SELCHANGE), 0);

    combo.ShowDropDown(TRUE);
    EXPECT_TRUE(combo.GetDroppedState());
    EXPECT_EQ(host.Commands(CBN_DROPDOWN), 1);
    orvo::FlushComboList(combo);
    QListView* list = listOf(combo);
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 0)).center());
    EXPECT_FALSE(combo.GetDroppedState());
    EXPECT_EQ(combo.GetCurSel(), 0);
    EXPECT_EQ(combo.GetWindowText(), "one");
    EXPECT_EQ(host.Commands(CBN_SELENDOK), 1);
    EXPECT_EQ(host.Commands(CBN_CLOSEUP), 1);
    EXPECT_EQ(host.Commands(CBN_SELCHANGE), 1);
    EXPECT_EQ(host.Commands(CBN_SELENDCANCEL), 0);

    // Down on the closed box steps to the next entry as a user's choice.
    combo.SetFocus();
    QTest::keyClick(combo.m_hWnd, Qt::Key_Down);
    EXPECT_EQ(combo.GetCurSel(), 1);
    EXPECT_EQ(host.Commands(CBN_SELCHANGE), 2);
}

TEST_F(ComboTest, EscapeClosesTheListWithoutChoosing) {
    Make(CBS_DROPDOWN | CBS_SORT);
    combo.AddString("a1");
    combo.AddString("a2");
    combo.ShowDropDown(TRUE);
    ASSERT_TRUE(combo.GetDroppedState());
    QTest::keyClick(listOf(combo), Qt::Key_Down);
    QTest::keyClick(listOf(combo), Qt::Key_Escape);
    EXPECT_FALSE(combo.GetDroppedState());
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(host.Commands(CBN_SELENDCANCEL), 1);
    EXPECT_EQ(host.Commands(CBN_CLOSEUP), 1);
}

TEST_F(ComboTest, TypedTextSelectsTheEntryWithThatText) {
    Make(CBS_DROPDOWN | CBS_SORT);
    combo.AddString("G01");
    combo.AddString("G02");
    combo.SetCurSel(0);
    combo.SetFocus();
    QTest::keyClick(editOf(combo), Qt::Key_End);
    QTest::keyClick(editOf(combo), Qt::Key_Backspace);
    EXPECT_EQ(combo.GetCurSel(), -1) << "G0 is no entry's text";
    QTest::keyClicks(editOf(combo), "2");
    EXPECT_EQ(combo.GetCurSel(), 1);
    editOf(combo)->selectAll();
    QTest::keyClicks(editOf(combo), "g01");
    EXPECT_EQ(combo.GetCurSel(), 0);
    EXPECT_EQ(host.Commands(CBN_SELCHANGE), 0) << "typing is an edit, not a choice from the list";
}

TEST_F(ComboTest, KeysSentToTheEditableBoxItselfReachItsEditOnce) {
    Make(CBS_DROPDOWN | CBS_SORT);
    combo.AddString("al2501");
    combo.AddString("cu2501");
    combo.SetFocus();
    // The box forwards its keys to the edit field; Down is one the edit ignores, so it comes back up to
    // the box, which must then act on it rather than forward it again.
    QTest::keyClick(combo.m_hWnd, Qt::Key_Down);
    QTest::keyClick(combo.m_hWnd, Qt::Key_Down);
    EXPECT_EQ(combo.GetCurSel(), 1) << "Down in a closed list moves to the next entry";
    QTest::keyClicks(combo.m_hWnd, "x");
    EXPECT_EQ(combo.GetWindowText(), "x") << "a printable key is typed once, over the selected text";
    combo.ShowDropDown(TRUE);
    QTest::keyClick(combo.m_hWnd, Qt::Key_Down);
    QTest::keyClick(combo.m_hWnd, Qt::Key_PageDown);
    EXPECT_TRUE(combo.GetDroppedState());
}

TEST_F(ComboTest, TypingRaisesEditChangeAndGoesOnWhileTheListIsOpen) {
    Make(CBS_DROPDOWN | CBS_SORT);
    combo.AddString("cu2501");
    combo.AddString("al2501");
    combo.SetFocus();
    QTest::keyClicks(editOf(combo), "c");
    EXPECT_EQ(host.Commands(CBN_EDITCHANGE), 1);
    combo.ShowDropDown(TRUE);
    // With the list open the keys reach the list's popup; those it does not use go on to the edit.
    QTest::keyClicks(listOf(combo), "u2");
    EXPECT_EQ(combo.GetWindowText(), "cu2");
    EXPECT_EQ(host.Commands(CBN_EDITCHANGE), 3);
    EXPECT_TRUE(combo.GetDroppedState());
    EXPECT_EQ(combo.GetCurSel(), 1) << "an open list marks the first entry the text begins with";
}

TEST(DatePickerTest, GetTimeSetTimeAndUserChanges) {
    RecordingWnd host;
    CDateTimeCtrl picker;
    ASSERT_TRUE(picker.Create(WS_CHILD | WS_VISIBLE | DTS_LONGDATEFORMAT, RECT{0, 0, 150, 24}, &host, 80));
    CTime now;
    ASSERT_EQ(picker.GetTime(now), GDT_VALID);
    EXPECT_EQ(now.Format("%Y.%m.%d"), CTime::GetCurrentTime().Format("%Y.%m.%d"));
    EXPECT_TRUE(picker.SetTime(CTime(2008, 8, 1)));
    CTime set;
    picker.GetTime(set);
    EXPECT_EQ(set.Format("%Y.%m.%d"), "2008.08.01");
    EXPECT_EQ(picker.GetWindowText().ToUtf8(), "2008年8月1日");
    EXPECT_TRUE(host.Of(WM_NOTIFY).empty()) << "setting the date is not a user's change";

    EXPECT_TRUE(orvo::SetPickerDateAsUser(picker, 2026, 12, 7));
    EXPECT_EQ(host.Of(WM_NOTIFY).size(), 1u);
    picker.EnableWindow(FALSE);
    EXPECT_FALSE(orvo::SetPickerDateAsUser(picker, 2026, 12, 8));
    EXPECT_FALSE(orvo::SetPickerDateAsUser(picker, 2026, 2, 30));
    int y = 0, m = 0, d = 0;
    ASSERT_TRUE(orvo::ReadPickerDate(picker, y, m, d));
    EXPECT_EQ(y * 10000 + m * 100 + d, 20261207);

    CDateTimeCtrl unbound;
    CTime untouched(5);
    EXPECT_EQ(unbound.GetTime(untouched), GDT_ERROR);
    EXPECT_EQ(untouched, CTime(5));
}

// ---- host controls -----------------------------------------------------------------------------------

TEST(OrvoComboBoxTest, KeysSelectAndReadEntries) {
    RecordingWnd host;
    COrvoComboBox combo;
    ASSERT_TRUE(combo.Create(kBase | CBS_DROPDOWNLIST, RECT{0, 0, 150, 100}, &host, 81));
    EXPECT_EQ(combo.GetString(-1), "");
    combo.InsertString(0, "1", GBK("已过有效期"));
    combo.InsertString(0, "0", GBK("限有效期内"));
    EXPECT_EQ(combo.GetString(0), "0");
    EXPECT_EQ(combo.GetString(-1), "");
    EXPECT_EQ(combo.SetSel("1"), 1);
    EXPECT_EQ(combo.GetString(-1), "1");
    EXPECT_EQ(combo.GetItemText(-1), GBK("已过有效期"));
    EXPECT_EQ(combo.SetSel("9"), CB_ERR);
    EXPECT_EQ(combo.GetString(-1), "1") << "an unknown key leaves the selection";
    EXPECT_EQ(host.Commands(CBN_SELCHANGE), 0);

    EXPECT_EQ(combo.PickKey("0"), 0);
    EXPECT_EQ(host.Commands(CBN_SELCHANGE), 1);
    const orvo::ComboState state = orvo::ReadComboState(combo);
    EXPECT_TRUE(state.keyed);
    EXPECT_EQ(state.current, 0);
    EXPECT_EQ(state.text, GBK("限有效期内"));

    combo.ResetContent();
    EXPECT_EQ(combo.GetString(-1), "");
    EXPECT_EQ(combo.GetString(0), "");
}

class CheckComboTest : public ::testing::Test {
protected:
    CheckComboTest() {
        combo.Create(kBase | CBS_DROPDOWN, RECT{0, 0, 150, 100}, &host, 82);
        combo.AddString("0101", GBK("一部"), 1);
        combo.AddString("0102", GBK("二部"), 1);
        combo.AddString("0103", GBK("三部"), 0);
    }
    std::vector<condtest::SentMessage> changes() const { return host.Of(UM_CHECKCOMBO_CHANGE); }
    RecordingWnd host;
    COrvoCheckCombo combo;
};

TEST_F(CheckComboTest, ChecksJoinInListOrderAndEveryChangeIsReported) {
    EXPECT_EQ(combo.GetText(), "");
    EXPECT_TRUE(combo.SetCheck("0102", TRUE));
    EXPECT_TRUE(combo.SetCheck("0101", TRUE));
    EXPECT_EQ(combo.GetText(), "0101,0102");
    EXPECT_EQ(combo.GetWindowText(), "0101,0102");
    ASSERT_EQ(changes().size(), 2u);
    EXPECT_EQ(changes()[0].wParam, reinterpret_cast<WPARAM>(&combo));
    EXPECT_EQ(host.Commands(CBN_ORVO_CHECKCHANGE), 0) << "the box takes its own notification back";

    EXPECT_TRUE(combo.SetCheck("0101", TRUE)); // no change, no report
    EXPECT_EQ(changes().size(), 2u);
    EXPECT_FALSE(combo.SetCheck("0999", TRUE));
    EXPECT_FALSE(combo.SetCheck("0103", TRUE)); // a greyed entry cannot be checked
    EXPECT_EQ(combo.GetCheck("0103"), 0);
    EXPECT_EQ(changes().size(), 2u);

    combo.Reset();
    EXPECT_EQ(combo.GetCount(), 0);
    EXPECT_EQ(combo.GetText(), "");
    EXPECT_EQ(changes().size(), 3u) << "emptying a list with checks changes the checked set";
    combo.Reset();
    EXPECT_EQ(changes().size(), 3u);
}

TEST_F(CheckComboTest, ClickingACheckInTheListReportsAndKeepsTheListOpen) {
    QTest::mouseClick(editOf(combo), Qt::LeftButton); // the read-only edit opens the list
    ASSERT_TRUE(combo.GetDroppedState());
    orvo::FlushComboList(combo);
    QListView* list = listOf(combo);
    ASSERT_NE(list, nullptr);
    const QRect second = list->visualRect(list->model()->index(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(combo.GetText(), "0102");
    EXPECT_EQ(changes().size(), 1u);
    EXPECT_TRUE(combo.GetDroppedState());
    QTest::keyClick(list, Qt::Key_Space); // Space toggles the marked entry
    EXPECT_EQ(combo.GetText(), "");
    EXPECT_EQ(changes().size(), 2u);
    const orvo::ComboState state = orvo::ReadComboState(combo);
    EXPECT_TRUE(state.checkable);
    EXPECT_EQ(combo.m_hWnd->property("orvoKind").toString(), QStringLiteral("checkcombo"));
}

} // namespace
