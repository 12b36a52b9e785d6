// Conformance against the PngSuite images beside the checkout: corrupt files
// are refused, every other file decodes to its size, and the RGBA read-back
// matches the suite's reference pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CodecSamples.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;

fs::path SuiteDir() {
    return test::SharedDir() / "testdata" / "pngsuite";
}

std::vector<std::string> SuiteFiles() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(SuiteDir() / "png", error)) {
        if (entry.path().extension() == ".png") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The reference files are JSON arrays of integers; nothing else is in them.
bool ReadReference(const fs::path& path, std::vector<int>& values) {
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    values.clear();
    int current = -1;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            current = (current < 0 ? 0 : current * 10) + (c - '0');
        } else if (current >= 0) {
            values.push_back(current);
            current = -1;
        }
    }
    return true;
}

struct Ihdr {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    int colorType = 0;
};

// The size as the file's header states it, read without any decoder.
Ihdr ReadIhdr(const test::Bytes& file) {
    Ihdr ihdr;
    if (file.size() >= 26) {
        const auto u32 = [&](std::size_t at) {
            return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 |
                   std::uint32_t{file[at + 2]} << 8 | file[at + 3];
        };
        ihdr.width = u32(16);
        ihdr.height = u32(20);
        ihdr.bitDepth = file[24];
        ihdr.colorType = file[25];
    }
    return ihdr;
}

// An image with known content, to see that a refused file changes nothing.
RasterImage Sentinel() {
    RasterImage image(3, 2, 24, 1);
    test::FillPattern(image);
    return image;
}

class PngSuite : public testing::TestWithParam<std::string> {};

TEST(PngSuiteFolder, IsPresent) {
    if (!fs::is_directory(SuiteDir() / "png")) {
        GTEST_SKIP() << "PngSuite not found at " << SuiteDir() << "; conformance tests skipped";
    }
    EXPECT_GT(SuiteFiles().size(), 100u);
}

TEST_P(PngSuite, File) {
    const std::string name = GetParam();
    const fs::path file = SuiteDir() / "png" / (name + ".png");
    RasterImage image = Sentinel();
    const std::vector<std::uint8_t> sentinelPixels = RgbaReadback(image);

    if (name[0] == 'x') {
        EXPECT_FALSE(image.LoadFile(file.string(), kFormatPng));
        EXPECT_STRNE(image.ErrorText(), "");
        EXPECT_EQ(image.Width(), 3);
        EXPECT_EQ(image.Height(), 2);
        EXPECT_EQ(image.FormatId(), 1u);
        EXPECT_EQ(RgbaReadback(image), sentinelPixels);
        return;
    }

    ASSERT_TRUE(image.LoadFile(file.string(), kFormatPng)) << image.ErrorText();
    EXPECT_EQ(image.FormatId(), 4u);
    const Ihdr ihdr = ReadIhdr(test::ReadBytes(file));
    EXPECT_EQ(static_cast<std::uint32_t>(image.Width()), ihdr.width);
    EXPECT_EQ(static_cast<std::uint32_t>(image.Height()), ihdr.height);

    std::vector<int> reference;
    const fs::path json = SuiteDir() / "json" / (name + ".json");
    ASSERT_TRUE(ReadReference(json, reference)) << json;
    ASSERT_EQ(reference.size(), std::size_t{ihdr.width} * ihdr.height * 4);

    const std::vector<std::uint8_t> pixels = RgbaReadback(image);
    if (ihdr.bitDepth == 16) {
        // The reference holds the 16-bit samples; the reader keeps their
        // high-order byte, transparency keys included.
        for (int& value : reference) {
            value >>= 8;
        }
    }
    ASSERT_EQ(pixels.size(), reference.size());
    std::size_t firstDifference = 0;
    while (firstDifference < pixels.size() &&
           pixels[firstDifference] == reference[firstDifference]) {
        ++firstDifference;
    }
    EXPECT_EQ(firstDifference, pixels.size())
        << "first difference at pixel " << firstDifference / 4 << " channel " << firstDifference % 4
        << ": " << int{pixels[firstDifference]} << " instead of " << reference[firstDifference];
}

INSTANTIATE_TEST_SUITE_P(Images, PngSuite, testing::ValuesIn(SuiteFiles()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PngSuite);

} // namespace
} // namespace quiltara
