#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/RasterImage.h"

// Sample files for the codec tests, made here with the bare libraries so the
// inputs do not depend on the writers under test.
namespace quiltara::test {

using Bytes = std::vector<std::uint8_t>;

struct PngSample {
    std::uint32_t width = 8;
    std::uint32_t height = 8;
    int bitDepth = 8;
    int colorType = 2; // PNG colour type
    bool interlaced = false;
    // Triples for palette files.
    std::vector<std::uint8_t> palette;
    // tRNS: opacity bytes for palette files, or one key for grey and RGB.
    std::vector<std::uint8_t> paletteOpacity;
    std::optional<std::uint16_t> greyKey;
    std::optional<std::uint16_t> rgbKey[3];
    struct Density {
        std::uint32_t x, y;
        int unit;
    };
    std::optional<Density> density;
    // Sample value at (x, y from the top) of channel c, within the bit depth.
    std::function<std::uint16_t(std::uint32_t x, std::uint32_t y, int c)> sample;
};

Bytes MakePng(const PngSample& sample);

struct JpegSample {
    std::uint32_t width = 16;
    std::uint32_t height = 16;
    int components = 3; // 1 grey, 3 RGB, 4 CMYK (written as Adobe CMYK)
    int quality = 95;
    int densityUnit = 1;
    std::uint16_t xDensity = 72;
    std::uint16_t yDensity = 72;
    bool writeJfif = true;
    bool progressive = false;
    Bytes exif; // APP1 payload, "Exif\0\0" + TIFF data, when not empty
    std::function<std::uint8_t(std::uint32_t x, std::uint32_t y, int c)> sample;
};

Bytes MakeJpeg(const JpegSample& sample);

// An EXIF APP1 payload holding only the resolution fields.
Bytes MakeExif(bool bigEndian, std::uint32_t xNumerator, std::uint32_t xDenominator,
               std::uint32_t yNumerator, std::uint32_t yDenominator, std::uint16_t unit);

Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);

// Decodes bytes from memory with the given id into image.
bool DecodeBytes(RasterImage& image, const Bytes& bytes, std::uint32_t id);
// Encodes image with the given id; empty when the encoder failed.
Bytes EncodeBytes(RasterImage& image, std::uint32_t id);

// A deterministic test picture: every pixel differs from its neighbours.
void FillPattern(RasterImage& image);

} // namespace quiltara::test
