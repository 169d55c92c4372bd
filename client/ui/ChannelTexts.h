// The channel's failure texts as staff read them. The channel and the log speak English; the windows show
// the same text through the translation system, the variable part (an address, a reason, a time) kept.
#pragma once

#include <QString>

QString ChannelFailureText(const QString& english);
