#include "client/automation/ControlKinds.h"

#include "platform/Wnd.h"

namespace automation {

ControlKinds& ControlKinds::Instance() {
    static ControlKinds kinds;
    return kinds;
}

ControlKinds::ControlKinds() {
    AddHostControlKinds(*this);
    AddStandardControlKinds(*this);
}

void ControlKinds::Add(ControlKind kind) {
    m_kinds.push_back(std::move(kind));
}

const ControlKind* ControlKinds::Find(QWidget* widget) const {
    CWnd* wnd = CWnd::FromHandlePermanent(widget);
    for (const ControlKind& kind : m_kinds)
        if (kind.matches(widget, wnd))
            return &kind;
    return nullptr;
}

} // namespace automation
