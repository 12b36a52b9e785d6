// Writes the small sample images under tests/data/codecs: the fuzzer's seeds
// and the image tool's test inputs. Run it again (make_codec_sample_files
// DIR [HOSTILE_DIR]) after changing a sample; the files are committed. The
// hostile files (tests/data/hostile: small files claiming huge pictures) seed
// the fuzzer and feed bench/hostile-inputs.sh.
#include <png.h>

#include <cstdio>
#include <filesystem>

#include "CodecSamples.h"
#include "HostileSamples.h"
#include "image/RasterImage.h"

using namespace quiltara;
using namespace quiltara::test;

namespace {

std::uint16_t Gradient(std::uint32_t x, std::uint32_t y, int c) {
    return static_cast<std::uint16_t>((x * 37 + y * 11 + c * 70) % 256);
}

void Save(const std::filesystem::path& dir, const char* name, const Bytes& bytes) {
    WriteBytes(dir / name, bytes);
    std::printf("%s: %zu bytes\n", name, bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_codec_sample_files DIR [HOSTILE_DIR]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);

    PngSample rgb;
    rgb.width = 16;
    rgb.height = 16;
    rgb.sample = Gradient;
    Save(dir, "rgb8.png", MakePng(rgb));
    rgb.interlaced = true;
    rgb.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    Save(dir, "rgba8-interlaced.png", MakePng(rgb));
    rgb.interlaced = false;
    rgb.colorType = PNG_COLOR_TYPE_RGB;
    rgb.bitDepth = 16;
    rgb.rgbKey[0] = rgb.rgbKey[1] = rgb.rgbKey[2] = 0x1010;
    rgb.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint16_t>(Gradient(x, y, c) * 257);
    };
    Save(dir, "rgb16-key.png", MakePng(rgb));

    PngSample palette;
    palette.colorType = PNG_COLOR_TYPE_PALETTE;
    palette.bitDepth = 4;
    for (int i = 0; i < 16; ++i) {
        palette.palette.insert(palette.palette.end(), {static_cast<std::uint8_t>(i * 16), 80, 200});
    }
    palette.paletteOpacity = {0, 64, 128};
    palette.sample = [](std::uint32_t x, std::uint32_t y, int) {
        return static_cast<std::uint16_t>((x + 3 * y) % 16);
    };
    Save(dir, "palette4-alpha.png", MakePng(palette));

    PngSample grey;
    grey.colorType = PNG_COLOR_TYPE_GRAY;
    grey.bitDepth = 2;
    grey.width = 13;
    grey.greyKey = 1;
    grey.sample = [](std::uint32_t x, std::uint32_t y, int) {
        return static_cast<std::uint16_t>((x + y) % 4);
    };
    Save(dir, "grey2-key.png", MakePng(grey));

    JpegSample jpeg;
    jpeg.width = 24;
    jpeg.height = 16;
    jpeg.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint8_t>(Gradient(x, y, c));
    };
    jpeg.quality = 75;
    Save(dir, "colour.jpg", MakeJpeg(jpeg));
    jpeg.progressive = true;
    jpeg.exif = MakeExif(true, 300, 1, 300, 1, 2);
    Save(dir, "progressive-exif.jpg", MakeJpeg(jpeg));
    jpeg.progressive = false;
    jpeg.exif.clear();
    jpeg.components = 4;
    Save(dir, "cmyk.jpg", MakeJpeg(jpeg));
    jpeg.components = 1;
    Save(dir, "grey.jpg", MakeJpeg(jpeg));

    RasterImage indexed(11, 7, 8, 0);
    for (std::uint32_t i = 0; i < 256; ++i) {
        indexed.SetPaletteEntry(
            static_cast<std::uint8_t>(i),
            RgbQuad{static_cast<std::uint8_t>(i), 40, static_cast<std::uint8_t>(255 - i), 0});
    }
    FillPattern(indexed);
    indexed.SetTransparentIndex(5);
    Save(dir, "palette8.gif", EncodeBytes(indexed, kFormatGif));
    Save(dir, "palette8.bmp", EncodeBytes(indexed, kFormatBmp));
    RasterImage colour(11, 7, 24, 0);
    FillPattern(colour);
    Save(dir, "rgb.bmp", EncodeBytes(colour, kFormatBmp));
    Save(dir, "rgb.tif", EncodeBytes(colour, kFormatTiff));
    Save(dir, "palette8.tif", EncodeBytes(indexed, kFormatTiff));
    colour.CreateAlpha();
    colour.SetAlphaAt(2, 2, 7);
    Save(dir, "rgba.tif", EncodeBytes(colour, kFormatTiff));

    if (argc == 3) {
        const std::filesystem::path hostile = argv[2];
        std::filesystem::create_directories(hostile);
        for (const HostileSample& sample : HostileSamples()) {
            Save(hostile, sample.name.c_str(), sample.bytes);
        }
    }
    return 0;
}
