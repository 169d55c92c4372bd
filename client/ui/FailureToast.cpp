#include "client/ui/FailureToast.h"

#include <QTimer>

namespace {

constexpr int kShownMs = 8000;
constexpr int kBottomMargin = 60;

} // namespace

FailureToast::FailureToast()
    : QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint), m_hide(new QTimer(this)) {
    setObjectName("failureToast");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setStyleSheet("QLabel { background: #b00020; color: white; padding: 8px 14px; border-radius: 4px; }");
    setWordWrap(true);
    m_hide->setSingleShot(true);
    connect(m_hide, &QTimer::timeout, this, &QWidget::hide);
}

void FailureToast::ShowOver(QWidget* window, const QString& text) {
    setText(text);
    if (window)
        setMaximumWidth(std::max(200, window->width() - 40));
    adjustSize();
    if (window) {
        const QRect frame = window->frameGeometry();
        move(frame.center().x() - width() / 2, frame.bottom() - height() - kBottomMargin);
    }
    show();
    raise();
    m_hide->start(kShownMs);
}
