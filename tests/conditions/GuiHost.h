// A top-level window for controls made in code, recording the messages its children send it.
// Shared by the conditions and controls tests.
#pragma once

#include "platform/Wnd.h"

#include <QApplication>
#include <QWidget>

#include <vector>

namespace condtest {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "conditions-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct SentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class RecordingWnd : public CWnd {
public:
    RecordingWnd() {
        App();
        m_widget = new QWidget;
        m_widget->resize(400, 300);
        SubclassWindow(m_widget);
        m_bOwnsWindow = true;
    }
    std::vector<SentMessage> sent;

    std::vector<SentMessage> Of(UINT message) const {
        std::vector<SentMessage> found;
        for (const SentMessage& m : sent)
            if (m.message == message)
                found.push_back(m);
        return found;
    }
    // WM_COMMAND notifications with this code.
    int Commands(UINT code) const {
        int count = 0;
        for (const SentMessage& m : sent)
            if (m.message == WM_COMMAND && HIWORD(m.wParam) == code)
                ++count;
        return count;
    }

    // What reaches the default processing: every message the window was sent that no child took back
    // by reflection (this window has no handlers of its own).
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message >= WM_COMMAND || message == WM_NOTIFY)
            sent.push_back({message, wParam, lParam});
        return CWnd::DefWindowProc(message, wParam, lParam);
    }

private:
    QWidget* m_widget;
};

} // namespace condtest
