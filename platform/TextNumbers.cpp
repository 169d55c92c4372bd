#include "platform/TextNumbers.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvo {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view skipSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    return text.substr(i);
}

__extension__ using Uint128 = unsigned __int128; // GCC and Clang on 64-bit targets

constexpr std::uint64_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};
constexpr int kFastMaxDecimals = 9;

// Fixed notation for the values prices and amounts take (up to 9 decimals, the scaled value below 2^64),
// byte for byte what the general conversion gives, at a fraction of its cost. The double is m * 2^e
// exactly; m * 10^decimals is formed exactly in 128 bits and the binary point shifted out with the
// rounding printf applies to the exact value: to nearest, a tie to the even neighbour. Gives the length
// written, or 0 when the value is not one it takes (NaN, infinities, too large).
std::size_t fastFixed(double value, int decimals, char* out) {
    if (decimals > kFastMaxDecimals)
        return 0;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased == 0x7FF)
        return 0; // NaN or infinite
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = -1074; // subnormal: no hidden bit
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased - 1075;
    }
    if (exponent >= 0)
        return 0; // 2^52 and beyond: left to the general conversion
    const std::uint64_t scale = kPowersOfTen[decimals];
    const Uint128 scaled = static_cast<Uint128>(mantissa) * scale; // below 2^83
    const int shift = -exponent;
    Uint128 rounded = 0;
    if (shift < 100) {
        rounded = scaled >> shift;
        const Uint128 rest = scaled - (rounded << shift);
        const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
        if (rest > half || (rest == half && (rounded & 1) != 0))
            ++rounded;
    } // else the scaled value is below 2^83 / 2^100: under a half, rounds to 0
    if ((rounded >> 64) != 0)
        return 0;
    const auto units = static_cast<std::uint64_t>(rounded);

    // The digits of the scaled value, then the point put in (no division by a power of ten not known at
    // compile time: that alone would cost as much as the rest).
    char digits[24];
    const auto count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, units).ptr - digits);
    const int whole = count - decimals; // digits before the point; none when 0 or less
    char* p = out;
    if (bits >> 63)
        *p++ = '-'; // also for -0.0 and for negatives that round to 0, as printf writes them
    if (whole > 0) {
        std::memcpy(p, digits, static_cast<std::size_t>(whole));
        p += whole;
    } else {
        *p++ = '0';
    }
    if (decimals > 0) {
        *p++ = '.';
        for (int i = whole; i < 0; ++i)
            *p++ = '0';
        const int from = std::max(whole, 0);
        std::memcpy(p, digits + from, static_cast<std::size_t>(count - from));
        p += count - from;
    }
    return static_cast<std::size_t>(p - out);
}

} // namespace

long detail::TextToLongGeneral(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    // Accumulate as a negative number so LONG_MIN is reachable.
    long value = 0;
    bool overflow = false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value < (LONG_MIN + digit) / 10) {
            overflow = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (overflow)
        return negative ? LONG_MIN : LONG_MAX;
    if (negative)
        return value;
    return value == LONG_MIN ? LONG_MAX : -value;
}

double detail::TextToDoubleGeneral(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    // from_chars takes no sign of its own here; a second sign ("+-1") reads as nothing, as with atof.
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        return 0.0;
    double value = 0.0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow and underflow; atof gives +-HUGE_VAL or 0.
        const std::string_view digits = text.substr(0, static_cast<std::size_t>(result.ptr - text.data()));
        const bool tiny = digits.find_first_of("eE") != std::string_view::npos &&
                          digits.find('-', digits.find_first_of("eE")) != std::string_view::npos;
        value = tiny ? 0.0 : HUGE_VAL;
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

std::string_view RealToText(double value, int decimals, RealTextBuffer& buffer) {
    if (decimals < 0)
        decimals = 0;
    if (decimals > 30)
        decimals = 30;
    char* const out = buffer.bytes;
    if (const std::size_t length = fastFixed(value, decimals, out))
        return {out, length};
    const auto result =
        std::to_chars(out, out + sizeof buffer.bytes, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "0";
    return {out, static_cast<std::size_t>(result.ptr - out)};
}

std::string RealToText(double value, int decimals) {
    RealTextBuffer buffer;
    return std::string(RealToText(value, decimals, buffer));
}

std::string_view PriceToText(double value, int minDecimals, int maxDecimals, RealTextBuffer& buffer) {
    if (maxDecimals <= minDecimals)
        return RealToText(value, minDecimals, buffer);
    const std::string_view text = RealToText(value, maxDecimals, buffer);
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos)
        return text; // not a finite number: left as the general conversion wrote it
    const std::size_t keep = point + 1 + static_cast<std::size_t>(std::max(minDecimals, 0));
    std::size_t end = text.size();
    while (end > keep && text[end - 1] == '0')
        --end;
    if (end == point + 1)
        --end; // no decimals wanted and none left: no point either
    return text.substr(0, end);
}

std::string PriceToText(double value, int minDecimals, int maxDecimals) {
    RealTextBuffer buffer;
    return std::string(PriceToText(value, minDecimals, maxDecimals, buffer));
}

long RealToLong(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(LONG_MAX))
        return LONG_MAX;
    if (value <= static_cast<double>(LONG_MIN))
        return LONG_MIN;
    return static_cast<long>(value);
}

} // namespace orvo
