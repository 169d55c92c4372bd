// Texts the system gives (an errno's text, a resolver's error) as the host's text, GBK: the C library
// writes them in the language and the encoding of the process's locale (UTF-8 Chinese under zh_CN.UTF-8,
// GB18030 under zh_CN.GB18030, English under C), so they are converted here, once, and never taken for GBK
// as they come.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// Text in the encoding of the process's locale (LC_CTYPE) as GBK; "" when it does not convert whole (a
// character GBK lacks, bytes that are not of that encoding).
std::string LocaleTextToGbk(std::string_view text);

// strerror(errnum) as GBK; "system error N" when the text does not convert.
std::string SystemErrorText(int errnum);

// gai_strerror(code) as GBK; "name lookup error N" when the text does not convert.
std::string ResolverErrorText(int code);

} // namespace orvo
