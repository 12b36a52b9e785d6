#include "assembly/TileImageCheck.h"

#include <gtest/gtest.h>

#include <fstream>

#include "TestPaths.h"
#include "image/RasterImage.h"

namespace quiltara {
namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Saves a small image with our own encoder under a .png name, whatever its format.
std::filesystem::path SaveAs(const test::TempDir& dir, std::uint32_t format, std::uint32_t bpp) {
    RasterImage image(8, 8, bpp, format);
    const std::filesystem::path path = dir / ("x=1y=1zoom=1-" + std::to_string(format) + ".png");
    EXPECT_TRUE(image.SaveFile(path.string(), format)) << image.ErrorText();
    return path;
}

TEST(RasterImageCheck, AcceptsEveryFormatTheRequestAsksForWhateverTheName) {
    test::TempDir dir;
    const RasterImageCheck check;
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatPng, 24)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatJpeg, 24)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatGif, 8)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatBmp, 24)));
}

TEST(RasterImageCheck, RejectsWhatIsNotAnImage) {
    test::TempDir dir;
    const RasterImageCheck check;
    WriteText(dir / "empty.png", "");
    WriteText(dir / "page.png", "<html><body><h1>404 Not Found</h1></body></html>\n");
    const std::filesystem::path png = SaveAs(dir, kFormatPng, 24);
    std::string bytes;
    {
        std::ifstream in(png, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    WriteText(dir / "half.png", bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(check.IsUsableImage(dir / "empty.png"));
    EXPECT_FALSE(check.IsUsableImage(dir / "page.png"));
    EXPECT_FALSE(check.IsUsableImage(dir / "half.png"));
    EXPECT_FALSE(check.IsUsableImage(dir / "absent.png"));
    EXPECT_FALSE(check.IsUsableImage(dir.Path()));
}

} // namespace
} // namespace quiltara
