// The splitter bar on a plain dialog: the drag and its end in every way, the track limits, the ghost,
// the keys it swallows, and the neighbours it re-lays.
#include "WindowTestSupport.h"

#include "controls/SplitterBar.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT kDlg = 7400;
constexpr int kAbove = 7401;
constexpr int kBelow = 7402;
constexpr int kBar = 7404;
constexpr int kKeys = 7405;
const int kOwner = 0;

DialogControlTemplate Control(int id, const char* className, int y) {
    DialogControlTemplate c;
    c.id = id;
    c.className = className;
    c.text = "x";
    c.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    c.x = 5, c.y = y, c.cx = 100, c.cy = 10;
    return c;
}

DialogTemplate HostTemplate() {
    DialogTemplate t;
    t.id = kDlg;
    t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
    t.caption = "split";
    t.fontFace = CString::FromUtf8("宋体");
    t.cx = 200, t.cy = 200;
    t.controls = {Control(kAbove, orvo::wc::kStatic, 5), Control(kBar, orvo::wc::kStatic, 20),
                  Control(kBelow, orvo::wc::kStatic, 35), Control(kKeys, orvo::wc::kButton, 50)};
    return t;
}

// Records the key-downs that reach it.
class KeyRecorder : public CButton {
public:
    std::vector<UINT> keys;

protected:
    void OnKeyDown(UINT key, UINT, UINT) { keys.push_back(key); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(KeyRecorder, CButton)
ON_WM_KEYDOWN()
END_MESSAGE_MAP()

class SplitHost : public CDialog {
public:
    SplitHost() : CDialog(kDlg) {}
    CSplitterBar m_bar;
    KeyRecorder m_keys;
    std::vector<int> displacements;
    std::vector<LPARAM> senders;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_bar.AttachToDlgItem(this, kBar);
        m_bar.AddAbove(kAbove);
        m_bar.AddBelow(kBelow);
        m_keys.SubclassDlgItem(kKeys, this);
        return TRUE;
    }
    LRESULT OnSplitterMoved(WPARAM wParam, LPARAM lParam) {
        displacements.push_back(static_cast<int>(static_cast<INT_PTR>(wParam)));
        senders.push_back(lParam);
        return 1;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(SplitHost, CDialog)
ON_MESSAGE(UM_SPLITTER_MOVED, &SplitHost::OnSplitterMoved)
END_MESSAGE_MAP()

class SplitterBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        windowtest::App();
        orvo::RegisterDialogTemplates(&kOwner, {HostTemplate()});
        ASSERT_TRUE(host.Create(kDlg));
        host.GetSafeHwnd()->resize(400, 500);
        QApplication::processEvents();
        // Pixels, so that the limits are known: above 10..200, bar 201..221, below 222..440.
        host.GetDlgItem(kAbove)->MoveWindow(10, 10, 380, 190);
        host.m_bar.MoveWindow(10, 201, 380, 20);
        host.GetDlgItem(kBelow)->MoveWindow(10, 222, 380, 218);
        host.m_keys.MoveWindow(10, 460, 80, 30);
    }
    void TearDown() override {
        if (host.m_bar.IsDragging())
            QTest::mouseRelease(bar(), Qt::LeftButton);
        host.DestroyWindow();
        orvo::UnregisterDialogTemplates(&kOwner);
        QApplication::processEvents();
    }

    QWidget* bar() { return host.m_bar.GetSafeHwnd(); }
    CRect barRect() { return windowtest::RectInParent(host.m_bar); }
    CRect aboveRect() { return windowtest::RectInParent(*host.GetDlgItem(kAbove)); }
    CRect belowRect() { return windowtest::RectInParent(*host.GetDlgItem(kBelow)); }

    // Press at y inside the bar, move by dy in a few steps, release.
    void Drag(int dy, int grabY = 8) {
        QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, grabY));
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(bar(), QPoint(50, grabY + dy * step / 4));
        QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, grabY + dy));
    }

    SplitHost host;
};

TEST_F(SplitterBarTest, DragDownThenUpMovesTheBarAndTheFacingEdgesOfItsNeighbours) {
    Drag(40);
    EXPECT_EQ(barRect(), CRect(10, 241, 390, 261));
    EXPECT_EQ(aboveRect(), CRect(10, 10, 390, 240)) << "top kept, bottom one pixel above the bar";
    EXPECT_EQ(belowRect(), CRect(10, 262, 390, 440)) << "bottom kept, top one pixel below the bar";

    Drag(-70);
    EXPECT_EQ(barRect(), CRect(10, 171, 390, 191));
    EXPECT_EQ(aboveRect(), CRect(10, 10, 390, 170));
    EXPECT_EQ(belowRect(), CRect(10, 192, 390, 440));

    EXPECT_EQ(host.displacements, (std::vector<int>{40, -70}));
    EXPECT_EQ(host.senders, (std::vector<LPARAM>{kBar, kBar}));
    EXPECT_FALSE(host.m_bar.IsDragging());
    EXPECT_EQ(GetCapture(), nullptr);
    RECT clip;
    EXPECT_FALSE(GetClipCursor(&clip)) << "the cursor is free again";
}

TEST_F(SplitterBarTest, AClickWithoutMovingReportsZeroAndLaysTheNeighboursOffTheBar) {
    Drag(0);
    EXPECT_EQ(host.displacements, (std::vector<int>{0}));
    EXPECT_EQ(barRect(), CRect(10, 201, 390, 221));
    EXPECT_EQ(aboveRect(), CRect(10, 10, 390, 200));
    EXPECT_EQ(belowRect(), CRect(10, 222, 390, 440));
}

TEST_F(SplitterBarTest, TheBarStopsAtTheMarginsFromTheClientAndItsNeighbours) {
    // Top limit: 100 below the control above (its top 10 lies below the client's top). Bottom limit: 90
    // above the bottom of the control below (440), which lies above the client's bottom (500).
    CRect track;
    host.m_bar.GetTrackRect(track, 8);
    CRect client;
    host.GetClientRect(client);
    host.ClientToScreen(client);
    EXPECT_EQ(track.top - client.top, 10 + CSplitterBar::kDefaultTopMargin + 8);
    EXPECT_EQ(track.bottom - client.top, 440 - CSplitterBar::kDefaultBottomMargin + 8 - 20 + 1);

    Drag(1000);
    EXPECT_EQ(barRect().bottom, 440 - CSplitterBar::kDefaultBottomMargin);
    EXPECT_EQ(belowRect().Height(), CSplitterBar::kDefaultBottomMargin - 1) << "a few detail rows stay";
    Drag(-1000);
    EXPECT_EQ(barRect().top, 10 + CSplitterBar::kDefaultTopMargin);
    EXPECT_EQ(aboveRect().Height(), CSplitterBar::kDefaultTopMargin - 1) << "the tab headers stay";
    ASSERT_EQ(host.displacements.size(), 2u);
    EXPECT_EQ(host.displacements[0], 350 - 221);
    EXPECT_EQ(host.displacements[1], 110 - 330);
}

TEST_F(SplitterBarTest, WithoutRoomForBothMarginsTheBarStaysWhereItIs) {
    // Top limit 120 + 100, bottom limit 300 - 90: no place for a bar 20 high.
    host.GetDlgItem(kAbove)->MoveWindow(10, 120, 380, 80);
    host.GetDlgItem(kBelow)->MoveWindow(10, 222, 380, 78);
    Drag(60);
    Drag(-60);
    EXPECT_EQ(host.displacements, (std::vector<int>{0, 0}));
    EXPECT_EQ(barRect(), CRect(10, 201, 390, 221));
}

TEST_F(SplitterBarTest, TheGhostFollowsTheMouseAndGoesAtTheEnd) {
    QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    EXPECT_TRUE(host.m_bar.IsDragging());
    EXPECT_EQ(orvo::DragRectsOf(host.GetSafeHwnd()), (std::vector<CRect>{CRect(10, 201, 390, 221)}));
    QTest::mouseMove(bar(), QPoint(50, 20));
    QTest::mouseMove(bar(), QPoint(50, 33));
    EXPECT_EQ(orvo::DragRectsOf(host.GetSafeHwnd()), (std::vector<CRect>{CRect(10, 226, 390, 246)}))
        << "one ghost, where the mouse is";
    EXPECT_EQ(barRect(), CRect(10, 201, 390, 221)) << "the bar itself waits for the end";
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, 33));
    EXPECT_TRUE(orvo::DragRectsOf(host.GetSafeHwnd()).empty());
    EXPECT_EQ(barRect(), CRect(10, 226, 390, 246));
}

TEST_F(SplitterBarTest, EscapeEndsTheDragWhereTheGhostIs) {
    QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    QTest::mouseMove(bar(), QPoint(50, 38));
    QTest::keyClick(host.m_keys.GetSafeHwnd(), Qt::Key_Escape);
    EXPECT_FALSE(host.m_bar.IsDragging());
    EXPECT_EQ(host.displacements, (std::vector<int>{30}));
    EXPECT_EQ(barRect(), CRect(10, 231, 390, 251)) << "the last tracked position, not the start";
    EXPECT_TRUE(host.m_keys.keys.empty()) << "Escape went to nobody";
    EXPECT_EQ(GetCapture(), nullptr);

    // Later moves and the release belong to nobody's drag.
    QTest::mouseMove(bar(), QPoint(50, 80));
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, 80));
    EXPECT_EQ(host.displacements.size(), 1u);
    EXPECT_EQ(barRect(), CRect(10, 231, 390, 251));
}

TEST_F(SplitterBarTest, KeysDuringTheDragAreSwallowedAndReachTheirControlAfterwards) {
    QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    QTest::keyClick(host.m_keys.GetSafeHwnd(), Qt::Key_A);
    QTest::keyClick(host.m_keys.GetSafeHwnd(), Qt::Key_Down);
    QTest::keyClick(host.m_keys.GetSafeHwnd(), Qt::Key_Return);
    EXPECT_TRUE(host.m_keys.keys.empty());
    EXPECT_TRUE(host.m_bar.IsDragging()) << "only Escape ends the drag";
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    QApplication::processEvents();

    QTest::keyClick(host.m_keys.GetSafeHwnd(), Qt::Key_A);
    EXPECT_EQ(host.m_keys.keys, (std::vector<UINT>{'A'}));
}

TEST_F(SplitterBarTest, ARightButtonPressOrALostCaptureEndsTheDragAsAReleaseWould) {
    QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    QTest::mouseMove(bar(), QPoint(50, 18));
    QTest::mousePress(bar(), Qt::RightButton, {}, QPoint(50, 18));
    EXPECT_FALSE(host.m_bar.IsDragging());
    EXPECT_EQ(barRect().top, 211);
    QTest::mouseRelease(bar(), Qt::RightButton, {}, QPoint(50, 18));
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, 18));

    QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    QTest::mouseMove(bar(), QPoint(50, 3));
    host.m_keys.SetCapture(); // another window takes the mouse
    EXPECT_FALSE(host.m_bar.IsDragging());
    EXPECT_EQ(barRect().top, 206);
    EXPECT_EQ(host.displacements, (std::vector<int>{10, -5}));
    ReleaseCapture();
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, 3));
}

TEST_F(SplitterBarTest, NoDragStartsWhileAnotherWindowHoldsTheCapture) {
    host.m_keys.SetCapture();
    QTest::mousePress(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    EXPECT_FALSE(host.m_bar.IsDragging());
    ReleaseCapture();
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, QPoint(50, 8));
    EXPECT_TRUE(host.displacements.empty());
    EXPECT_EQ(barRect(), CRect(10, 201, 390, 221));
}

TEST_F(SplitterBarTest, TheBarTakesTheMouseAndShowsTheSplitCursor) {
    EXPECT_TRUE(host.m_bar.GetStyle() & SS_NOTIFY);
    EXPECT_FALSE(bar()->testAttribute(Qt::WA_TransparentForMouseEvents));
    host.m_bar.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(bar()), MAKELPARAM(1, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, AFX_IDC_VSPLITBAR));
}

} // namespace
