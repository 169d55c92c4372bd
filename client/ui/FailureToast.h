// A short notice over whatever window is in front, for a channel failure that happens while a module's
// window covers the main window: the module shows a failed request as an empty list, and the user must
// not take that for "no rows". It takes no focus and goes away by itself.
#pragma once

#include <QLabel>

class QTimer;

class FailureToast : public QLabel {
public:
    FailureToast();
    void ShowOver(QWidget* window, const QString& text);

private:
    QTimer* m_hide;
};
