#include "query/WindowLayoutStore.h"

#include <QCoreApplication>
#include <QSettings>
#include <QString>
#include <QVariant>

std::string CurrentOperatorName() {
    const QCoreApplication* app = QCoreApplication::instance();
    const QString name = app ? app->property("orvoOperator").toString() : QString();
    return name.isEmpty() ? std::string("default") : name.toStdString();
}

CWindowLayoutStore::CWindowLayoutStore(const std::string& operatorName) {
    // A group name is a key path: keep the operator's name from opening sub-groups of its own.
    QString safe = QString::fromStdString(operatorName);
    safe.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    m_group = "ExtOrderQuery/" + safe.toStdString();
}

std::string CWindowLayoutStore::Read(const std::string& key) const {
    QSettings settings;
    return settings.value(QString::fromStdString(m_group + "/" + key)).toString().toStdString();
}

void CWindowLayoutStore::Write(const std::string& key, const std::string& value) {
    QSettings settings;
    settings.setValue(QString::fromStdString(m_group + "/" + key), QString::fromStdString(value));
}
