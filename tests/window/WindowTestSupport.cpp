#include "WindowTestSupport.h"

#include "platform/Resources.h"
#include "platform/WndInternal.h"
#include "res/DialogTemplates.h"
#include "res/Resource.h"

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
            dlg.m_dlgCondition.m_strBranch = c.m_strBranch;
            dlg.m_dlgCondition.m_strGroup = c.m_strGroup;
            dlg.m_dlgCondition.m_strCustomer = c.m_strCustomer;
            dlg.m_dlgCondition.m_strExchange = c.m_strExchange;
            dlg.m_dlgCondition.m_strVariety = c.m_strVariety;
            dlg.m_dlgCondition.m_strContract = c.m_strContract;
            dlg.m_dlgCondition.m_strValidity = c.m_strValidity;
            dlg.m_dlgCondition.m_strBeginDate = c.m_strBeginDate;
            dlg.m_dlgCondition.m_strEndDate = c.m_strEndDate;
        }
        condition->EndDialog(answer.result);
    });
    answerer.start();

    bool ran = false;
    QTimer starter;
    starter.setInterval(2);
    QObject::connect(&starter, &QTimer::timeout, [&] {
        if (ran || !dlg.IsModalRunning() || OpenConditionDialog())
            return;
        ran = true;
        starter.stop();
        // As on a desktop, the window is active once its conditions dialog has gone.
        dlg.GetSafeHwnd()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.GetSafeHwnd(), 2000));
        body();
        dlg.EndDialog(IDCANCEL);
    });
    starter.start();

    // A test that hangs fails instead of waiting for the ctest time-out.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the window did not finish";
        if (CDialog* condition = OpenConditionDialog())
            condition->EndDialog(IDCANCEL);
        dlg.EndDialog(IDCANCEL);
    });
    watchdog.start(kWatchdog);

    dlg.DoModal();
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
