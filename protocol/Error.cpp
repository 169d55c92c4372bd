#include "protocol/Error.h"

namespace orvo::proto {

const char* ErrorText(Error error) {
    switch (error) {
    case Error::None:
        return "no error";
    case Error::EmptyFrame:
        return "frame of length 0";
    case Error::FrameTooLarge:
        return "frame over the size limit";
    case Error::MissingTerminator:
        return "frame body does not end with 0x01";
    case Error::MissingEquals:
        return "item without '='";
    case Error::BadKey:
        return "key is neither a tag nor a column name";
    case Error::BadTag:
        return "tag out of range or with a leading zero";
    case Error::ColumnNameNotAllowed:
        return "column-name key where a tag is required";
    case Error::TooManyItems:
        return "too many items in one frame";
    case Error::ValueHasSeparator:
        return "value holds the byte 0x01";
    case Error::MissingType:
        return "first item is not a message type (35=Q|R|E)";
    case Error::BadSequence:
        return "missing or malformed sequence number (34)";
    case Error::BadFunction:
        return "request without a valid function number (20)";
    case Error::BadStatus:
        return "end of reply with a missing or malformed status (39) or row count (60)";
    }
    return "unknown error";
}

} // namespace orvo::proto
