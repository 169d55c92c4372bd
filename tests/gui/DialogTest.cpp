// Dialogs from templates: geometry in dialog units, the modal loop and its keys, PreTranslateMessage,
// message order and WM_SIZE types.
#include "GuiTestSupport.h"

#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/DialogBuilder.h"
#include "platform/ModalLoop.h"

#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr UINT kDlg = 7100;
constexpr UINT kDlgNoOk = 7101;
constexpr int kEdit = 7110;
constexpr int kStaticNotify = 7111;
constexpr int kApply = 7112;
constexpr UINT UM_PING = WM_USER + 7;
constexpr UINT UM_PONG = WM_USER + 8;

const int kOwner = 0;

void registerTemplates() {
    using guitest::Control;
    std::vector<DialogTemplate> templates;
    templates.push_back(guitest::Template(
        kDlg, 200, 120,
        {Control(kEdit, orvo::wc::kEdit, "", WS_BORDER | WS_TABSTOP, 10, 10, 80, 14),
         Control(kStaticNotify, orvo::wc::kStatic, "标签", SS_NOTIFY, 10, 30, 60, 8),
         Control(kApply, orvo::wc::kButton, "应用", WS_TABSTOP, 30, 90, 40, 16),
         Control(IDOK, orvo::wc::kButton, "确定", BS_DEFPUSHBUTTON | WS_TABSTOP, 90, 90, 40, 16),
         Control(IDCANCEL, orvo::wc::kButton, "取消", WS_TABSTOP, 140, 90, 40, 16)}));
    templates.push_back(
        guitest::Template(kDlgNoOk, 200, 120,
                          {Control(kEdit, orvo::wc::kEdit, "", WS_BORDER | WS_TABSTOP, 10, 10, 80, 14),
                           Control(IDCANCEL, orvo::wc::kButton, "退出", WS_TABSTOP, 140, 90, 40, 16)}));
    orvo::RegisterDialogTemplates(&kOwner, std::move(templates));
}

// A dialog that records what reaches it and can run a script once its loop is running.
class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT id = kDlg) : CDialog(id) {}

    std::vector<std::string> log;
    std::function<void(TestDialog&)> script;
    std::function<BOOL(MSG*)> preTranslate;
    CWnd m_edit;
    int sizeCalls = 0;
    std::vector<UINT> sizeTypes;
    bool applied = false;
    std::function<void()> onApply;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        log.push_back("init");
        if (script)
            QTimer::singleShot(0, [this] { script(*this); });
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        if (preTranslate && preTranslate(msg))
            return TRUE;
        return CDialog::PreTranslateMessage(msg);
    }

protected:
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        DDX_Control(dx, kEdit, m_edit);
    }
    int OnCreate(LPCREATESTRUCT cs) {
        log.push_back(GetDlgItem(kEdit) ? "create-with-controls" : "create");
        return CDialog::OnCreate(cs);
    }
    void OnSize(UINT type, int, int) { sizeTypes.push_back(type); }
    void OnApply() {
        applied = true;
        if (onApply)
            onApply();
    }
    LRESULT OnPing(WPARAM wParam, LPARAM) {
        log.push_back("ping" + std::to_string(wParam));
        return 1;
    }
    LRESULT OnPong(WPARAM wParam, LPARAM) {
        log.push_back("pong" + std::to_string(wParam));
        return 2;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
ON_WM_CREATE()
ON_WM_SIZE()
ON_BN_CLICKED(kApply, &TestDialog::OnApply)
ON_MESSAGE(UM_PING, &TestDialog::OnPing)
ON_MESSAGE(UM_PONG, &TestDialog::OnPong)
END_MESSAGE_MAP()

class DialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        guitest::App();
        registerTemplates();
    }
};

QWidget* item(CWnd& dlg, int id) {
    CWnd* wnd = dlg.GetDlgItem(id);
    return wnd ? wnd->GetSafeHwnd() : nullptr;
}

TEST_F(DialogTest, ControlsSitAtTheirDialogUnitRectangles) {
    TestDialog dlg;
    CRect editRect, okRect, client;
    orvo::DialogBaseUnits units;
    dlg.script = [&](TestDialog& d) {
        units = orvo::BaseUnitsOf(d.GetSafeHwnd()->font());
        d.GetDlgItem(kEdit)->GetWindowRect(editRect);
        d.ScreenToClient(editRect);
        d.GetDlgItem(IDOK)->GetWindowRect(okRect);
        d.ScreenToClient(okRect);
        d.GetClientRect(client);
        d.EndDialog(IDOK);
    };
    ASSERT_EQ(dlg.DoModal(), IDOK);
    // A 9-point CJK dialog font: a few pixels per horizontal unit, a line per 8 vertical units.
    EXPECT_GE(units.x, 5);
    EXPECT_LE(units.x, 9);
    EXPECT_GE(units.y, 11);
    EXPECT_LE(units.y, 20);
    const auto px = [](int v, int base, int div) { return (v * base + div / 2) / div; };
    EXPECT_EQ(editRect,
              CRect(px(10, units.x, 4), px(10, units.y, 8), px(90, units.x, 4), px(24, units.y, 8)));
    EXPECT_EQ(okRect,
              CRect(px(90, units.x, 4), px(90, units.y, 8), px(130, units.x, 4), px(106, units.y, 8)));
    EXPECT_EQ(client, CRect(0, 0, px(200, units.x, 4), px(120, units.y, 8)));
    // WM_CREATE comes before the controls exist, OnInitDialog after.
    ASSERT_GE(dlg.log.size(), 2u);
    EXPECT_EQ(dlg.log[0], "create");
    EXPECT_EQ(dlg.log[1], "init");
}

TEST_F(DialogTest, DoModalEndsWithEscapeOkButtonEnterAndClose) {
    {
        TestDialog dlg;
        dlg.script = [](TestDialog& d) { QTest::keyClick(item(d, kEdit), Qt::Key_Escape); };
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(dlg.GetSafeHwnd(), nullptr) << "the window is gone after DoModal";
        EXPECT_EQ(dlg.m_edit.GetSafeHwnd(), nullptr) << "bound controls let go of the destroyed window";
    }
    {
        TestDialog dlg;
        dlg.script = [](TestDialog& d) { QTest::mouseClick(item(d, IDOK), Qt::LeftButton); };
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
    {
        // Enter in the edit presses the default button.
        TestDialog dlg;
        dlg.script = [](TestDialog& d) { QTest::keyClick(item(d, kEdit), Qt::Key_Return); };
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
    {
        // Enter on a focused push button presses that button, not the default one.
        TestDialog dlg;
        dlg.script = [](TestDialog& d) {
            item(d, kApply)->setFocus();
            QTest::keyClick(item(d, kApply), Qt::Key_Return);
            EXPECT_TRUE(d.applied);
            EXPECT_FALSE(d.GetModalResult() == IDOK);
            d.GetSafeHwnd()->close();
        };
        EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "closing the window is Cancel";
    }
    {
        // The same dialog object runs twice; its bound control binds to the new window.
        TestDialog dlg;
        for (int run = 0; run < 2; ++run) {
            dlg.script = [](TestDialog& d) {
                EXPECT_NE(d.m_edit.GetSafeHwnd(), nullptr);
                d.EndDialog(IDOK);
            };
            EXPECT_EQ(dlg.DoModal(), IDOK);
        }
    }
}

TEST_F(DialogTest, EnterWithoutAnOkOrDefaultButtonKeepsTheWindowOpen) {
    TestDialog dlg(kDlgNoOk);
    bool stillOpen = false;
    dlg.script = [&](TestDialog& d) {
        QTest::keyClick(item(d, kEdit), Qt::Key_Return);
        stillOpen = d.IsModalRunning();
        QTest::keyClick(item(d, IDCANCEL), Qt::Key_Escape);
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(stillOpen);
}

TEST_F(DialogTest, FocusStartsOnTheFirstTabStopOrWhereInitPutIt) {
    TestDialog dlg;
    CWnd* focus = nullptr;
    dlg.script = [&](TestDialog& d) {
        focus = CWnd::GetFocus();
        d.EndDialog(IDOK);
    };
    dlg.DoModal();
    EXPECT_EQ(focus, &dlg.m_edit);
}

TEST_F(DialogTest, NestedModalDialogOpenedFromAKeyRunsAndReturnsToItsOwner) {
    TestDialog outer;
    INT_PTR innerResult = 0;
    int innerKeysSeen = 0;
    bool outerFocusBack = false;
    outer.onApply = [&] {
        TestDialog inner(kDlgNoOk);
        inner.preTranslate = [&](MSG* msg) {
            innerKeysSeen += msg->message == WM_KEYDOWN;
            return FALSE;
        };
        inner.script = [](TestDialog& d) { QTest::keyClick(item(d, kEdit), Qt::Key_Escape); };
        innerResult = inner.DoModal();
    };
    outer.script = [&](TestDialog& d) {
        item(d, kApply)->setFocus();
        QTest::keyClick(item(d, kApply), Qt::Key_Return); // Enter presses Apply, which runs the inner dialog
        outerFocusBack = CWnd::GetFocus() == d.GetDlgItem(kApply);
        QTest::keyClick(item(d, kEdit), Qt::Key_Escape);
    };
    EXPECT_EQ(outer.DoModal(), IDCANCEL);
    EXPECT_EQ(innerResult, IDCANCEL);
    EXPECT_EQ(innerKeysSeen, 1) << "the inner dialog's key went to the inner dialog only";
    EXPECT_TRUE(outerFocusBack) << "the owner is active again with its focus where it was";
}

TEST_F(DialogTest, MissingTemplateFailsWithMinusOne) {
    CDialog dlg(65000);
    EXPECT_EQ(dlg.DoModal(), -1);
}

TEST_F(DialogTest, PreTranslateMessageSeesChildKeysAndPostedMessagesAndSwallows) {
    TestDialog dlg;
    std::vector<std::pair<UINT, HWND>> seen;
    QString editText;
    dlg.preTranslate = [&](MSG* msg) -> BOOL {
        seen.emplace_back(msg->message == WM_KEYDOWN ? static_cast<UINT>(msg->wParam) : msg->message,
                          msg->hwnd);
        // Swallow the letter B and the posted UM_PONG.
        return (msg->message == WM_KEYDOWN && msg->wParam == 'B') || msg->message == UM_PONG;
    };
    dlg.script = [&](TestDialog& d) {
        QWidget* edit = item(d, kEdit);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A);
        QTest::keyClick(edit, Qt::Key_B);
        QTest::keyClick(edit, Qt::Key_F3);
        d.PostMessage(UM_PING, 1);
        d.PostMessage(UM_PONG, 2);
        QTimer::singleShot(0, [&d, &editText] {
            editText = static_cast<QLineEdit*>(item(d, kEdit))->text();
            d.EndDialog(IDOK);
        });
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(editText.toLower(), "a") << "B was swallowed before the edit saw it";
    const std::vector<UINT> expectedOrder{'A', 'B', VK_F1 + 2, UM_PING, UM_PONG};
    ASSERT_EQ(seen.size(), expectedOrder.size()) << "each key offered once, not once per parent";
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i].first, expectedOrder[i]) << i;
    EXPECT_NE(seen[0].second, dlg.GetSafeHwnd()) << "a child's key names the child";
    EXPECT_EQ(std::count(dlg.log.begin(), dlg.log.end(), "ping1"), 1);
    EXPECT_EQ(std::count(dlg.log.begin(), dlg.log.end(), "pong2"), 0) << "swallowed posted message";
}

TEST_F(DialogTest, SendIsImmediateAndPostIsQueuedInOrder) {
    TestDialog dlg;
    LRESULT sent = 0;
    std::vector<std::string> logAtSend;
    dlg.script = [&](TestDialog& d) {
        d.PostMessage(UM_PING, 1);
        d.PostMessage(UM_PING, 2);
        sent = d.SendMessage(UM_PONG, 3);
        logAtSend = d.log;
        QTimer::singleShot(0, [&d] { d.EndDialog(IDOK); });
    };
    dlg.DoModal();
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(logAtSend.back(), "pong3");
    const std::vector<std::string> tail(dlg.log.end() - 3, dlg.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"pong3", "ping1", "ping2"}));
}

TEST_F(DialogTest, SizeTypesFollowTheWindowState) {
    TestDialog dlg;
    std::vector<UINT> afterMax, afterMin, afterRestore;
    dlg.script = [&](TestDialog& d) {
        d.sizeTypes.clear();
        d.ShowWindow(SW_SHOWMAXIMIZED);
        QTest::qWait(20);
        afterMax = d.sizeTypes;
        d.sizeTypes.clear();
        d.ShowWindow(SW_MINIMIZE);
        QTest::qWait(20);
        afterMin = d.sizeTypes;
        d.sizeTypes.clear();
        d.ShowWindow(SW_RESTORE);
        QTest::qWait(20);
        afterRestore = d.sizeTypes;
        d.EndDialog(IDOK);
    };
    dlg.DoModal();
    ASSERT_FALSE(afterMax.empty());
    EXPECT_EQ(afterMax.back(), SIZE_MAXIMIZED);
    ASSERT_FALSE(afterMin.empty());
    EXPECT_EQ(afterMin.back(), SIZE_MINIMIZED);
    ASSERT_FALSE(afterRestore.empty());
    EXPECT_EQ(afterRestore.back(), SIZE_RESTORED);
}

TEST_F(DialogTest, HooksRunBeforeTheDialogAndCanSwallowEscape) {
    TestDialog dlg;
    bool openAfterEscape = false;
    dlg.script = [&](TestDialog& d) {
        {
            orvo::ScopedMessageHook hook([](MSG& msg) { return msg.message == WM_KEYDOWN ? TRUE : FALSE; });
            QTest::keyClick(item(d, kEdit), Qt::Key_Escape);
            openAfterEscape = d.IsModalRunning();
        }
        QTest::keyClick(item(d, kEdit), Qt::Key_Escape);
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(openAfterEscape);
}

} // namespace
