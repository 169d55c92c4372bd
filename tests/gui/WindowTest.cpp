// Window handles and controls: subclassing and event routing, capture and cursor confinement, colours from
// the parent, reflection, the tab control and what tools find on a widget.
#include "GuiTestSupport.h"

#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/DialogBuilder.h"
#include "platform/WndInternal.h"

#include <QFontDatabase>
#include <QImage>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT kDlg = 7200;
constexpr int kTab = 7201;
constexpr int kBar = 7202;
constexpr int kPlain = 7203;
constexpr int kButton = 7204;

const int kOwner = 0;

// A static that the test drives with the mouse, as a splitter bar does.
class MouseStatic : public CWnd {
public:
    std::vector<std::pair<UINT, CPoint>> events;
    std::vector<HWND> captureLost;

protected:
    void OnLButtonDown(UINT, CPoint p) {
        events.emplace_back(WM_LBUTTONDOWN, p);
        SetCapture();
    }
    void OnMouseMove(UINT, CPoint p) { events.emplace_back(WM_MOUSEMOVE, p); }
    void OnLButtonUp(UINT, CPoint p) {
        events.emplace_back(WM_LBUTTONUP, p);
        ReleaseCapture();
    }
    void OnCaptureChanged(CWnd* wnd) { captureLost.push_back(wnd ? wnd->GetSafeHwnd() : nullptr); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MouseStatic, CWnd)
ON_WM_LBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_CAPTURECHANGED()
END_MESSAGE_MAP()

// A button that handles its own click by reflection.
class SelfClickingButton : public CButton {
public:
    int clicks = 0;
    BOOL letParentSee = FALSE;

protected:
    BOOL OnClicked() {
        ++clicks;
        return !letParentSee;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(SelfClickingButton, CButton)
ON_CONTROL_REFLECT_EX(BN_CLICKED, &SelfClickingButton::OnClicked)
END_MESSAGE_MAP()

class HostDialog : public CDialog {
public:
    HostDialog() : CDialog(kDlg) { m_brush.CreateSolidBrush(RGB(74, 112, 139)); }
    CTabCtrl m_tab;
    MouseStatic m_bar;
    SelfClickingButton m_button;
    std::vector<std::pair<int, UINT>> notifications; // (control id, code)
    int parentClicks = 0;

protected:
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        DDX_Control(dx, kTab, m_tab);
        DDX_Control(dx, kButton, m_button);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_bar.SubclassDlgItem(kBar, this);
        return TRUE;
    }
    void OnTabChange(NMHDR* header, LRESULT* result) {
        notifications.emplace_back(static_cast<int>(header->idFrom), header->code);
        *result = 0;
    }
    void OnButton() { ++parentClicks; }
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT type) {
        HBRUSH brush = CDialog::OnCtlColor(dc, wnd, type);
        if (wnd->GetDlgCtrlID() == kBar) {
            dc->SetTextColor(RGB(255, 215, 0));
            dc->SetBkColor(RGB(74, 112, 139));
            return m_brush;
        }
        return brush;
    }
    DECLARE_MESSAGE_MAP()

private:
    CBrush m_brush;
};

BEGIN_MESSAGE_MAP(HostDialog, CDialog)
ON_NOTIFY(TCN_SELCHANGE, kTab, &HostDialog::OnTabChange)
ON_BN_CLICKED(kButton, &HostDialog::OnButton)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        guitest::App();
        using guitest::Control;
        std::vector<DialogTemplate> templates;
        templates.push_back(guitest::Template(
            kDlg, 300, 200,
            {Control(kTab, orvo::wc::kTab, "Tab1", WS_TABSTOP | TCS_FOCUSONBUTTONDOWN, 7, 7, 280, 100),
             Control(kBar, orvo::wc::kStatic, "分隔条", SS_CENTERIMAGE | SS_CENTER, 7, 110, 280, 10),
             Control(kPlain, orvo::wc::kStatic, "普通", 0, 7, 125, 60, 8),
             Control(kButton, orvo::wc::kButton, "按钮", WS_TABSTOP, 7, 140, 40, 14),
             Control(IDCANCEL, orvo::wc::kButton, "退出", WS_TABSTOP, 240, 180, 40, 14)}));
        orvo::RegisterDialogTemplates(&kOwner, std::move(templates));
    }

    void SetUp() override {
        ASSERT_TRUE(m_dlg.Create(kDlg));
        m_dlg.ShowWindow(SW_SHOW);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.GetSafeHwnd()));
    }
    void TearDown() override { m_dlg.DestroyWindow(); }

    HostDialog m_dlg;
};

TEST_F(WindowTest, WidgetsCarryIdClassAndKindAndFindTheirObjects) {
    QWidget* tab = m_dlg.GetDlgItem(kTab)->GetSafeHwnd();
    EXPECT_EQ(tab->property(orvo::kPropId).toInt(), kTab);
    EXPECT_EQ(tab->property(orvo::kPropKind).toString(), "tab");
    EXPECT_EQ(tab->property(orvo::kPropClass).toString(), "SysTabControl32");
    EXPECT_EQ(CWnd::FromHandlePermanent(tab), &m_dlg.m_tab);
    EXPECT_EQ(CWnd::FromHandlePermanent(m_dlg.GetSafeHwnd()), &m_dlg);
    EXPECT_EQ(m_dlg.GetDlgItem(kPlain)->GetDlgCtrlID(), kPlain);
    EXPECT_EQ(m_dlg.GetDlgItem(9999), nullptr);
    EXPECT_EQ(m_dlg.m_tab.GetParent(), &m_dlg);
    EXPECT_EQ(m_dlg.GetDlgItem(kPlain)->GetWindowText(), CString::FromUtf8("普通"));
    m_dlg.SetWindowText(CString::FromUtf8("新标题"));
    EXPECT_EQ(m_dlg.GetSafeHwnd()->windowTitle(), QString::fromUtf8("新标题"));
    EXPECT_TRUE(IsWindow(tab));
    CWnd second;
    EXPECT_FALSE(second.SubclassWindow(tab)) << "a widget has one permanent object";
}

TEST_F(WindowTest, ChildGeometryRoundTripsWithExclusiveEdges) {
    CWnd* plain = m_dlg.GetDlgItem(kPlain);
    plain->MoveWindow(CRect(10, 20, 110, 45));
    CRect r;
    plain->GetWindowRect(r);
    m_dlg.ScreenToClient(r);
    EXPECT_EQ(r, CRect(10, 20, 110, 45));
    EXPECT_EQ(r.Height(), 25);
    CRect client;
    plain->GetClientRect(client);
    EXPECT_EQ(client, CRect(0, 0, 100, 25));
    CPoint p(0, 0);
    plain->ClientToScreen(&p);
    m_dlg.ScreenToClient(&p);
    EXPECT_EQ(p, CPoint(10, 20));
}

TEST_F(WindowTest, TabControlNotifiesUserChangesOnly) {
    EXPECT_EQ(m_dlg.m_tab.InsertItem(0, CString::FromUtf8("行情触发单[F1]")), 0);
    EXPECT_EQ(m_dlg.m_tab.InsertItem(1, "B"), 1);
    EXPECT_EQ(m_dlg.m_tab.InsertItem(2, "C"), 2);
    EXPECT_EQ(m_dlg.m_tab.GetItemCount(), 3);
    EXPECT_EQ(m_dlg.m_tab.GetCurSel(), 0);
    EXPECT_EQ(m_dlg.m_tab.GetItemText(0), CString::FromUtf8("行情触发单[F1]"));
    EXPECT_TRUE(m_dlg.notifications.empty()) << "inserting tabs is no user change";

    EXPECT_EQ(m_dlg.m_tab.SetCurSel(2), 0);
    EXPECT_EQ(m_dlg.m_tab.GetCurSel(), 2);
    EXPECT_EQ(m_dlg.m_tab.GetCurFocus(), 2);
    EXPECT_TRUE(m_dlg.notifications.empty()) << "SetCurSel does not notify";
    EXPECT_EQ(m_dlg.m_tab.SetCurSel(7), -1);

    // A click on tab 1 reaches the dialog as WM_NOTIFY TCN_SELCHANGE from the tab control.
    auto* bar = m_dlg.m_tab.GetSafeHwnd()->findChild<QTabBar*>();
    ASSERT_NE(bar, nullptr);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    ASSERT_EQ(m_dlg.notifications.size(), 1u);
    EXPECT_EQ(m_dlg.notifications[0], std::make_pair(kTab, TCN_SELCHANGE));
    // The messages work on a window without its own object too.
    CWnd* plainHandle = CWnd::FromHandle(m_dlg.m_tab.GetSafeHwnd());
    EXPECT_EQ(SendMessage(plainHandle->GetSafeHwnd(), TCM_GETCURSEL), 1);

    // The display area lies inside the control, below the tabs.
    CRect area;
    m_dlg.m_tab.GetClientRect(area);
    const CRect whole = area;
    m_dlg.m_tab.AdjustRect(FALSE, area);
    EXPECT_GT(area.top, whole.top + 10);
    EXPECT_LT(area.bottom, whole.bottom + 1);
    m_dlg.m_tab.AdjustRect(TRUE, area);
    EXPECT_EQ(area, whole);
}

TEST_F(WindowTest, SubclassedStaticGetsMouseWithCaptureAndConfinement) {
    QWidget* bar = m_dlg.m_bar.GetSafeHwnd();
    // A static needs SS_NOTIFY to see the mouse at all.
    EXPECT_TRUE(bar->testAttribute(Qt::WA_TransparentForMouseEvents));
    m_dlg.m_bar.ModifyStyle(0, SS_NOTIFY);
    EXPECT_FALSE(bar->testAttribute(Qt::WA_TransparentForMouseEvents));

    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_EQ(GetCapture(), bar);
    // Confine to a band 10 pixels high around the press point; a move beyond it reports the edge.
    CRect track;
    m_dlg.m_bar.GetWindowRect(track);
    track.top += 0;
    track.bottom = track.top + 10;
    ClipCursor(track);
    QTest::mouseMove(bar, QPoint(20, 3));
    QTest::mouseMove(bar, QPoint(20, 300));
    ClipCursor(nullptr);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(20, 3));
    EXPECT_EQ(GetCapture(), nullptr);

    const auto& ev = m_dlg.m_bar.events;
    ASSERT_GE(ev.size(), 4u);
    EXPECT_EQ(ev.front(), std::make_pair(WM_LBUTTONDOWN, CPoint(20, 5)));
    bool sawClamped = false;
    for (const auto& [msg, p] : ev)
        if (msg == WM_MOUSEMOVE && p.y == 9)
            sawClamped = true;
    EXPECT_TRUE(sawClamped) << "a move below the track reports the last row inside it";
    EXPECT_EQ(ev.back().first, WM_LBUTTONUP);
    EXPECT_EQ(m_dlg.m_bar.captureLost.size(), 1u) << "WM_CAPTURECHANGED on release";
}

TEST_F(WindowTest, CtlColorOfTheParentPaintsTheStatic) {
    QWidget* bar = m_dlg.m_bar.GetSafeHwnd();
    const QImage image = bar->grab().toImage();
    ASSERT_FALSE(image.isNull());
    int background = 0;
    int gold = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == QColor(74, 112, 139))
                ++background;
            else if (c.red() > 200 && c.green() > 150 && c.blue() < 120)
                ++gold;
        }
    EXPECT_GT(background, image.width() * image.height() / 2);
    EXPECT_GT(gold, 5) << "text in the colour the parent chose";

    // A static the parent does not colour keeps the usual look.
    const QImage plain = m_dlg.GetDlgItem(kPlain)->GetSafeHwnd()->grab().toImage();
    EXPECT_NE(plain.pixelColor(1, 1), QColor(74, 112, 139));
}

TEST_F(WindowTest, ReflectedNotificationStaysWithTheControlUnlessItSaysOtherwise) {
    QWidget* button = m_dlg.m_button.GetSafeHwnd();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(m_dlg.m_button.clicks, 1);
    EXPECT_EQ(m_dlg.parentClicks, 0);
    m_dlg.m_button.letParentSee = TRUE;
    m_dlg.m_button.Click();
    EXPECT_EQ(m_dlg.m_button.clicks, 2);
    EXPECT_EQ(m_dlg.parentClicks, 1);
}

TEST_F(WindowTest, RuntimeWindowsAreOwnedAndDestroyedWithTheirObject) {
    QPointer<QWidget> made;
    {
        CStatic label;
        ASSERT_TRUE(label.Create("x", WS_CHILD | WS_VISIBLE, CRect(1, 2, 51, 22), &m_dlg, 77));
        made = label.GetSafeHwnd();
        EXPECT_EQ(m_dlg.GetDlgItem(77), &label);
        EXPECT_EQ(made->geometry(), QRect(1, 2, 50, 20));
    }
    EXPECT_TRUE(made.isNull());
    CWnd unknown;
    EXPECT_FALSE(unknown.Create("NoSuchClass", "", WS_CHILD, CRect(0, 0, 1, 1), &m_dlg, 78));
}

TEST(WindowLifetime, HandlesOutliveNothingTheyDoNotOwn) {
    guitest::App();
    // A temporary object made for a bare widget goes with the widget; a message posted to a widget that is
    // destroyed before delivery is dropped.
    auto* bare = new QWidget;
    CWnd* temporary = CWnd::FromHandle(bare);
    ASSERT_NE(temporary, nullptr);
    EXPECT_TRUE(temporary->IsTemporary());
    EXPECT_EQ(CWnd::FromHandle(bare), temporary) << "one temporary per widget";
    PostMessage(bare, WM_USER + 1, 0, 0);
    delete bare;
    QCoreApplication::processEvents();
    EXPECT_FALSE(IsWindow(bare));

    // A permanent object is told its widget went away and can attach again.
    CWnd permanent;
    auto* first = new QWidget;
    ASSERT_TRUE(permanent.SubclassWindow(first));
    delete first;
    EXPECT_EQ(permanent.GetSafeHwnd(), nullptr);
    auto* second = new QWidget;
    EXPECT_TRUE(permanent.SubclassWindow(second));
    EXPECT_EQ(permanent.Detach(), second);
    EXPECT_EQ(CWnd::FromHandlePermanent(second), nullptr);
    delete second;
    QCoreApplication::processEvents();
}

TEST(WindowLifetime, TemplateFaceFallsBackToAnInstalledCjkFont) {
    guitest::App();
    const QFont font = orvo::FontFromFace(CString::FromUtf8("宋体"), 9);
    EXPECT_EQ(font.pointSize(), 9);
    EXPECT_TRUE(QFontDatabase::hasFamily(font.family())) << font.family().toStdString();
    EXPECT_TRUE(QFontMetrics(font).inFont(QChar(0x67E5)))
        << "the font has the CJK characters of the captions";
}

} // namespace
