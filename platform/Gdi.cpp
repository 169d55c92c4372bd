#include "platform/Gdi.h"

#include "platform/DialogBuilder.h"
#include "platform/Wnd.h"
#include "platform/WndInternal.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <algorithm>

BOOL CBrush::CreateSolidBrush(COLORREF color) {
    m_hObject = std::make_unique<HBRUSH__>(HBRUSH__{color});
    return TRUE;
}

BOOL CBrush::DeleteObject() {
    const bool had = m_hObject != nullptr;
    m_hObject.reset();
    return had;
}

BOOL CFont::CreatePointFont(int pointSizeTenths, LPCTSTR faceName) {
    m_font = orvo::FontFromFace(CString(faceName), std::max(1, (pointSizeTenths + 5) / 10));
    m_valid = true;
    return TRUE;
}

BOOL CFont::DeleteObject() {
    const bool had = m_valid;
    m_valid = false;
    return had;
}

COLORREF CDC::SetTextColor(COLORREF color) {
    const COLORREF old = m_textColor;
    m_textColor = color;
    m_textColorSet = true;
    return old;
}

COLORREF CDC::SetBkColor(COLORREF color) {
    const COLORREF old = m_bkColor;
    m_bkColor = color;
    m_bkColorSet = true;
    return old;
}

int CDC::SetBkMode(int mode) {
    const int old = m_bkMode;
    m_bkMode = mode;
    return old;
}

CClientDC::CClientDC(CWnd* wnd) : CDC(wnd ? wnd->GetSafeHwnd() : nullptr) {}

// ---- drag rectangles ---------------------------------------------------------------------------------

namespace {

// A transparent child laid over a window's whole client area that draws the drag bands; the window's own
// painting is never touched, so removing a band restores exactly what was there.
class DragOverlay : public QWidget {
public:
    explicit DragOverlay(QWidget* window) : QWidget(window) {
        setObjectName(QStringLiteral("orvoDragOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(window->rect());
        window->installEventFilter(this);
    }

    void Toggle(const CRect& rect, SIZE band) {
        const auto same = [&](const Band& b) { return b.rect == rect; };
        const auto it = std::find_if(m_bands.begin(), m_bands.end(), same);
        if (it != m_bands.end())
            m_bands.erase(it);
        else
            m_bands.push_back({rect, band});
        setGeometry(parentWidget()->rect());
        raise();
        setVisible(!m_bands.empty());
        update();
    }

    std::vector<CRect> Rects() const {
        std::vector<CRect> rects;
        for (const Band& b : m_bands)
            rects.push_back(b.rect);
        return rects;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // A halftone band, as the framework's drag rectangle draws it.
        const QBrush halftone(QColor(0, 0, 0, 150), Qt::Dense4Pattern);
        for (const Band& b : m_bands) {
            const QRect outer = orvo::ToQRect(b.rect);
            const QRect inner = outer.adjusted(static_cast<int>(b.band.cx), static_cast<int>(b.band.cy),
                                               -static_cast<int>(b.band.cx), -static_cast<int>(b.band.cy));
            QRegion region(outer);
            if (inner.isValid())
                region -= QRegion(inner);
            for (const QRect& part : region)
                painter.fillRect(part, halftone);
        }
    }

private:
    struct Band {
        CRect rect;
        SIZE band;
    };
    std::vector<Band> m_bands;
};

DragOverlay* overlayOf(QWidget* window, bool create) {
    if (!window)
        return nullptr;
    auto* overlay =
        window->findChild<DragOverlay*>(QStringLiteral("orvoDragOverlay"), Qt::FindDirectChildrenOnly);
    if (!overlay && create)
        overlay = new DragOverlay(window);
    return overlay;
}

} // namespace

void CDC::DrawDragRect(LPCRECT rect, SIZE size, LPCRECT rectLast, SIZE sizeLast) {
    DragOverlay* overlay = overlayOf(m_hWnd, true);
    if (!overlay)
        return;
    if (rectLast)
        overlay->Toggle(CRect(*rectLast), sizeLast);
    if (rect)
        overlay->Toggle(CRect(*rect), size);
}

namespace orvo {
std::vector<CRect> DragRectsOf(HWND window) {
    const DragOverlay* overlay = overlayOf(window, false);
    return overlay ? overlay->Rects() : std::vector<CRect>{};
}
} // namespace orvo

// ---- cursors -----------------------------------------------------------------------------------------

namespace {

HCURSOR cursorOfShape(Qt::CursorShape shape) {
    static HCURSOR__ table[Qt::LastCursor + 1];
    static bool filled = false;
    if (!filled) {
        for (int i = 0; i <= Qt::LastCursor; ++i)
            table[i].shape = i;
        filled = true;
    }
    return &table[shape];
}

HCURSOR& currentCursor() {
    static HCURSOR cursor = nullptr;
    return cursor;
}

} // namespace

HCURSOR LoadCursor(void* /*instance*/, int cursorId) {
    switch (cursorId) {
    case IDC_ARROW:
        return cursorOfShape(Qt::ArrowCursor);
    case IDC_IBEAM:
        return cursorOfShape(Qt::IBeamCursor);
    case IDC_WAIT:
        return cursorOfShape(Qt::WaitCursor);
    case IDC_CROSS:
        return cursorOfShape(Qt::CrossCursor);
    case IDC_SIZENS:
        return cursorOfShape(Qt::SizeVerCursor);
    case IDC_SIZEWE:
        return cursorOfShape(Qt::SizeHorCursor);
    case AFX_IDC_VSPLITBAR:
        return cursorOfShape(Qt::SplitVCursor);
    case AFX_IDC_HSPLITBAR:
        return cursorOfShape(Qt::SplitHCursor);
    default:
        return nullptr;
    }
}

HCURSOR SetCursor(HCURSOR cursor) {
    const HCURSOR old = currentCursor();
    currentCursor() = cursor;
    // The cursor belongs to the window whose mouse message is being handled, else to the capture holder,
    // else to the window under the mouse.
    QWidget* target = orvo::CursorTarget();
    if (!target)
        target = ::GetCapture();
    if (!target)
        target = QApplication::widgetAt(QCursor::pos());
    if (target) {
        if (cursor)
            target->setCursor(static_cast<Qt::CursorShape>(cursor->shape));
        else
            target->unsetCursor();
    }
    return old;
}

HCURSOR GetCursor() {
    return currentCursor();
}
