#include "platform/TextNumbers.h"

#include <charconv>
#include <climits>
#include <cmath>

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

} // namespace

long TextToLong(std::string_view text) {
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

double TextToDouble(std::string_view text) {
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

std::string RealToText(double value, int decimals) {
    if (decimals < 0)
        decimals = 0;
    if (decimals > 30)
        decimals = 30;
    char buffer[400]; // DBL_MAX in fixed notation has 309 digits before the point
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "0";
    return std::string(buffer, result.ptr);
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
