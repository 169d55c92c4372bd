// Number <-> text conversions with C's atol/atof rules but independent of the process locale (Qt sets
// LC_NUMERIC from the environment; the host's texts always use '.').
#pragma once

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

// Leading white space, then the longest prefix that reads as a decimal number ("1.5e3", "-.5", "inf");
// nothing readable gives 0.0.
double TextToDouble(std::string_view text);

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
// PriceToText(value / 10^4, minDecimals, 4, buffer) for a count of ten-thousandths, without a double.
std::string_view TenThousandthsToText(long long value, int minDecimals, RealTextBuffer& buffer);

// A double cut toward zero into a long; NaN gives 0 and out-of-range values clamp.
long RealToLong(double value);

} // namespace orvo
