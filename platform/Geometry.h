// Win32-shaped points, sizes and rectangles. Right and bottom are exclusive (bottom = top + height); the
// conversion to and from QRect, whose right() and bottom() are inclusive, lives here and nowhere else.
#pragma once

#include "platform/Types.h"

#include <QPoint>
#include <QRect>
#include <QSize>

struct POINT {
    LONG x = 0;
    LONG y = 0;
};
struct SIZE {
    LONG cx = 0;
    LONG cy = 0;
};
struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;
using LPPOINT = POINT*;

class CPoint : public POINT {
public:
    CPoint() = default;
    CPoint(LONG px, LONG py) : POINT{px, py} {}
    CPoint(POINT p) : POINT(p) {} // NOLINT(google-explicit-constructor): MFC idiom
    void Offset(LONG dx, LONG dy) { x += dx, y += dy; }
    friend bool operator==(const CPoint& a, const CPoint& b) { return a.x == b.x && a.y == b.y; }
};

class CSize : public SIZE {
public:
    CSize() = default;
    CSize(LONG w, LONG h) : SIZE{w, h} {}
    friend bool operator==(const CSize& a, const CSize& b) { return a.cx == b.cx && a.cy == b.cy; }
};

class CRect : public RECT {
public:
    CRect() = default;
    CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {} // NOLINT(google-explicit-constructor): MFC idiom
    CRect(CPoint topLeft, CSize size)
        : RECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}

    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
    CSize Size() const { return {Width(), Height()}; }
    CPoint TopLeft() const { return {left, top}; }
    CPoint BottomRight() const { return {right, bottom}; }
    CPoint CenterPoint() const { return {(left + right) / 2, (top + bottom) / 2}; }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }

    void SetRect(LONG l, LONG t, LONG r, LONG b) { left = l, top = t, right = r, bottom = b; }
    void OffsetRect(LONG dx, LONG dy) { left += dx, right += dx, top += dy, bottom += dy; }
    void DeflateRect(LONG dx, LONG dy) { left += dx, right -= dx, top += dy, bottom -= dy; }
    void InflateRect(LONG dx, LONG dy) { DeflateRect(-dx, -dy); }

    operator LPRECT() { return this; }        // NOLINT(google-explicit-constructor): MFC idiom
    operator LPCRECT() const { return this; } // NOLINT(google-explicit-constructor): MFC idiom

    friend bool operator==(const CRect& a, const CRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
};

namespace orvo {

// The only conversions between the exclusive and the inclusive convention.
inline QRect ToQRect(const RECT& r) {
    return QRect(QPoint(static_cast<int>(r.left), static_cast<int>(r.top)),
                 QSize(static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top)));
}
inline CRect FromQRect(const QRect& r) {
    return CRect(r.x(), r.y(), static_cast<LONG>(r.x()) + r.width(), static_cast<LONG>(r.y()) + r.height());
}
inline QPoint ToQPoint(POINT p) {
    return QPoint(static_cast<int>(p.x), static_cast<int>(p.y));
}
inline CPoint FromQPoint(QPoint p) {
    return CPoint(p.x(), p.y());
}

} // namespace orvo
