// Text conversion between the database (UTF-8) and the wire (GBK), with glibc iconv.
#pragma once

#include <string>
#include <string_view>

namespace orvo::server {

// True when every byte is below 0x80: such text is the same in both encodings.
bool isAscii(std::string_view text);

// UTF-8 to GBK. A character GBK cannot hold becomes '?', so a reply is never cut short.
void utf8ToGbk(std::string_view utf8, std::string& out);
std::string utf8ToGbk(std::string_view utf8);

// True when the text is valid UTF-8 and GBK holds every character of it (nothing would become '?').
bool utf8FitsGbk(std::string_view utf8);

// GBK to UTF-8. Returns false (and leaves out unspecified) when the input is not valid GBK: a request
// value that cannot be read is refused rather than guessed at.
bool gbkToUtf8(std::string_view gbk, std::string& out);

} // namespace orvo::server
