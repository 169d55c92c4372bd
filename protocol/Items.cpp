#include "protocol/Items.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The common key, a tag of plain digits ending in '=' (no leading zero, at most kMaxTag): its number and
// `p` moved to the '='. False leaves `p` alone for ReadKey, which also gives the fault of any other key.
bool ReadPlainTag(const char*& p, const char* end, std::uint32_t& tag) {
    const char* q = p;
    const char* stop = end - q > static_cast<std::ptrdiff_t>(kMaxTagDigits) ? q + kMaxTagDigits : end;
    std::uint64_t number = 0;
    for (; q < stop && IsDigit(*q); ++q)
        number = number * 10 + static_cast<unsigned>(*q - '0');
    if (q == p || q == end || *q != '=' || *p == '0' || number > kMaxTag)
        return false;
    tag = static_cast<std::uint32_t>(number);
    p = q;
    return true;
}

#if defined(__SSE2__)
constexpr std::size_t kScanWidth = 16;

// The number of a key of `length` (1..8) digits at `p`, eight bytes readable there: the digits are
// right-aligned behind '0's in one word and combined pairwise, with no loop and no branch.
std::uint32_t EightDigits(const char* p, int length) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    const int pad = 8 - length;
    if (pad > 0)
        word = (word << (8 * pad)) | (0x3030303030303030ull >> (8 * length));
    word -= 0x3030303030303030ull;
    word = word * 10 + (word >> 8);
    word = (((word & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
            (((word >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
           32;
    return static_cast<std::uint32_t>(word);
}

// A key of one to eight digits, no leading zero, then '=', read from sixteen bytes at `p` at once (all
// readable): its tag and its length. False for any other key, which the byte-wise path reads and judges.
bool ScanShortTag(const char* p, std::uint32_t& tag, std::size_t& length) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto equalsMask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('='))));
    if (equalsMask == 0 || p[0] == '0')
        return false;
    const int keyLength = std::countr_zero(equalsMask);
    if (keyLength == 0 || keyLength > 8)
        return false;
    const __m128i offsets = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const auto digitMask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offsets, _mm_set1_epi8(9)), offsets)));
    const unsigned keyBits = (1u << keyLength) - 1;
    if ((digitMask & keyBits) != keyBits)
        return false;
    tag = EightDigits(p, keyLength);
    length = static_cast<std::size_t>(keyLength);
    return true;
}

// Every 0x01 of a body in order, found 64 bytes at a time into a bit mask. Walking the mask depends on
// nothing an item's parsing computes, so the items of a row are parsed side by side instead of each
// waiting for the search that ends the one before it.
class SeparatorScanner {
public:
    SeparatorScanner(const char* begin, const char* end) : m_block(begin), m_end(end) { Load(); }

    // The next 0x01; there must be one.
    const char* Next() {
        while (m_mask == 0) {
            m_block += kBlock;
            Load();
        }
        const char* at = m_block + std::countr_zero(m_mask);
        m_mask &= m_mask - 1;
        return at;
    }

private:
    static constexpr std::size_t kBlock = 64;

    void Load() {
        const auto left = static_cast<std::size_t>(m_end - m_block);
        const char* bytes = m_block;
        alignas(16) char tail[kBlock];
        if (left < kBlock) { // the last block: what is left, then bytes that are not 0x01
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, m_block, left);
            bytes = tail;
        }
        const __m128i separator = _mm_set1_epi8(kSeparator);
        std::uint64_t mask = 0;
        for (std::size_t i = 0; i < kBlock; i += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, separator)));
            mask |= std::uint64_t{bits} << i;
        }
        m_mask = mask;
    }

    const char* m_block;
    const char* m_end;
    std::uint64_t m_mask = 0;
};
#endif

} // namespace

Error ParseItems(std::string_view body, const Limits& limits, std::vector<Item>& items) {
    items.clear();
    if (body.empty())
        return Error::EmptyFrame;
    if (body.back() != kSeparator)
        return Error::MissingTerminator;
    const char* p = body.data();
    const char* const end = p + body.size();
#if defined(__SSE2__)
    // An item ends at the first 0x01 after its start: a good key holds none, so that is the first one
    // after its '='. The body ends with 0x01, so every item finds one.
    SeparatorScanner separators(p, end);
#endif
    while (p < end) {
        if (items.size() >= limits.maxItems)
            return Error::TooManyItems;
        const char* key = p;
        std::uint32_t tag = 0;
#if defined(__SSE2__)
        const char* separator = separators.Next();
        std::size_t keyLength = 0;
        if (end - p < static_cast<std::ptrdiff_t>(kScanWidth) || !ScanShortTag(p, tag, keyLength)) {
            if (!ReadPlainTag(p, end, tag))
                if (const Error error = ReadKey(p, end, limits, tag); error != Error::None)
                    return error;
            keyLength = static_cast<std::size_t>(p - key);
        }
        const char* value = key + keyLength + 1;
#else
        if (!ReadPlainTag(p, end, tag))
            if (const Error error = ReadKey(p, end, limits, tag); error != Error::None)
                return error;
        const std::size_t keyLength = static_cast<std::size_t>(p - key);
        const char* value = p + 1;
        const char* separator =
            static_cast<const char*>(std::memchr(value, kSeparator, static_cast<std::size_t>(end - value)));
#endif
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
