// The fall-back kinds: controls of the window layer read through their messages (tab control) or
// window text, and Qt-backed choice controls read through Qt.
#include "client/Json.h"
#include "client/automation/ControlKinds.h"
#include "client/automation/Windows.h"

#include "platform/Controls.h"
#include "platform/Wnd.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

namespace automation {
namespace {

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

std::string windowText(QWidget* widget) {
    return CWnd::FromHandle(widget)->GetWindowText().ToUtf8();
}

void tableOfItemView(QAbstractItemView* view, std::vector<std::string>& columns,
                     std::vector<std::vector<std::string>>& rows, int& current) {
    const QAbstractItemModel* model = view->model();
    columns.clear();
    rows.clear();
    current = -1;
    if (!model)
        return;
    for (int c = 0; c < model->columnCount(); ++c)
        columns.push_back(utf8(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()));
    for (int r = 0; r < model->rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < model->columnCount(); ++c)
            row.push_back(utf8(model->index(r, c).data(Qt::DisplayRole).toString()));
        rows.push_back(std::move(row));
    }
    current = view->currentIndex().isValid() ? view->currentIndex().row() : -1;
}

void writeTable(JsonWriter& json, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows, int current) {
    json.Key("columns").BeginArray();
    for (const std::string& column : columns)
        json.String(column);
    json.EndArray();
    json.Key("rows").BeginArray();
    for (const auto& row : rows) {
        json.BeginArray();
        for (const std::string& cell : row)
            json.String(cell);
        json.EndArray();
    }
    json.EndArray();
    json.Field("current", current);
}

bool pickInComboBox(QComboBox* combo, const std::string& text, std::string& error) {
    const int index = combo->findText(QString::fromUtf8(text.c_str()), Qt::MatchExactly);
    if (index < 0) {
        error = "no entry \"" + text + "\" in the combo box";
        return false;
    }
    // As a user: drop the list down and click the entry, so that every notification fires.
    combo->setFocus(Qt::MouseFocusReason);
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    const QModelIndex item = view->model()->index(index, combo->modelColumn());
    view->scrollTo(item);
    view->setCurrentIndex(item);
    // Enter on the dropped list chooses the current entry and closes it, as the keyboard does.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
    if (combo->view()->isVisible())
        combo->hidePopup();
    if (combo->currentIndex() != index)
        combo->setCurrentIndex(index);
    return true;
}

} // namespace

void WriteTable(JsonWriter& json, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows, int current) {
    writeTable(json, columns, rows, current);
}

void AddStandardControlKinds(ControlKinds& kinds) {
    {
        ControlKind kind;
        kind.name = "tab";
        kind.matches = [](QWidget* w, CWnd*) { return Kind(w) == "tab"; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            const auto count = static_cast<int>(::SendMessage(w, TCM_GETITEMCOUNT));
            json.Key("items").BeginArray();
            for (int i = 0; i < count; ++i) {
                char text[256] = {};
                TCITEM item;
                item.mask = TCIF_TEXT;
                item.pszText = text;
                item.cchTextMax = sizeof text;
                ::SendMessage(w, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
                json.String(CString(text).ToUtf8());
            }
            json.EndArray();
            json.Field("current", static_cast<long>(::SendMessage(w, TCM_GETCURSEL)));
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "date";
        kind.matches = [](QWidget* w, CWnd*) { return qobject_cast<QDateTimeEdit*>(w) != nullptr; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            json.Field("text", utf8(qobject_cast<QDateTimeEdit*>(w)->date().toString("yyyy.MM.dd")));
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "combo";
        kind.matches = [](QWidget* w, CWnd*) { return qobject_cast<QComboBox*>(w) != nullptr; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            auto* combo = qobject_cast<QComboBox*>(w);
            json.Field("text", utf8(combo->currentText()));
            json.Key("items").BeginArray();
            for (int i = 0; i < combo->count(); ++i) {
                json.BeginObject();
                const QVariant data = combo->itemData(i);
                if (data.isValid())
                    json.Field("data", data.toLongLong());
                json.Field("text", utf8(combo->itemText(i))).EndObject();
            }
            json.EndArray();
            json.Field("current", combo->currentIndex());
            json.Field("dropped", combo->view()->isVisible());
        };
        kind.pick = [](QWidget* w, CWnd*, const std::string& key, std::string& error) {
            return pickInComboBox(qobject_cast<QComboBox*>(w), key, error);
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "list";
        kind.matches = [](QWidget* w, CWnd*) { return qobject_cast<QAbstractItemView*>(w) != nullptr; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            std::vector<std::string> columns;
            std::vector<std::vector<std::string>> rows;
            int current = -1;
            tableOfItemView(qobject_cast<QAbstractItemView*>(w), columns, rows, current);
            writeTable(json, columns, rows, current);
        };
        kind.table = [](QWidget* w, CWnd*, std::vector<std::string>& columns,
                        std::vector<std::vector<std::string>>& rows, int& current) {
            tableOfItemView(qobject_cast<QAbstractItemView*>(w), columns, rows, current);
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "button";
        kind.matches = [](QWidget* w, CWnd*) { return qobject_cast<QAbstractButton*>(w) != nullptr; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            auto* button = qobject_cast<QAbstractButton*>(w);
            json.Field("text", windowText(w));
            if (button->isCheckable())
                json.Field("checked", button->isChecked());
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "edit";
        kind.matches = [](QWidget* w, CWnd*) { return qobject_cast<QLineEdit*>(w) != nullptr; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) { json.Field("text", windowText(w)); };
        kinds.Add(std::move(kind));
    }
    // Anything else of the layer (statics and unknown classes) shows its window text.
    {
        ControlKind kind;
        kind.name = "";
        kind.matches = [](QWidget* w, CWnd*) { return IsLayerWindow(w); };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) { json.Field("text", windowText(w)); };
        kinds.Add(std::move(kind));
    }
}

} // namespace automation
