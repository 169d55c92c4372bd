#include "query/QueryProgress.h"

#include "host/com/FixComm.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>

namespace {
constexpr auto kQuietPeriod = std::chrono::milliseconds(500);
constexpr auto kRepaintEvery = std::chrono::milliseconds(100);
// A query shorter than this ended before a user could have reacted to it: its end takes no input.
constexpr long kReactionMs = 100;
constexpr int kDrainMs = 50;
} // namespace

// Swallows the user's input for the whole application while a request waits; Escape marks the wait
// cancelled.
class CQueryProgress::InputGate : public QObject {
public:
    explicit InputGate(bool& cancelled) : m_cancelled(cancelled) { qApp->installEventFilter(this); }
    ~InputGate() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
                m_cancelled = true;
            return true;
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }

private:
    bool& m_cancelled;
};

namespace {
// The application's count of requests under way, for tools that must wait until the window is idle
// (automation); an application property, so that it needs no link to the module.
void CountQueryRunning(int step) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->setProperty(kQueryRunningProperty, app->property(kQueryRunningProperty).toInt() + step);
}
} // namespace

CQueryProgress::CQueryProgress(CFixComm* pFixComm, std::function<void(const CString&)> show)
    : m_pFixComm(pFixComm), m_show(std::move(show)) {
    CountQueryRunning(+1);
    if (m_pFixComm)
        m_pFixComm->SetWaitCallback([this](long rows) { return OnWait(rows); });
}

CQueryProgress::~CQueryProgress() {
    if (m_pFixComm)
        m_pFixComm->SetWaitCallback(nullptr);
    CountQueryRunning(-1);
}

long CQueryProgress::ElapsedMs() const {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start)
            .count());
}

BOOL CQueryProgress::Finish() {
    if (ElapsedMs() >= kReactionMs && QApplication::instance()) {
        if (!m_gate)
            m_gate = std::make_unique<InputGate>(m_bCancelled);
        QApplication::processEvents(QEventLoop::AllEvents, kDrainMs);
    }
    m_gate.reset();
    return m_bCancelled;
}

bool CQueryProgress::OnWait(long rows) {
    if (m_bCancelled)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_start < kQuietPeriod || now - m_lastShown < kRepaintEvery)
        return true;
    m_lastShown = now;
    if (!m_gate)
        m_gate = std::make_unique<InputGate>(m_bCancelled);
    if (m_show)
        // No count before the first row: a request still waiting for its connection or its server has
        // received nothing, and "0 行" would read as an answer of none.
        m_show(CString::FromUtf8(rows > 0 ? "正在查询，已收到 " + std::to_string(rows) + " 行 (Esc 取消)"
                                          : std::string("正在查询… (Esc 取消)")));
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    return !m_bCancelled;
}
