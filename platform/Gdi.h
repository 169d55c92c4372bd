// The drawing objects the windows exchange: fonts, solid brushes, cursors and the device context that
// OnCtlColor fills in and a drag draws its ghost with.
#pragma once

#include "platform/Messages.h"

#include <QFont>

#include <memory>
#include <vector>

struct HBRUSH__ {
    COLORREF color;
};
using HBRUSH = HBRUSH__*;
using HFONT = const QFont*;

// A cursor is one of Qt's shapes; handles are shared statics and never freed.
struct HCURSOR__ {
    int shape; // Qt::CursorShape
};
using HCURSOR = const HCURSOR__*;

class CBrush {
public:
    CBrush() = default;
    explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
    ~CBrush() { DeleteObject(); }
    CBrush(const CBrush&) = delete;
    CBrush& operator=(const CBrush&) = delete;

    BOOL CreateSolidBrush(COLORREF color);
    BOOL DeleteObject();
    HBRUSH GetSafeHandle() const { return m_hObject.get(); }
    operator HBRUSH() const { return m_hObject.get(); } // NOLINT(google-explicit-constructor): MFC idiom

private:
    std::unique_ptr<HBRUSH__> m_hObject;
};

class CFont {
public:
    CFont() = default;
    explicit CFont(const QFont& font) : m_font(font), m_valid(true) {}
    // Point size in tenths of a point, face in GBK; a face the system lacks falls back to a CJK font.
    BOOL CreatePointFont(int pointSizeTenths, LPCTSTR faceName);
    BOOL DeleteObject();
    HFONT GetSafeHandle() const { return m_valid ? &m_font : nullptr; }
    operator HFONT() const { return GetSafeHandle(); } // NOLINT(google-explicit-constructor): MFC idiom
    const QFont& GetQFont() const { return m_font; }
    void SetQFont(const QFont& font) {
        m_font = font;
        m_valid = true;
    }

private:
    QFont m_font;
    bool m_valid = false;
};

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// A device context. For OnCtlColor it records the colours the handler chooses; for a window's client area
// (CWnd::GetDC) it also draws drag rectangles as an overlay on that window.
class CDC {
public:
    CDC() = default;
    explicit CDC(HWND target) : m_hWnd(target) {}
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    COLORREF SetTextColor(COLORREF color);
    COLORREF SetBkColor(COLORREF color);
    int SetBkMode(int mode);
    COLORREF GetTextColor() const { return m_textColor; }
    COLORREF GetBkColor() const { return m_bkColor; }
    int GetBkMode() const { return m_bkMode; }
    bool HasTextColor() const { return m_textColorSet; }
    bool HasBkColor() const { return m_bkColorSet; }

    // Inverts the band of thickness size along the inside of rect and, given the previous rectangle,
    // removes its band in the same step; drawing the same rectangle twice erases it (XOR drawing).
    void DrawDragRect(LPCRECT rect, SIZE size, LPCRECT rectLast, SIZE sizeLast);

    HWND GetWindow() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
    COLORREF m_textColor = 0;
    COLORREF m_bkColor = 0xFFFFFF;
    int m_bkMode = OPAQUE;
    bool m_textColorSet = false;
    bool m_bkColorSet = false;
};

// A device context on a window's client area for the life of the object.
class CClientDC : public CDC {
public:
    explicit CClientDC(class CWnd* wnd);
};

HCURSOR LoadCursor(void* instance, int cursorId); // instance is ignored: every cursor is built in
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

namespace orvo {
// Drag rectangles currently shown over a window, in its client coordinates (for tests and automation).
std::vector<CRect> DragRectsOf(HWND window);
} // namespace orvo
