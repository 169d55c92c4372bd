#include "client/ui/ChannelTexts.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <cstring>
#include <vector>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ChannelFailure", text);
}

// Texts with variable parts: the English form matched whole, its parts (an address, a name, a reason, a
// number) put into the translation of `text` in order, each part itself translated where it is a text.
struct Pattern {
    const char* english; // a regular expression over the whole text
    const char* text;    // the translatable form, "%1".."%n" for the captures
};

const Pattern kPatterns[] = {
    {"^(.*) \\(status (-?\\d+)\\)$", QT_TRANSLATE_NOOP("ChannelFailure", "%1 (status %2)")},
    {"^login as (.+?) refused: (?:login refused: )?(.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "login as %1 refused: %2")},
    {"^login refused: (.*)$", QT_TRANSLATE_NOOP("ChannelFailure", "login refused: %1")},
    {"^too many failed logins for this operator or from this address; try again in (\\d+) s$",
     QT_TRANSLATE_NOOP("ChannelFailure",
                       "too many failed logins for this operator or from this address; try again in %1 s")},
    {"^cannot reach the counter server at (\\S+): (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "cannot reach the counter server at %1: %2")},
    {"^the counter server at (\\S+) is busy: (.*); try again in a moment$",
     QT_TRANSLATE_NOOP("ChannelFailure", "the counter server at %1 is busy: %2; try again in a moment")},
    {"^no reply from the counter server within (\\d+) ms$",
     QT_TRANSLATE_NOOP("ChannelFailure", "no reply from the counter server within %1 ms")},
    {"^downloading table (\\S+): (.*)$", QT_TRANSLATE_NOOP("ChannelFailure", "downloading table %1: %2")},
    {"^cannot start the embedded demo server: (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "cannot start the embedded demo server: %1")},
    {"^configuration file (.*) does not exist$",
     QT_TRANSLATE_NOOP("ChannelFailure", "configuration file %1 does not exist")},

    {"^the certificate of the counter server does not match host (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "the certificate of the counter server does not match host %1")},
    {"^the certificate of the counter server cannot be trusted: (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "the certificate of the counter server cannot be trusted: %1")},
    {"^the password would cross the network to (\\S+) in plain text: turn TLS on for the counter server: "
     "give the authority .*$",
     QT_TRANSLATE_NOOP(
         "ChannelFailure",
         "the password would cross the network to %1 in plain text: turn TLS on for the counter "
         "server with --tls-ca FILE or TlsCa = FILE under [SERVER] (Tls = yes trusts the "
         "system's authorities), or accept plain text there with AllowPlainPassword = yes")},
    {"^cannot connect to the counter server (\\S+): (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "cannot connect to the counter server %1: %2")},
    {"^cannot connect to the counter server (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "cannot connect to the counter server %1")},
    {"^sending to the counter server failed: (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "sending to the counter server failed: %1")},
    {"^receiving from the counter server failed: (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "receiving from the counter server failed: %1")},
    {"^broken reply from the counter server: (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "broken reply from the counter server: %1")},
    {"^request not sent: (.*)$", QT_TRANSLATE_NOOP("ChannelFailure", "request not sent: %1")},
    {"^reply incomplete: (\\d+) rows received, the server sent (\\d+)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "reply incomplete: %1 rows received, the server sent %2")},
    {"^reply inconsistent: (\\d+) rows received, the server sent (\\d+)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "reply inconsistent: %1 rows received, the server sent %2")},
    {"^server busy: (.*)$", QT_TRANSLATE_NOOP("ChannelFailure", "server busy: %1")},
    {"^system error (-?\\d+)$", QT_TRANSLATE_NOOP("ChannelFailure", "system error %1")},
    {"^name lookup error (-?\\d+)$", QT_TRANSLATE_NOOP("ChannelFailure", "name lookup error %1")},
    {"^the counter server refused the connection: (.*)$",
     QT_TRANSLATE_NOOP("ChannelFailure", "the counter server refused the connection: %1")},
    {"^cannot load the module: (.*)$", QT_TRANSLATE_NOOP("ChannelFailure", "cannot load the module: %1")},
};

// Whole texts.
const char* const kWhole[] = {
    QT_TRANSLATE_NOOP("ChannelFailure", "the counter server closed the connection"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the counter server does not take the request"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the counter server sent a request"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the counter server sent a row outside any request"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the request was cancelled"),
    QT_TRANSLATE_NOOP("ChannelFailure", "reading the reply was stopped"),
    QT_TRANSLATE_NOOP("ChannelFailure", "login refused"),
    QT_TRANSLATE_NOOP("ChannelFailure", "unknown operator or wrong password"),
    QT_TRANSLATE_NOOP("ChannelFailure", "no counter server configured"),
    QT_TRANSLATE_NOOP("ChannelFailure", "timed out"),
    QT_TRANSLATE_NOOP("ChannelFailure", "Connection refused"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the TLS handshake failed"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the TLS handshake timed out"),
    QT_TRANSLATE_NOOP(
        "ChannelFailure",
        "the counter server closed the connection during the TLS handshake (does it speak TLS?)"),
    QT_TRANSLATE_NOOP("ChannelFailure", "reading over TLS failed"),
    QT_TRANSLATE_NOOP("ChannelFailure", "writing over TLS failed"),
    QT_TRANSLATE_NOOP("ChannelFailure", "not enough memory to read the reply from the counter server"),
    QT_TRANSLATE_NOOP("ChannelFailure", "reading the reply from the counter server failed unexpectedly"),
    QT_TRANSLATE_NOOP("ChannelFailure", "unknown function"),
    QT_TRANSLATE_NOOP("ChannelFailure", "not logged in"),
    QT_TRANSLATE_NOOP("ChannelFailure", "not permitted"),
    QT_TRANSLATE_NOOP("ChannelFailure", "bad request"),
    QT_TRANSLATE_NOOP("ChannelFailure", "internal error"),
    QT_TRANSLATE_NOOP("ChannelFailure", "limit reached or busy"),
    QT_TRANSLATE_NOOP("ChannelFailure", "session ended by an administrator"),
    QT_TRANSLATE_NOOP("ChannelFailure", "session ended: operator disabled"),
    QT_TRANSLATE_NOOP("ChannelFailure", "session ended: operator removed"),
    QT_TRANSLATE_NOOP("ChannelFailure", "session ended: password changed"),
    QT_TRANSLATE_NOOP("ChannelFailure", "too many connections"),
    QT_TRANSLATE_NOOP("ChannelFailure", "too many connections waiting to log in"),
    QT_TRANSLATE_NOOP("ChannelFailure", "too many connections waiting to log in from this address"),
    QT_TRANSLATE_NOOP("ChannelFailure", "too many logins waiting; try again"),
    QT_TRANSLATE_NOOP("ChannelFailure", "the login waited too long; try again"),
};

// A failure over the servers of a list: "HOST:PORT: why; HOST:PORT: why", each server named once with its
// reason in the user's words.
constexpr const char* kNoServerAnswers = "no counter server of the list answers: ";

QString ServerListFailureText(const QString& servers) {
    static const QRegularExpression server(QStringLiteral("^(\\S+): (.*)$"));
    QStringList parts;
    for (const QString& part : servers.split(QStringLiteral("; "))) {
        const QRegularExpressionMatch match = server.match(part);
        parts << (match.hasMatch()
                      ? match.captured(1) + QLatin1Char(' ') + ChannelFailureText(match.captured(2))
                      : ChannelFailureText(part));
    }
    return tr(QT_TRANSLATE_NOOP("ChannelFailure", "no counter server of the list answers: %1"))
        .arg(parts.join(tr(QT_TRANSLATE_NOOP("ChannelFailure", "; "))));
}

struct CompiledPattern {
    QRegularExpression english;
    const char* text;
};

const std::vector<CompiledPattern>& compiled() {
    static const std::vector<CompiledPattern> patterns = [] {
        std::vector<CompiledPattern> list;
        for (const Pattern& pattern : kPatterns)
            list.push_back({QRegularExpression(QString::fromLatin1(pattern.english)), pattern.text});
        return list;
    }();
    return patterns;
}

} // namespace

QString ChannelFailureText(const QString& english) {
    if (english.startsWith(QLatin1String(kNoServerAnswers)))
        return ServerListFailureText(english.mid(static_cast<qsizetype>(std::strlen(kNoServerAnswers))));
    for (const char* whole : kWhole)
        if (english == QLatin1String(whole))
            return tr(whole);
    for (const CompiledPattern& pattern : compiled()) {
        const QRegularExpressionMatch match = pattern.english.match(english);
        if (!match.hasMatch())
            continue;
        // In one pass, so that a part holding "%2" is not taken for a place of the next part.
        const QString text = tr(pattern.text);
        if (match.lastCapturedIndex() >= 2)
            return text.arg(ChannelFailureText(match.captured(1)), ChannelFailureText(match.captured(2)));
        return text.arg(ChannelFailureText(match.captured(1)));
    }
    return english;
}
