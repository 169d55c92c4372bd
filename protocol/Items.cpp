#include "protocol/Items.h"

#include <cstring>

namespace orvo::proto {

namespace {

constexpr char kSeparator = '\x01';

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsNameByte(char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || IsDigit(c);
}

// Reads the key at `p` up to its '='. On success `p` points at the '='.
Error ReadKey(const char*& p, const char* end, const Limits& limits, std::uint32_t& tag) {
    const char* key = p;
    // The longest key is a column name; scanning stops one past it so a runaway key fails fast.
    const char* stop = end - key > static_cast<std::ptrdiff_t>(kMaxColumnNameLength + 1)
                           ? key + kMaxColumnNameLength + 1
                           : end;
    std::uint64_t number = 0;
    bool allDigits = true;
    for (; p < stop && *p != '='; ++p) {
        const char c = *p;
        if (IsDigit(c)) {
            number = number * 10 + static_cast<unsigned>(c - '0');
        } else if (c == kSeparator) {
            return Error::MissingEquals;
        } else if (IsNameByte(c)) {
            allDigits = false;
        } else {
            return Error::BadKey;
        }
    }
    if (p == stop)
        return p == end ? Error::MissingEquals : Error::BadKey; // no '=' within the longest key
    const std::size_t length = static_cast<std::size_t>(p - key);
    if (length == 0)
        return Error::BadKey;
    if (allDigits) {
        // On a key of many digits `number` has wrapped (unsigned, harmless); the length test rejects it.
        if (key[0] == '0' || length > kMaxTagDigits || number > kMaxTag)
            return Error::BadTag;
        tag = static_cast<std::uint32_t>(number);
        return Error::None;
    }
    if (!limits.allowColumnNames)
        return Error::ColumnNameNotAllowed;
    tag = 0;
    return Error::None;
}

} // namespace

Error ParseItems(std::string_view body, const Limits& limits, std::vector<Item>& items) {
    items.clear();
    if (body.empty())
        return Error::EmptyFrame;
    if (body.back() != kSeparator)
        return Error::MissingTerminator;
    const char* p = body.data();
    const char* const end = p + body.size();
    while (p < end) {
        if (items.size() >= limits.maxItems)
            return Error::TooManyItems;
        const char* key = p;
        std::uint32_t tag = 0;
        if (const Error error = ReadKey(p, end, limits, tag); error != Error::None)
            return error;
        const std::size_t keyLength = static_cast<std::size_t>(p - key);
        const char* value = p + 1;
        // The body ends with 0x01, so the search always finds one.
        const char* separator =
            static_cast<const char*>(std::memchr(value, kSeparator, static_cast<std::size_t>(end - value)));
        items.push_back(Item{std::string_view(key, keyLength),
                             std::string_view(value, static_cast<std::size_t>(separator - value)), tag});
        p = separator + 1;
    }
    return Error::None;
}

ReadResult SplitFrame(std::string_view input, const Limits& limits, std::string_view& body,
                      std::size_t& consumed, Error& error) {
    if (input.size() < kLengthPrefixSize)
        return ReadResult::NeedMore;
    const auto* prefix = reinterpret_cast<const unsigned char*>(input.data());
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) | (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | std::uint32_t{prefix[3]};
    if (length == 0) {
        error = Error::EmptyFrame;
        return ReadResult::Error;
    }
    if (length > limits.maxFrameSize || length > kMaxFrameSize) {
        error = Error::FrameTooLarge;
        return ReadResult::Error;
    }
    if (input.size() - kLengthPrefixSize < length)
        return ReadResult::NeedMore;
    body = input.substr(kLengthPrefixSize, length);
    consumed = kLengthPrefixSize + length;
    return ReadResult::Frame;
}

bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0'))
        return false;
    std::uint64_t number = 0;
    for (const char c : text) {
        if (!IsDigit(c))
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (number > (max - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

const Item* Frame::Find(std::uint32_t tag) const {
    if (tag == 0)
        return nullptr;
    for (const Item& item : items)
        if (item.tag == tag)
            return &item;
    return nullptr;
}

const Item* Frame::Find(std::string_view key) const {
    for (const Item& item : items)
        if (item.key == key)
            return &item;
    return nullptr;
}

} // namespace orvo::proto
