#include "WindowTestSupport.h"

#include "platform/Resources.h"
#include "platform/WndInternal.h"
#include "res/DialogTemplates.h"
#include "res/Resource.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>

namespace windowtest {

namespace {
const int kTemplatesOwner = 0;
constexpr auto kWatchdog = std::chrono::seconds(60);
} // namespace

QApplication& App() {
    static int argc = 1;
    static char name[] = "window-tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    // The window keeps its layouts in the user's settings: the tests keep theirs in a folder of their own.
    static QTemporaryDir settingsDir;
    static const bool pathSet = [] {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        return true;
    }();
    (void)pathSet;
    return *app;
}

CRect RectInParent(HWND child) {
    CWnd* wnd = CWnd::FromHandle(child);
    CRect rect;
    wnd->GetWindowRect(rect);
    wnd->GetParent()->ScreenToClient(rect);
    return rect;
}

CRect RectInParent(const CWnd& child) {
    return RectInParent(child.GetSafeHwnd());
}

CDialog* OpenConditionDialog() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->property(orvo::kPropId).toInt() == static_cast<int>(IDD_QUERY_CONDITION))
            return dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(top));
    return nullptr;
}

querytest::FakeItems PriceTriggerRow(const std::string& customer, long serial, long triggerState) {
    return querytest::Row({{"797", std::to_string(serial)},
                           {"605", customer},
                           {"613", "客户甲"},
                           {"727", std::to_string(triggerState)},
                           {"719", "cu2501"},
                           {"683", "1"},
                           {"684", "3"},
                           {"7107", "2026.12.07"},
                           {"1240", "2026.12.31"},
                           {"7153", "2"}});
}

namespace {
// Created before the fixture's members, so that every widget has its application.
struct ApplicationFirst {
    ApplicationFirst() { App(); }
};
} // namespace

QueryWindowTest::QueryWindowTest() {
    static ApplicationFirst first;
    QSettings().clear(); // every test starts with no saved layout
    orvo::RegisterDialogTemplates(&kTemplatesOwner, orvo::res::ModuleDialogTemplates());
}

QueryWindowTest::~QueryWindowTest() {
    orvo::UnregisterDialogTemplates(&kTemplatesOwner);
}

QueryWindowTest::ConditionAnswer QueryWindowTest::Ok() {
    ConditionAnswer answer;
    answer.result = IDOK;
    answer.conditions.m_strValidity = CString("0");
    return answer;
}

QueryWindowTest::ConditionAnswer QueryWindowTest::Cancel() {
    return {};
}

void QueryWindowTest::RunWindow(std::vector<ConditionAnswer> answers, const std::function<void()>& body) {
    if (answers.empty())
        answers.push_back(Cancel());
    size_t next = 0;
    QTimer answerer;
    answerer.setInterval(2);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        CDialog* condition = OpenConditionDialog();
        if (!condition)
            return;
        const ConditionAnswer& answer = answers[std::min(next++, answers.size() - 1)];
        ++conditionOpenings;
        if (answer.pressButton) {
            condition->GetDlgItem(answer.result)->SendMessage(BM_CLICK);
            return;
        }
        if (answer.result == IDOK) {
            const QueryConditions& c = answer.conditions;
            runTarget->m_dlgCondition.m_strBranch = c.m_strBranch;
            runTarget->m_dlgCondition.m_strGroup = c.m_strGroup;
            runTarget->m_dlgCondition.m_strCustomer = c.m_strCustomer;
            runTarget->m_dlgCondition.m_strExchange = c.m_strExchange;
            runTarget->m_dlgCondition.m_strVariety = c.m_strVariety;
            runTarget->m_dlgCondition.m_strContract = c.m_strContract;
            runTarget->m_dlgCondition.m_strValidity = c.m_strValidity;
            runTarget->m_dlgCondition.m_strBeginDate = c.m_strBeginDate;
            runTarget->m_dlgCondition.m_strEndDate = c.m_strEndDate;
        }
        condition->EndDialog(answer.result);
    });
    answerer.start();

    bool ran = false;
    QTimer starter;
    starter.setInterval(2);
    QObject::connect(&starter, &QTimer::timeout, [&] {
        if (ran || !runTarget->IsModalRunning() || OpenConditionDialog())
            return;
        ran = true;
        starter.stop();
        // As on a desktop, the window is active once its conditions dialog has gone.
        runTarget->GetSafeHwnd()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(runTarget->GetSafeHwnd(), 2000));
        body();
        runTarget->EndDialog(IDCANCEL);
    });
    starter.start();

    // A test that hangs fails instead of waiting for the ctest time-out.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the window did not finish";
        if (CDialog* condition = OpenConditionDialog())
            condition->EndDialog(IDCANCEL);
        runTarget->EndDialog(IDCANCEL);
    });
    watchdog.start(kWatchdog);

    runTarget->DoModal();
    EXPECT_TRUE(ran) << "the window's loop never ran";
}

void QueryWindowTest::ResizeClient(int cx, int cy) {
    QWidget* window = dlg.GetSafeHwnd();
    window->showNormal();
    QApplication::processEvents();
    window->resize(cx, cy);
    for (int i = 0; i < 50 && window->size() != QSize(cx, cy); ++i)
        QApplication::processEvents();
    QApplication::processEvents();
}

size_t QueryWindowTest::RequestCount(std::uint32_t function) const {
    return server.Requests(function).size();
}

} // namespace windowtest
