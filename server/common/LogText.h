// Text that came from the wire, made safe to put in a log line or a status text: control bytes and
// the backslash become escapes, so a value can never start a new line or pass for another field.
#pragma once

#include <string>
#include <string_view>

namespace orvo::server {

// Escapes bytes below 0x20, 0x7F and the backslash as \xNN (\\ for the backslash). With asciiOnly,
// bytes of 0x80 and above are escaped as well (raw bytes of unknown encoding); otherwise they are kept
// (UTF-8 text already checked by the caller).
std::string escapeText(std::string_view text, bool asciiOnly = false);

// The same escapes appended to out, with the hex digits of \xNN taken from hexDigits (16 characters):
// the log file writes them in lower case, status texts in upper case. Without escapeBackslash the
// backslash stays as it is (text whose wire parts were escaped already).
void appendEscaped(std::string& out, std::string_view text, bool asciiOnly, const char* hexDigits,
                   bool escapeBackslash = true);

} // namespace orvo::server
