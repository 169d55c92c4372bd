// Number <-> text conversions with C's atol/atof rules but independent of the process locale (Qt sets
// LC_NUMERIC from the environment; the host's texts always use '.').
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orvo {

namespace detail {
long TextToLongGeneral(std::string_view text);
}

// Leading white space, an optional sign, decimal digits; stops at the first other byte. No digits gives 0;
// a value beyond the range of long is clamped to LONG_MIN / LONG_MAX. Inline for the text nearly every
// received number is: up to 18 plain digits, which cannot overflow.
inline long TextToLong(std::string_view text) {
    if (text.empty() || text.size() > 18)
        return detail::TextToLongGeneral(text);
    unsigned long long value = 0;
    for (const char c : text) {
        const auto digit = static_cast<unsigned char>(c - '0');
        if (digit > 9)
            return detail::TextToLongGeneral(text);
        value = value * 10 + digit;
    }
    return static_cast<long>(value);
}

namespace detail {
double TextToDoubleGeneral(std::string_view text);

// "[-]digits[.digits]" and nothing else, at most 15 digits: the digits are exact in a double and so is the
// power of ten, so one division rounds the value correctly, which is what the general reading gives.
inline bool PlainDecimal(std::string_view text, double& value) {
    constexpr std::size_t kMaxDigits = 15;
    std::size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t start = i;
    std::uint64_t digits = 0;
    std::size_t count = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && count < kMaxDigits) {
        digits = digits * 10 + static_cast<std::uint64_t>(text[i++] - '0');
        ++count;
    }
    if (i == start)
        return false;
    std::size_t decimals = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && count < kMaxDigits) {
            digits = digits * 10 + static_cast<std::uint64_t>(text[i++] - '0');
            ++count;
            ++decimals;
        }
        if (decimals == 0)
            return false;
    }
    if (i != text.size())
        return false;
    constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double magnitude = static_cast<double>(digits) / kPowers[decimals];
    value = start ? -magnitude : magnitude;
    return true;
}
} // namespace detail

// Leading white space, then the longest prefix that reads as a decimal number ("1.5e3", "-.5", "inf");
// nothing readable gives 0.0. Inline for the plain decimal nearly every received price is.
inline double TextToDouble(std::string_view text) {
    if (double plain = 0.0; detail::PlainDecimal(text, plain))
        return plain;
    return detail::TextToDoubleGeneral(text);
}

// Room for any text RealToText or PriceToText gives (DBL_MAX in fixed notation has 309 digits before
// the point), so that hot paths can format on the stack.
struct RealTextBuffer {
    char bytes[400];
};

// Fixed notation with the given digits after the point (clamped to 0..30), '.' as the point.
std::string RealToText(double value, int decimals);
// The same text written into `buffer`, without a heap string; the view points into `buffer` (or at a
// literal) and stays valid while `buffer` does.
std::string_view RealToText(double value, int decimals, RealTextBuffer& buffer);

// The value with the decimals it has, at least minDecimals and at most maxDecimals: fixed notation with
// maxDecimals, then trailing zeros dropped down to minDecimals. With maxDecimals <= minDecimals it is
// RealToText(value, minDecimals).
std::string PriceToText(double value, int minDecimals, int maxDecimals);
std::string_view PriceToText(double value, int minDecimals, int maxDecimals, RealTextBuffer& buffer);

// Prices as exact decimals: a count of ten-thousandths. Reads only the plain form "[-]digits[.digits]"
// with one to nine digits before the point and one to four after it (or none and no point), the whole
// text and nothing else; false for any other text, which TextToDouble still reads. A price and an offset
// read this way add and subtract exactly, and the sum's PriceToText(sum, minDecimals, 4) text is exactly
// that of the doubles TextToDouble gives (their rounding errors stay far below half a ten-thousandth).
inline bool TextToTenThousandths(std::string_view text, long long& value) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p != end && *p == '-';
    p += negative ? 1 : 0;
    const char* const whole = p;
    unsigned long long units = 0; // unsigned: an over-long text wraps harmlessly before it is refused
    while (p != end && static_cast<unsigned char>(*p - '0') <= 9)
        units = units * 10 + static_cast<unsigned char>(*p++ - '0');
    if (p == whole || p - whole > 9)
        return false;
    long decimals = 0;
    if (p != end) {
        if (*p++ != '.')
            return false;
        const char* const fraction = p;
        while (p != end && static_cast<unsigned char>(*p - '0') <= 9)
            units = units * 10 + static_cast<unsigned char>(*p++ - '0');
        decimals = p - fraction;
        if (decimals == 0 || decimals > 4 || p != end)
            return false;
    }
    constexpr unsigned long long kScale[] = {10000, 1000, 100, 10, 1};
    units *= kScale[decimals];
    value = negative ? -static_cast<long long>(units) : static_cast<long long>(units);
    return true;
}
namespace detail {
// TenThousandthsToText's digits of `magnitude`, written back from `end`; Unsigned is 32 bits wide when the
// value fits (every price below 429,496.7296), where each division by a constant is cheaper.
template <class Unsigned> inline char* WriteTenThousandths(Unsigned magnitude, int minDecimals, char* end) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    const auto fraction = static_cast<unsigned>(magnitude % 10000);
    magnitude /= 10000;
    // Digits from the last one back, two at a time: the fraction's four (trailing zeros dropped down to
    // minDecimals; counted on the number, not read back from the bytes just written), the point, then the
    // whole number's.
    const int zeros = fraction % 10 != 0     ? 0
                      : fraction % 100 != 0  ? 1
                      : fraction % 1000 != 0 ? 2
                      : fraction != 0        ? 3
                                             : 4;
    const int decimals = minDecimals > 4 - zeros ? minDecimals : 4 - zeros;
    char* p = end;
    if (decimals > 0) {
        p -= decimals;
        std::memcpy(p, kPairs + 2 * (fraction / 100), 2);     // all four: what lies past `end` is room of the
        std::memcpy(p + 2, kPairs + 2 * (fraction % 100), 2); // buffer, not part of the text
        *--p = '.';
    }
    while (magnitude >= 100) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * (magnitude % 100), 2);
        magnitude /= 100;
    }
    if (magnitude >= 10) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * magnitude, 2);
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return p;
}
} // namespace detail

// PriceToText(value / 10^4, minDecimals, 4, buffer) for a count of ten-thousandths, without a double.
// Inline: a stop-loss row prints four, and their chains of divisions overlap when the compiler sees them.
inline std::string_view TenThousandthsToText(long long value, int minDecimals, RealTextBuffer& buffer) {
    minDecimals = minDecimals < 0 ? 0 : minDecimals > 4 ? 4 : minDecimals;
    const unsigned long long magnitude =
        value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    char* const end = buffer.bytes + 32;
    char* p = magnitude <= 0xFFFFFFFFull
                  ? detail::WriteTenThousandths(static_cast<std::uint32_t>(magnitude), minDecimals, end)
                  : detail::WriteTenThousandths(magnitude, minDecimals, end);
    if (value < 0)
        *--p = '-';
    return {p, static_cast<std::size_t>(end - p)};
}

// A double cut toward zero into a long; NaN gives 0 and out-of-range values clamp.
long RealToLong(double value);

} // namespace orvo
