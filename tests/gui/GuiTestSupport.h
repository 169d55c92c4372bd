// Shared set-up of the window tests: one QApplication for the process and small template builders.
#pragma once

#include "platform/Resources.h"

#include <QApplication>

#include <string>
#include <vector>

namespace guitest {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "gui-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

inline DialogControlTemplate Control(int id, std::string className, const char* utf8Text, DWORD style, int x,
                                     int y, int cx, int cy) {
    DialogControlTemplate c;
    c.id = id;
    c.className = std::move(className);
    c.text = CString::FromUtf8(utf8Text);
    c.style = style | WS_CHILD | WS_VISIBLE;
    c.x = x, c.y = y, c.cx = cx, c.cy = cy;
    return c;
}

inline DialogTemplate Template(UINT id, int cx, int cy, std::vector<DialogControlTemplate> controls) {
    DialogTemplate t;
    t.id = id;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MAXIMIZEBOX | DS_MODALFRAME;
    t.caption = CString::FromUtf8("测试窗口");
    t.fontFace = CString::FromUtf8("宋体");
    t.fontPointSize = 9;
    t.cx = cx, t.cy = cy;
    t.controls = std::move(controls);
    return t;
}

} // namespace guitest
