// Errors of the codec, returned as values.
#pragma once

#include <cstdint>

namespace orvo::proto {

enum class Error : std::uint8_t {
    None = 0,
    EmptyFrame,           // length prefix 0
    FrameTooLarge,        // length prefix over the limit
    MissingTerminator,    // the body does not end with 0x01
    MissingEquals,        // an item without '=' before its 0x01
    BadKey,               // empty key or a byte outside [A-Z0-9_], or over 32 bytes
    BadTag,               // numeric key with a leading zero or outside 1..2147483647
    ColumnNameNotAllowed, // a column-name key where only tags are accepted
    TooManyItems,         // more items than the limit
    ValueHasSeparator,    // writing: a value holding 0x01
    MissingType,          // header: the first item is not 35, or its value is not Q, R or E
    BadSequence,          // header: 34 missing or not a number
    BadFunction,          // header: a request without a valid 20
    BadStatus,            // header: an end of reply with a missing or malformed 39 or 60
};

// A short English description, for logs and failure texts.
const char* ErrorText(Error error);

} // namespace orvo::proto
