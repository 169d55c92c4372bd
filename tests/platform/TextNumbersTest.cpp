#include "platform/TextNumbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

TEST(TextToLong, ReadsLikeAtol) {
    EXPECT_EQ(orvo::TextToLong("123"), 123);
    EXPECT_EQ(orvo::TextToLong(" \t-45xyz"), -45);
    EXPECT_EQ(orvo::TextToLong("+7"), 7);
    EXPECT_EQ(orvo::TextToLong(""), 0);
    EXPECT_EQ(orvo::TextToLong("abc"), 0);
    EXPECT_EQ(orvo::TextToLong("- 5"), 0);
    EXPECT_EQ(orvo::TextToLong("12.9"), 12);
    EXPECT_EQ(orvo::TextToLong("0101"), 101);
}

TEST(TextToLong, ClampsInsteadOfOverflowing) {
    EXPECT_EQ(orvo::TextToLong("9223372036854775807"), LONG_MAX);
    EXPECT_EQ(orvo::TextToLong("9223372036854775808"), LONG_MAX);
    EXPECT_EQ(orvo::TextToLong("-9223372036854775808"), LONG_MIN);
    EXPECT_EQ(orvo::TextToLong("-99999999999999999999999"), LONG_MIN);
}

TEST(TextToDouble, ReadsLikeAtofWhateverTheLocale) {
    EXPECT_DOUBLE_EQ(orvo::TextToDouble(" 3.25abc"), 3.25);
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("-.5"), -0.5);
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("+2e2"), 200.0);
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("x1"), 0.0);
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("+-1"), 0.0);
    EXPECT_TRUE(std::isinf(orvo::TextToDouble("1e999")));
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("1e-999"), 0.0);
    // A comma-decimal locale must not change how the host's texts read.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        EXPECT_DOUBLE_EQ(orvo::TextToDouble("1.5"), 1.5);
        EXPECT_EQ(orvo::RealToText(1.5, 2), "1.50");
        std::setlocale(LC_NUMERIC, "C");
    }
}

// Plain decimal texts (what nearly every received price is) are read without the general parser: the
// value must be the very double strtod gives, on both sides of the length where the short road ends.
TEST(TextToDouble, PlainDecimalsReadAsStrtodReadsThem) {
    std::mt19937_64 random(7);
    int failures = 0;
    for (int i = 0; i < 50000; ++i) {
        const int whole = static_cast<int>(random() % 12), places = static_cast<int>(random() % 9);
        std::string text = random() % 3 == 0 ? "-" : "";
        for (int d = 0; d <= whole; ++d)
            text += static_cast<char>('0' + random() % 10);
        if (places > 0)
            text += '.';
        for (int d = 0; d < places; ++d)
            text += static_cast<char>('0' + random() % 10);
        const double expected = std::strtod(text.c_str(), nullptr);
        const double read = orvo::TextToDouble(text);
        if (std::memcmp(&read, &expected, sizeof read) != 0 && ++failures <= 10)
            ADD_FAILURE() << text << ": " << read << " instead of " << expected;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(std::signbit(orvo::TextToDouble("-0")));
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("12."), 12.0);
    EXPECT_DOUBLE_EQ(orvo::TextToDouble("0.1"), 0.1);
}

TEST(RealToText, FixedDecimalsAndSafeTruncation) {
    EXPECT_EQ(orvo::RealToText(68250.0, 2), "68250.00");
    EXPECT_EQ(orvo::RealToText(2.675, 1), "2.7");
    EXPECT_EQ(orvo::RealToText(-3.0, 0), "-3");
    EXPECT_EQ(orvo::RealToText(1.0, -4), "1");
    EXPECT_EQ(orvo::RealToText(1e300, 2).size(), 304u); // no buffer overrun on huge values
    EXPECT_EQ(orvo::RealToLong(3.99), 3);
    EXPECT_EQ(orvo::RealToLong(-3.99), -3);
    EXPECT_EQ(orvo::RealToLong(NAN), 0);
    EXPECT_EQ(orvo::RealToLong(1e300), LONG_MAX);
    EXPECT_EQ(orvo::RealToLong(-1e300), LONG_MIN);
}

// What C's printf writes for "%.*f" (the test runs in the "C" locale).
std::string printfFixed(double value, int decimals) {
    char buffer[400];
    const int length = std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return std::string(buffer, static_cast<std::size_t>(length));
}

// Every decimals count the fast conversion takes and a few beyond it, where it hands over.
void expectAsPrintf(double value, int& failures) {
    for (int decimals = 0; decimals <= 12; ++decimals) {
        const std::string expected = printfFixed(value, decimals);
        const std::string text = orvo::RealToText(value, decimals);
        if (text != expected && ++failures <= 10)
            ADD_FAILURE() << "value " << std::hexfloat << value << std::defaultfloat << " decimals "
                          << decimals << ": \"" << text << "\" instead of \"" << expected << "\"";
    }
}

TEST(RealToText, RoundsExactlyAsPrintfDoes) {
    EXPECT_EQ(orvo::RealToText(0.125, 2), "0.12"); // an exact tie goes to the even digit
    EXPECT_EQ(orvo::RealToText(0.375, 2), "0.38");
    EXPECT_EQ(orvo::RealToText(2.5, 0), "2");
    EXPECT_EQ(orvo::RealToText(-2.5, 0), "-2");
    EXPECT_EQ(orvo::RealToText(2.675, 2), "2.67"); // stored just below the half
    EXPECT_EQ(orvo::RealToText(1.005, 2), "1.00");
    EXPECT_EQ(orvo::RealToText(-0.0, 2), "-0.00");
    EXPECT_EQ(orvo::RealToText(-0.001, 2), "-0.00");
    EXPECT_EQ(orvo::RealToText(68250.5, 0), "68250");
    EXPECT_EQ(orvo::RealToText(0.5, 0), "0");
    EXPECT_EQ(orvo::RealToText(1.5, 0), "2");

    int failures = 0;
    std::mt19937_64 random(20261207);
    const double specials[] = {0.0,
                               -0.0,
                               DBL_MIN,
                               -DBL_MIN,
                               std::numeric_limits<double>::denorm_min(),
                               DBL_MAX,
                               -DBL_MAX,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               4503599627370495.5, // the largest value with a fraction
                               4503599627370496.0,
                               9007199254740993.0,
                               1e15,
                               -1e15,
                               18446744073709551615.0,
                               18446744073.709551615,
                               18446744073709.551615,
                               1844674407.3709551615};
    for (const double value : specials) {
        expectAsPrintf(value, failures);
        expectAsPrintf(std::nextafter(value, 0.0), failures);
        expectAsPrintf(std::nextafter(value, HUGE_VAL), failures);
    }
    for (int i = 0; i < 60000; ++i) {
        // Any bit pattern of a magnitude a price or an amount may take, 1e-12 to 1e16.
        const double magnitude = std::ldexp(1.0, static_cast<int>(random() % 94) - 40);
        const double mantissa = 1.0 + static_cast<double>(random() >> 11) * 0x1p-53;
        const double value = (random() & 1 ? -1.0 : 1.0) * magnitude * mantissa;
        expectAsPrintf(value, failures);

        // Exact ties: an odd multiple of 2^-(d+1) is a half at d decimals, and at fewer.
        const int tieDecimals = static_cast<int>(random() % 10);
        const auto odd = static_cast<double>((random() % 100000000) | 1);
        const double tie = std::ldexp(odd, -(tieDecimals + 1));
        expectAsPrintf(tie, failures);
        expectAsPrintf(-tie, failures);
        expectAsPrintf(std::nextafter(tie, 0.0), failures);
        expectAsPrintf(std::nextafter(tie, HUGE_VAL), failures);

        // Decimal halves as typed ("2.675"): the nearest double lies a little above or below the half.
        const std::string typed =
            std::to_string(random() % 1000000) + "." + std::to_string(random() % 100000) + "5";
        expectAsPrintf(std::strtod(typed.c_str(), nullptr), failures);
    }
    EXPECT_EQ(failures, 0);
}

// The stack-buffer forms write printf's text, also at the buffer's limit (the widest fixed text there is),
// and drop a price's trailing zeros down to the least decimals asked for.
TEST(RealToText, BufferFormsWriteTheSameTexts) {
    orvo::RealTextBuffer buffer;
    for (const double value : {-DBL_MAX, DBL_MAX, 1e300, 103.895, -0.0, 0.004, 68250.0})
        for (const int decimals : {0, 2, 4, 9, 30}) {
            EXPECT_EQ(orvo::RealToText(value, decimals, buffer), printfFixed(value, decimals));
            EXPECT_EQ(orvo::PriceToText(value, decimals, decimals, buffer), printfFixed(value, decimals));
        }
    EXPECT_EQ(orvo::PriceToText(103.895, 2, 4, buffer), "103.895");
    EXPECT_EQ(orvo::PriceToText(100.0, 2, 4, buffer), "100.00");
    EXPECT_EQ(orvo::PriceToText(0.125, 0, 4, buffer), "0.125");
    EXPECT_EQ(orvo::PriceToText(7.0, 0, 4, buffer), "7");
}

} // namespace
