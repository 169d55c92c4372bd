// The display edge: GBK CString <-> QString.
#pragma once

#include "platform/CString.h"

#include <QString>

namespace orvo {

QString ToQString(const CString& gbk);
CString FromQString(const QString& text);

} // namespace orvo
