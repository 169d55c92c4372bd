// Number <-> text conversions with C's atol/atof rules but independent of the process locale (Qt sets
// LC_NUMERIC from the environment; the host's texts always use '.').
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// Leading white space, an optional sign, decimal digits; stops at the first other byte. No digits gives 0;
// a value beyond the range of long is clamped to LONG_MIN / LONG_MAX.
long TextToLong(std::string_view text);

// Leading white space, then the longest prefix that reads as a decimal number ("1.5e3", "-.5", "inf");
// nothing readable gives 0.0.
double TextToDouble(std::string_view text);

// Fixed notation with the given digits after the point (clamped to 0..30), '.' as the point.
std::string RealToText(double value, int decimals);

// The value with the decimals it has, at least minDecimals and at most maxDecimals: fixed notation with
// maxDecimals, then trailing zeros dropped down to minDecimals. With maxDecimals <= minDecimals it is
// RealToText(value, minDecimals).
std::string PriceToText(double value, int minDecimals, int maxDecimals);

// A double cut toward zero into a long; NaN gives 0 and out-of-range values clamp.
long RealToLong(double value);

} // namespace orvo
