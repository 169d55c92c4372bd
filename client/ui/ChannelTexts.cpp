#include "client/ui/ChannelTexts.h"

#include <QCoreApplication>
#include <QRegularExpression>

QString ChannelFailureText(const QString& english) {
    const auto tr = [](const char* text) { return QCoreApplication::translate("ChannelFailure", text); };
    // Whole texts.
    static const char* const kWhole[] = {
        QT_TRANSLATE_NOOP("ChannelFailure", "the counter server closed the connection"),
        QT_TRANSLATE_NOOP("ChannelFailure", "the counter server does not take the request"),
        QT_TRANSLATE_NOOP("ChannelFailure", "the counter server sent a request"),
        QT_TRANSLATE_NOOP("ChannelFailure", "the request was cancelled"),
        QT_TRANSLATE_NOOP("ChannelFailure", "login refused"),
    };
    for (const char* whole : kWhole)
        if (english == QLatin1String(whole))
            return tr(whole);
    // Texts with a variable tail: "<prefix><tail>" becomes the translation of "<prefix>%1".
    static const char* const kPrefixed[] = {
        QT_TRANSLATE_NOOP("ChannelFailure", "cannot reach the counter server at %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "cannot connect to the counter server %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "sending to the counter server failed: %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "receiving from the counter server failed: %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "broken reply from the counter server: %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "no reply from the counter server within %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "request not sent: %1"),
        QT_TRANSLATE_NOOP("ChannelFailure", "cannot load the module: %1"),
    };
    for (const char* pattern : kPrefixed) {
        const QString prefix = QString::fromLatin1(pattern).section(QLatin1String("%1"), 0, 0);
        if (english.startsWith(prefix))
            return tr(pattern).arg(ChannelFailureText(english.mid(prefix.size())));
    }
    // "login as NAME refused: REASON"
    static const QRegularExpression login(QStringLiteral("^login as (.*) refused: (.*)$"));
    if (const QRegularExpressionMatch match = login.match(english); match.hasMatch())
        return tr(QT_TRANSLATE_NOOP("ChannelFailure", "login as %1 refused: %2"))
            .arg(match.captured(1), ChannelFailureText(match.captured(2)));
    return english;
}
