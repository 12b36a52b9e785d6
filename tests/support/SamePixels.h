#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/RasterImage.h"

namespace quiltara::test {

// Two 24-bit images compared row by row, the first differing picture row
// (counted from the top) named.
inline void ExpectSamePixels(const RasterImage& expected, const RasterImage& actual,
                             const std::string& what) {
    ASSERT_TRUE(expected.HasPixels()) << what;
    ASSERT_TRUE(actual.HasPixels()) << what;
    ASSERT_EQ(actual.BitsPerPixel(), 24) << what;
    ASSERT_EQ(actual.Width(), expected.Width()) << what;
    ASSERT_EQ(actual.Height(), expected.Height()) << what;
    for (int y = 0; y < expected.Height(); ++y) {
        const auto row = static_cast<std::uint32_t>(y);
        ASSERT_EQ(std::memcmp(expected.RowPointer(row), actual.RowPointer(row),
                              static_cast<std::size_t>(expected.Width()) * 3),
                  0)
            << what << ": picture row " << expected.Height() - 1 - y;
    }
}

} // namespace quiltara::test
