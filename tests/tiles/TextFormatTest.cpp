#include "tiles/TextFormat.h"

#include <gtest/gtest.h>

#include <climits>

namespace quiltara {
namespace {

TEST(ReadLeadingInt, ReadsLikeAtoi) {
    EXPECT_EQ(ReadLeadingInt("12"), 12);
    EXPECT_EQ(ReadLeadingInt("  \t-7abc"), -7);
    EXPECT_EQ(ReadLeadingInt("+3"), 3);
    EXPECT_EQ(ReadLeadingInt("x12"), 0);
    EXPECT_EQ(ReadLeadingInt(""), 0);
    EXPECT_EQ(ReadLeadingInt("-"), 0);
    EXPECT_EQ(ReadLeadingInt("1 2"), 1);
}

TEST(ReadLeadingInt, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(ReadLeadingInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadLeadingInt("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(ReadLeadingInt("-2147483648"), INT_MIN);
}

TEST(FormatText, FormatsLikePrintf) {
    EXPECT_EQ(FormatText("%i (%i to %i)", 5, 21, 25), "5 (21 to 25)");
    EXPECT_EQ(FormatText("%s", ""), "");
    const std::string longText(1000, 'a');
    EXPECT_EQ(FormatText("%s!", longText.c_str()), longText + "!");
}

} // namespace
} // namespace quiltara
