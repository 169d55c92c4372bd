#include "platform/QtText.h"

namespace orvo {

QString ToQString(const CString& gbk) {
    return QString::fromStdString(gbk.ToUtf8());
}

CString FromQString(const QString& text) {
    return CString::FromUtf8(text.toStdString());
}

} // namespace orvo
