// The conditions dialog run modally under the offscreen platform: each test scripts what the user does
// once the dialog's loop runs, then checks the nine conditions it confirmed.
#include "ConditionFixture.h"
#include "GuiHost.h"

#include "conditions/QueryConditionDlg.h"
#include "res/DialogTemplates.h"
#include "res/Resource.h"

#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace condtest {
namespace {

const int kTemplateOwner = 0;

class ConditionDlgTest : public ConditionTest {
protected:
    ConditionDlgTest() {
        App();
        orvo::RegisterDialogTemplates(&kTemplateOwner, {orvo::res::QueryConditionTemplate()});
        AddTable("YYB", BranchTable({{"00", "总部", "0", "", ""},
                                     {"0101", "一部", "1", "00", "0"},
                                     {"0102", "二部", "1", "00", "0"}}));
        AddTable("KHQZ",
                 GroupTable({{"0101", "G01", "甲组"}, {"0101", "G02", "乙组"}, {"0102", "G03", "丙组"}}));
        AddTable("QHJYS", MakeTable("JYS[C4],JYSJC[C20]", {{"SQ", "上期所"}, {"DS", "大商所"}}));
        AddTable("QHPZ", MakeTable("JYS[C4],ZQLB[C8],ZQLBMC[C20]",
                                   {{"SQ", "cu", "铜"}, {"DS", "m", "豆粕"}, {"SQ", "al", "铝"}}));
        AddContracts(ContractTable({{"SQ", "cu", "铜", "cu2502", "沪铜2502"},
                                    {"DS", "m", "豆粕", "m2505", "豆粕2505"},
                                    {"SQ", "cu", "铜", "CU2501", "沪铜2501"},
                                    {"SQ", "al", "铝", "al2501", "沪铝2501"}}));
        Permit({{"0101,0102", "G01,G03"}});
    }
    ~ConditionDlgTest() override { orvo::UnregisterDialogTemplates(&kTemplateOwner); }

    // Runs the dialog; script runs inside its loop and must end it. A stuck script ends with IDABORT.
    INT_PTR Run(const std::function<void()>& script) {
        QTimer::singleShot(0, script);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [this] { dlg.EndDialog(IDABORT); });
        guard.start(10000);
        return dlg.DoModal();
    }
    void PressOk() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }
    // A key as the keyboard delivers it: to an open drop-down list first, else to the focus.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* popup = QApplication::activePopupWidget();
        QTest::keyClick(popup ? popup : QApplication::focusWidget(), key, modifiers);
    }
    // Text as an input method commits it into the focused field.
    void Commit(const QString& text) {
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, text, Qt::NoModifier);
    }
    std::vector<std::string> Keys(HWND combo) {
        std::vector<std::string> keys;
        for (const auto& entry : orvo::ReadComboState(combo).entries)
            keys.push_back(entry.key.str());
        return keys;
    }

    CQueryConditionDlg dlg;
};

std::string today() {
    return CTime::GetCurrentTime().Format("%Y.%m.%d").str();
}

TEST_F(ConditionDlgTest, OpensWithItsListsAndOkWithNothingChosen) {
    const INT_PTR result = Run([this] {
        EXPECT_EQ(dlg.m_hWnd->windowTitle(), QStringLiteral("查询条件"));
        EXPECT_EQ(Keys(dlg.m_comboBranch), (std::vector<std::string>{"0101", "0102"}));
        EXPECT_EQ(Keys(dlg.m_comboExchange), (std::vector<std::string>{"DS", "SQ"}));
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"cu", "m", "al"}));
        EXPECT_TRUE(Keys(dlg.m_comboGroup).empty()) << "groups follow the branch choice";
        EXPECT_EQ(dlg.m_comboContract.GetCount(), 4);
        EXPECT_EQ(dlg.m_comboValidity.GetItemText(-1), GBK("限有效期内"));
        EXPECT_FALSE(dlg.m_dateBegin.IsWindowEnabled());
        EXPECT_FALSE(dlg.m_dateEnd.IsWindowEnabled());
        EXPECT_EQ(CWnd::GetFocus(), &dlg.m_comboBranch);
        PressOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strBranch, "");
    EXPECT_EQ(dlg.m_strGroup, "");
    EXPECT_EQ(dlg.m_strCustomer, "");
    EXPECT_EQ(dlg.m_strExchange, "");
    EXPECT_EQ(dlg.m_strVariety, "");
    EXPECT_EQ(dlg.m_strContract, "");
    EXPECT_EQ(dlg.m_strValidity, "0");
    EXPECT_EQ(dlg.m_strBeginDate.str(), today());
    EXPECT_EQ(dlg.m_strEndDate.str(), today());
}

TEST_F(ConditionDlgTest, ValidityTogglesThePickersAndDatesComeFromThem) {
    const INT_PTR result = Run([this] {
        dlg.m_comboValidity.PickKey("1");
        EXPECT_TRUE(dlg.m_dateBegin.IsWindowEnabled());
        EXPECT_TRUE(dlg.m_dateEnd.IsWindowEnabled());
        dlg.m_comboValidity.PickKey("0");
        EXPECT_FALSE(dlg.m_dateBegin.IsWindowEnabled());
        EXPECT_FALSE(dlg.m_dateEnd.IsWindowEnabled());
        dlg.m_comboValidity.PickKey("1");
        orvo::SetPickerDateAsUser(dlg.m_dateBegin, 2026, 12, 1);
        orvo::SetPickerDateAsUser(dlg.m_dateEnd, 2026, 11, 30); // before the start: passed on as it is
        PressOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strValidity, "1");
    EXPECT_EQ(dlg.m_strBeginDate, "2026.12.01");
    EXPECT_EQ(dlg.m_strEndDate, "2026.11.30");
}

TEST_F(ConditionDlgTest, TypedChoicesBecomeConditionsAndCancelKeepsThem) {
    ini.SetValue("SYSTEM", "KHHPRE", "0101");
    ASSERT_EQ(Run([this] {
                  dlg.m_comboBranch.SetCheck("0101", TRUE);
                  EXPECT_EQ(Keys(dlg.m_comboGroup), (std::vector<std::string>{"G01"}));
                  dlg.m_comboGroup.PickKey("G01");
                  dlg.m_editCustomer.SetFocus();
                  QTest::keyClicks(QApplication::focusWidget(), " 123 ");
                  dlg.m_comboExchange.PickKey("SQ");
                  dlg.m_comboVariety.PickKey("al");
                  PressOk();
              }),
              IDOK);
    EXPECT_EQ(dlg.m_strBranch, "0101");
    EXPECT_EQ(dlg.m_strGroup, "G01");
    EXPECT_EQ(dlg.m_strCustomer, "010100000123");
    EXPECT_EQ(dlg.m_strExchange, "SQ");
    EXPECT_EQ(dlg.m_strVariety, "al");

    // The next opening starts afresh; Cancel leaves the confirmed conditions as they were.
    ASSERT_EQ(Run([this] {
                  EXPECT_EQ(dlg.m_comboBranch.GetText(), "");
                  EXPECT_EQ(dlg.m_comboExchange.GetCurSel(), -1);
                  EXPECT_EQ(dlg.m_editCustomer.GetText(), "");
                  dlg.m_comboExchange.PickKey("DS");
                  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
              }),
              IDCANCEL);
    EXPECT_EQ(dlg.m_strExchange, "SQ");
    EXPECT_EQ(dlg.m_strCustomer, "010100000123");
    EXPECT_EQ(dlg.m_strVariety, "al");
}

TEST_F(ConditionDlgTest, OnlyTheBranchBoxNotificationReloadsGroups) {
    Run([this] {
        // Checked without telling anyone; then notifications that do not come from the branch box.
        dlg.m_comboBranch.SendMessage(CBM_ORVO_SETCHECK, 0, TRUE);
        EXPECT_EQ(dlg.SendMessage(UM_CHECKCOMBO_CHANGE, reinterpret_cast<WPARAM>(&dlg.m_comboExchange)), 1);
        EXPECT_EQ(dlg.SendMessage(UM_CHECKCOMBO_CHANGE, 0), 1);
        EXPECT_TRUE(Keys(dlg.m_comboGroup).empty());
        EXPECT_EQ(server.Requests(kPermissionFunction).size(), 1u) << "only the branch list asked";
        EXPECT_EQ(dlg.SendMessage(UM_CHECKCOMBO_CHANGE, reinterpret_cast<WPARAM>(&dlg.m_comboBranch)), 1);
        EXPECT_EQ(Keys(dlg.m_comboGroup), (std::vector<std::string>{"G01"}));
        dlg.EndDialog(IDCANCEL);
    });
}

TEST_F(ConditionDlgTest, AnExchangeNarrowsTheVarietiesButNotTheContracts) {
    Run([this] {
        dlg.m_comboVariety.PickKey("m");
        dlg.m_comboExchange.PickKey("SQ");
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"cu", "al"}));
        EXPECT_EQ(dlg.m_comboVariety.GetCurSel(), -1);
        EXPECT_EQ(dlg.m_comboContract.GetContractCount(), 4);
        EXPECT_EQ(dlg.m_comboContract.GetCount(), 4);
        PressOk();
    });
    EXPECT_EQ(dlg.m_strExchange, "SQ");
    EXPECT_EQ(dlg.m_strVariety, "");
}

TEST_F(ConditionDlgTest, EnterAfterTypingAContractPrefixConfirmsTheFirstMatch) {
    const INT_PTR result = Run([this] {
        dlg.m_comboContract.SetFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C);
        ASSERT_TRUE(dlg.m_comboContract.GetDroppedState());
        // Escape and Enter in the open list close the list only; the dialog stays.
        QListView* list = dlg.m_comboContract.m_hWnd->findChild<QListView*>();
        QTest::keyClick(list, Qt::Key_Escape);
        EXPECT_FALSE(dlg.m_comboContract.GetDroppedState());
        EXPECT_TRUE(dlg.IsModalRunning());
        PressOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strContract, "CU2501");
}

TEST_F(ConditionDlgTest, TabbingOutOfTheContractBoxCompletesThePrefix) {
    const INT_PTR result = Run([this] {
        dlg.m_comboContract.SetFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_M);
        EXPECT_TRUE(dlg.m_comboContract.GetDroppedState());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_FALSE(dlg.m_comboContract.GetDroppedState());
        EXPECT_EQ(CWnd::GetFocus(), &dlg.m_comboValidity);
        EXPECT_EQ(dlg.m_comboContract.GetWindowText(), "m2505");
        // Text that matches nothing is cleared on leaving.
        dlg.m_comboContract.SetFocus();
        QTest::keyClicks(QApplication::focusWidget(), "x");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(dlg.m_comboContract.GetWindowText(), "");
        PressOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strContract, "");
}

TEST_F(ConditionDlgTest, ArrowsInAnOpenListChooseAndTabClosesItKeepingTheChoice) {
    const INT_PTR result = Run([this] {
        // The exchange box: each arrow selects, shows the entry and narrows the varieties; the list stays.
        dlg.m_comboExchange.SetFocus();
        Press(Qt::Key_Down, Qt::AltModifier);
        ASSERT_TRUE(dlg.m_comboExchange.GetDroppedState());
        Press(Qt::Key_Down);
        EXPECT_EQ(dlg.m_comboExchange.GetString(-1), "DS");
        EXPECT_EQ(dlg.m_comboExchange.GetWindowText(), GBK("大商所"));
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"m"}));
        Press(Qt::Key_PageDown);
        EXPECT_EQ(dlg.m_comboExchange.GetString(-1), "SQ");
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"cu", "al"}));
        EXPECT_TRUE(dlg.m_comboExchange.GetDroppedState());
        Press(Qt::Key_Tab, Qt::ShiftModifier); // back to the customer number, the choice kept
        EXPECT_FALSE(dlg.m_comboExchange.GetDroppedState());
        EXPECT_TRUE(dlg.m_editCustomer.m_hWnd->hasFocus());
        EXPECT_EQ(dlg.m_comboExchange.GetString(-1), "SQ");

        // The contract box: the highlighted match is the one chosen, not the first.
        dlg.m_comboContract.SetFocus();
        QTest::keyClicks(QApplication::focusWidget(), "cu");
        ASSERT_TRUE(dlg.m_comboContract.GetDroppedState());
        Press(Qt::Key_Down);
        Press(Qt::Key_Down);
        EXPECT_EQ(dlg.m_comboContract.GetWindowText(), "cu2502");
        Press(Qt::Key_Tab);
        EXPECT_FALSE(dlg.m_comboContract.GetDroppedState());
        EXPECT_EQ(CWnd::GetFocus(), &dlg.m_comboValidity);

        // The validity box (no edit field): Tab leaves the open list with its choice, the dates follow.
        Press(Qt::Key_F4);
        ASSERT_TRUE(dlg.m_comboValidity.GetDroppedState());
        Press(Qt::Key_Down);
        Press(Qt::Key_Tab);
        EXPECT_FALSE(dlg.m_comboValidity.GetDroppedState());
        EXPECT_NE(CWnd::GetFocus(), &dlg.m_comboValidity);
        EXPECT_TRUE(dlg.m_dateBegin.IsWindowEnabled());
        PressOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strExchange, "SQ");
    EXPECT_EQ(dlg.m_strContract, "cu2502");
    EXPECT_EQ(dlg.m_strValidity, "1");
}

TEST_F(ConditionDlgTest, TypedTextIsSettledOnLeavingAndOnOk) {
    const INT_PTR result = Run([this] {
        // The exact text of an entry: leaving selects it and tells the dialog, so the varieties follow.
        dlg.m_comboExchange.SetFocus();
        Commit(QStringLiteral("大商所"));
        Press(Qt::Key_Tab);
        EXPECT_EQ(dlg.m_comboExchange.GetString(-1), "DS");
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"m"}));
        // A key typed instead of the text chooses that entry and shows its text.
        dlg.m_comboExchange.SetFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), "SQ");
        Press(Qt::Key_Tab);
        EXPECT_EQ(dlg.m_comboExchange.GetString(-1), "SQ");
        EXPECT_EQ(dlg.m_comboExchange.GetWindowText(), GBK("上期所"));
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"cu", "al"}));
        // Typing an entry's text, then picking that entry: the pick is told.
        dlg.m_comboExchange.SetFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        Commit(QStringLiteral("大商所"));
        dlg.m_comboExchange.PickKey("DS");
        EXPECT_EQ(Keys(dlg.m_comboVariety), (std::vector<std::string>{"m"}));
        // Other text is cleared on leaving.
        dlg.m_comboGroup.SetFocus();
        QTest::keyClicks(QApplication::focusWidget(), "zz");
        Press(Qt::Key_Tab);
        EXPECT_EQ(dlg.m_comboGroup.GetWindowText(), "");
        // Enter confirms with the focus still in a box: its text is settled first.
        dlg.m_comboVariety.SetFocus();
        QTest::keyClicks(QApplication::focusWidget(), "m");
        PressOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strExchange, "DS");
    EXPECT_EQ(dlg.m_strGroup, "");
    EXPECT_EQ(dlg.m_strVariety, "m");
}

} // namespace
} // namespace condtest
