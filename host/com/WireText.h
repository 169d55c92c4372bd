// Text that came from the wire, made safe to log or to show as a status: control bytes (a newline that
// would forge a log line, an escape sequence for the terminal) become visible escapes. Bytes from 0x80 up
// are kept, so GBK and UTF-8 text pass unchanged: neither encoding uses a byte below 0x20 or 0x7F inside
// a multi-byte character.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// \n, \r, \t as such; every other byte below 0x20 and 0x7F as \xHH.
std::string EscapeControlBytes(std::string_view text);

} // namespace orvo
