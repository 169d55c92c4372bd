// Shared set-up of the query window tests: the application, the module's dialog templates, a fake counter
// server behind g_pFixComm, and a runner that opens the window modally, answers its conditions dialog and
// runs a test body inside the window's modal loop.
#pragma once

#include "QueryServerFixture.h"

#include "platform/Dialog.h"
#include "query/ExtOrderQueryDlg.h"

#include <QApplication>

#include <functional>
#include <string>
#include <vector>

namespace windowtest {

QApplication& App();

// A child's window rectangle in its parent's client coordinates.
CRect RectInParent(const CWnd& child);
CRect RectInParent(HWND child);

// The conditions dialog when one is open, else null.
CDialog* OpenConditionDialog();

// Rows of a rule reply for the price-trigger tab: customer, serial number and trigger state.
querytest::FakeItems PriceTriggerRow(const std::string& customer, long serial, long triggerState);

class QueryWindowTest : public querytest::QueryServerTest {
protected:
    QueryWindowTest();
    ~QueryWindowTest() override;

    // What the conditions dialog answers each time it opens. With IDOK, `conditions` become the confirmed
    // ones, as the dialog's own OK would make them.
    struct ConditionAnswer {
        int result = IDCANCEL;
        QueryConditions conditions;
        bool pressButton = false; // press the dialog's own button instead, its controls deciding
    };

    // Runs the window modally. Every opening of the conditions dialog takes the next answer (the last one
    // repeats); once the window's loop runs, body runs inside it, then the window is closed.
    void RunWindow(std::vector<ConditionAnswer> answers, const std::function<void()>& body);
    // Confirms conditions of validity "0" and nothing else.
    static ConditionAnswer Ok();
    static ConditionAnswer Cancel();

    // Makes the client area of the restored window cx x cy pixels.
    void ResizeClient(int cx, int cy);
    // Requests of the function recorded so far.
    size_t RequestCount(std::uint32_t function) const;

    CExtOrderQueryDlg dlg;
    // The window RunWindow runs (a test may point it at a second window, as a second start would make).
    CExtOrderQueryDlg* runTarget = &dlg;
    int conditionOpenings = 0;
};

} // namespace windowtest

// Rectangles in failure messages as (left, top, right, bottom).
#include <ostream>
inline void PrintTo(const CRect& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
