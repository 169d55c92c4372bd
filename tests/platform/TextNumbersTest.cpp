#include "platform/TextNumbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>

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

} // namespace
