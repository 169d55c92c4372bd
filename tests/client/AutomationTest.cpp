// The script runner driving real windows of the window layer: a probe dialog with an edit, a keyed combo,
// a check combo, a date picker, a record-bound list and OK/Cancel records the notifications it gets, so
// each command is seen to arrive as a user's input would (with its notifications), inside the dialog's
// modal loop; failures name their line; an unfinished dialog is closed when the script ends.
#include "client/automation/Dump.h"
#include "client/automation/ScriptParser.h"
#include "client/automation/ScriptRunner.h"

#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoCheckCombo.h"
#include "host/gui/OrvoComboBox.h"
#include "host/gui/OrvoListCtrl.h"
#include "platform/ComboBox.h"
#include "platform/DateTimeCtrl.h"
#include "platform/Dialog.h"
#include "platform/Resources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr UINT kProbeTemplate = 7000;
constexpr int kEdit = 100, kKeyed = 101, kChecks = 102, kDate = 103;
constexpr UINT kDoubleClick = 0x1214;
const char g_templateOwner = 0;

void registerProbeTemplate() {
    DialogTemplate probe;
    probe.id = kProbeTemplate;
    probe.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    probe.caption = GBK("探针");
    probe.cx = 320;
    probe.cy = 220;
    probe.controls = {
        {kEdit, orvo::wc::kEdit, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 100, 12},
        {kKeyed, orvo::wc::kComboBox, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 10, 30, 100,
         80},
        {kChecks, orvo::wc::kComboBox, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 10, 50, 100,
         80},
        {kDate, orvo::wc::kDateTimePicker, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 70, 100, 14},
        {IDOK, orvo::wc::kButton, GBK("确定"), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 200,
         190, 50, 14},
        {IDCANCEL, orvo::wc::kButton, GBK("取消"), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 260, 190, 50, 14},
    };
    orvo::RegisterDialogTemplates(&g_templateOwner, {probe});
}

class CProbeDlg : public CDialog {
public:
    CProbeDlg() : CDialog(kProbeTemplate) {}

    std::vector<std::string> events;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_keyed.SubclassDlgItem(kKeyed, this);
        m_keyed.AddString("SHFE", GBK("上期所"));
        m_keyed.AddString("DCE", GBK("大商所"));
        m_checks.SubclassDlgItem(kChecks, this);
        m_checks.AddString("0101", GBK("总部"));
        m_checks.AddString("0102", GBK("一部"));
        m_record.Create(GBK("代码[C8],名称[C20],color[I],KEY[C4]"), 0);
        for (int i = 0; i < 3; ++i) {
            m_record.Append(nullptr, 1);
            m_record.Set(GBK("代码"), ("C" + std::to_string(i)).c_str());
            m_record.Set(GBK("名称"), GBK("名"));
            m_record.Set("KEY", ("K" + std::to_string(i)).c_str());
        }
        RECT rect{340, 10, 620, 200};
        m_list.Create("ListBox", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rect, this, 0);
        m_list.SetRecord(&m_record);
        m_list.Refresh(0);
        m_list.AdjustField(-2);
        return TRUE;
    }

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == WM_COMMAND && LOWORD(wParam) == kEdit && HIWORD(wParam) == EN_CHANGE)
            events.push_back("edit change");
        if (message == WM_COMMAND && LOWORD(wParam) == kKeyed && HIWORD(wParam) == CBN_SELCHANGE)
            events.push_back("keyed select " + m_keyed.GetString().str());
        if (message == UM_CHECKCOMBO_CHANGE)
            events.push_back("checks " + m_checks.GetText().str());
        if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == DTN_DATETIMECHANGE)
            events.push_back("date change");
        if (message == kDoubleClick)
            events.push_back("double-click " + std::to_string(m_list.GetCurSel()));
        return CDialog::OnWndMsg(message, wParam, lParam, result);
    }

    int SelectedRow() const { return m_list.GetCurSel(); }

private:
    COrvoComboBox m_keyed;
    COrvoCheckCombo m_checks;
    CMemRecord m_record;
    COrvoListCtrl m_list;
};

struct Outcome {
    int exitCode = -1;
    INT_PTR modalResult = 0;
    std::vector<std::string> events;
    int selectedRow = -1;
};

// Runs the script; "open 1" runs the probe dialog modally.
Outcome runScript(const std::string& text) {
    std::istringstream in(text);
    std::vector<ScriptCommand> commands;
    ScriptError error;
    EXPECT_TRUE(ParseScript(in, commands, error)) << error.reason;

    Outcome outcome;
    bool running = false;
    automation::ScriptHost host;
    host.open = [&](long, std::string&) {
        CProbeDlg dialog;
        running = true;
        outcome.modalResult = dialog.DoModal();
        running = false;
        outcome.events = dialog.events;
        outcome.selectedRow = dialog.SelectedRow();
        return true;
    };
    host.moduleRunning = [&] { return running; };
    automation::ScriptRunner runner(std::move(commands), host);
    runner.SetFinishedHandler([](int code) { QApplication::exit(code); });
    runner.Start();
    outcome.exitCode = QApplication::exec();
    return outcome;
}

QJsonObject controlOf(const QJsonObject& dump, const QString& id) {
    for (const QJsonValue window : dump.value("windows").toArray())
        for (const QJsonValue control : window.toObject().value("controls").toArray())
            if (control.toObject().value("id").toString() == id)
                return control.toObject();
    return {};
}

class AutomationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerProbeTemplate(); }
    static void TearDownTestSuite() { orvo::UnregisterDialogTemplates(&g_templateOwner); }

    QJsonObject readDump(const std::string& name) {
        QFile file(m_dir.filePath(QString::fromStdString(name)));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).object();
    }
    std::string path(const std::string& name) {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }

    QTemporaryDir m_dir;
};

TEST_F(AutomationTest, CommandsArriveWithTheNotificationsOfAUsersInput) {
    const Outcome outcome = runScript("open 1\n"
                                      "type 100 ab中\n"
                                      "pick 101 DCE\n"
                                      "check 102 0102 1\n"
                                      "date 103 2026-11-30\n"
                                      "row L0 2\n"
                                      "dump " +
                                      path("state.json") +
                                      "\n"
                                      "dblclick L0 1\n"
                                      "ok\n");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.modalResult, IDOK);
    EXPECT_EQ(outcome.events,
              (std::vector<std::string>{"edit change", "edit change", "edit change", "keyed select DCE",
                                        "checks 0102", "date change", "double-click 1"}));

    const QJsonObject dump = readDump("state.json");
    const QJsonObject window = dump.value("windows").toArray().at(0).toObject();
    EXPECT_EQ(window.value("id").toInt(), static_cast<int>(kProbeTemplate));
    EXPECT_EQ(window.value("title").toString(), "探针");
    EXPECT_TRUE(window.value("active").toBool());
    EXPECT_EQ(controlOf(dump, "100").value("text").toString(), "ab中");
    const QJsonObject keyed = controlOf(dump, "101");
    EXPECT_EQ(keyed.value("kind").toString(), "combo");
    EXPECT_EQ(keyed.value("current").toInt(), 1);
    EXPECT_EQ(keyed.value("items").toArray().at(1).toObject().value("key").toString(), "DCE");
    EXPECT_EQ(keyed.value("items").toArray().at(1).toObject().value("text").toString(), "大商所");
    const QJsonObject checks = controlOf(dump, "102");
    EXPECT_EQ(checks.value("kind").toString(), "checkcombo");
    EXPECT_FALSE(checks.value("items").toArray().at(0).toObject().value("checked").toBool());
    EXPECT_TRUE(checks.value("items").toArray().at(1).toObject().value("checked").toBool());
    EXPECT_EQ(controlOf(dump, "103").value("text").toString(), "2026.11.30");
    const QJsonObject list = controlOf(dump, "L0");
    EXPECT_EQ(list.value("kind").toString(), "list");
    EXPECT_EQ(list.value("columns").toArray(), (QJsonArray{"代码", "名称", "color", "KEY"}));
    EXPECT_EQ(list.value("rows").toArray().at(2).toArray(), (QJsonArray{"C2", "名", "0", "K2"}));
    EXPECT_EQ(list.value("current").toInt(), 2);
    EXPECT_EQ(list.value("shownColumns").toInt(), 2);
}

TEST_F(AutomationTest, KeysGoToTheNamedControlOrTheFocus) {
    const Outcome outcome = runScript("open 1\nfocus 100\nkey x\nkey y 100\nclear 100\nkey Escape\n");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.modalResult, IDCANCEL) << "Escape cancels the dialog";
    // Two characters, then one change for the deletion of the selected text.
    EXPECT_EQ(outcome.events, (std::vector<std::string>{"edit change", "edit change", "edit change"}));
}

TEST_F(AutomationTest, KeysAreTheNamedKeysWithModifiersAndAnOpenListTakesThemFirst) {
    // key KEY ID presses KEY in ID: Ctrl+C copies the list's row, Enter there confirms the dialog.
    QApplication::clipboard()->clear();
    Outcome outcome = runScript("open 1\nrow L0 1\nkey Ctrl+C L0\nkey Enter L0\n");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.modalResult, IDOK);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("C1\t名"));

    // With a drop-down list open, keys go to the list: Down chooses there, Escape takes the choice back
    // and closes only the list, and Shift+Tab then moves the focus back from the box.
    outcome = runScript("open 1\nclick 101\nkey Down\nkey Escape\nkey Shift+Tab\ndump " + path("open.json") +
                        "\nkey Enter L0\n");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.modalResult, IDOK) << "Escape left the dialog running";
    EXPECT_EQ(outcome.events, (std::vector<std::string>{"keyed select SHFE", "keyed select "}));
    const QJsonObject keyed = controlOf(readDump("open.json"), "101");
    EXPECT_FALSE(keyed.value("dropped").toBool());
    EXPECT_EQ(keyed.value("current").toInt(), -1);
    EXPECT_TRUE(controlOf(readDump("open.json"), "100").value("focus").toBool());

    // Names that are no key are refused with their line before anything runs.
    for (const std::string bad : {"key Ctrl+Foo", "key Hyper+C 100", "key Ctrl+Ctrl+C", "key PgDn"}) {
        std::istringstream in("open 1\n" + bad + "\n");
        std::vector<ScriptCommand> commands;
        ScriptError error;
        EXPECT_FALSE(ParseScript(in, commands, error)) << bad;
        EXPECT_EQ(error.line, 2) << bad;
        EXPECT_NE(error.reason.find("is not a key"), std::string::npos) << error.reason;
    }
}

TEST_F(AutomationTest, AFailingCommandStopsTheScriptAndClosesTheDialog) {
    testing::internal::CaptureStderr();
    const Outcome outcome = runScript("open 1\ntype 100 a\npick 101 CZCE\ntype 100 b\n");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.modalResult, IDCANCEL);
    EXPECT_EQ(outcome.events, std::vector<std::string>{"edit change"}) << "line 4 never ran";
    EXPECT_NE(err.find("script line 3: pick: no entry with the key \"CZCE\" in the combo box"),
              std::string::npos)
        << err;
}

TEST_F(AutomationTest, CommandsOnTheWrongKindOfControlFail) {
    for (const auto& [script, reason] : std::vector<std::pair<std::string, std::string>>{
             {"open 1\ncheck 101 SHFE 1\n", "script line 2: check: control 101 is not a check combo box"},
             {"open 1\ndate 100 2026-01-01\n", "script line 2: date: control 100 is not a date picker"},
             {"open 1\nrow L0 3\n", "script line 2: row: the list has 3 rows, no row 3"},
             {"open 1\nclick L1\n", "script line 2: click: no control L1 in the active window 7000"},
             {"open 1\ntab 0\n", "script line 2: tab: the active window 7000 \"探针\" has no tab control"},
         }) {
        testing::internal::CaptureStderr();
        const Outcome outcome = runScript(script);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(outcome.exitCode, 1) << script;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
    }
}

TEST_F(AutomationTest, AnOpenDialogIsClosedWhenTheScriptEnds) {
    const Outcome outcome = runScript("open 1\ntype 100 z\n");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.modalResult, IDCANCEL);
}

TEST(TextTableTest, ColumnsLineUpWithWideCharacters) {
    const std::string table =
        automation::FormatTable({"代码", "name"}, {{"a", "中文"}, {"bb", "x"}, {"c", "y"}}, 2);
    EXPECT_EQ(table, "代码 | name\n"
                     "-----+-----\n"
                     "a    | 中文\n"
                     "bb   | x\n"
                     "... 1 more rows\n"
                     "(3 rows)\n");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
