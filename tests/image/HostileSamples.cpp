#include "HostileSamples.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>

namespace quiltara::test {

namespace {

void Put16(Bytes& out, std::uint16_t value, bool bigEndian) {
    if (bigEndian) {
        out.push_back(static_cast<std::uint8_t>(value >> 8));
        out.push_back(static_cast<std::uint8_t>(value));
    } else {
        out.push_back(static_cast<std::uint8_t>(value));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
}

void Put32(Bytes& out, std::uint32_t value, bool bigEndian) {
    if (bigEndian) {
        Put16(out, static_cast<std::uint16_t>(value >> 16), true);
        Put16(out, static_cast<std::uint16_t>(value), true);
    } else {
        Put16(out, static_cast<std::uint16_t>(value), false);
        Put16(out, static_cast<std::uint16_t>(value >> 16), false);
    }
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()), true);
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, out.size() - start)), true);
}

Bytes PngSignatureAndHeader(std::uint32_t width, std::uint32_t height, int depth, int colorType,
                            bool interlaced) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32(header, width, true);
    Put32(header, height, true);
    header.insert(header.end(),
                  {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colorType), 0, 0,
                   static_cast<std::uint8_t>(interlaced ? 1 : 0)});
    PutChunk(out, "IHDR", header);
    return out;
}

// A chunk whose length field claims nearly 2 GB, followed by three bytes.
Bytes PngLongChunk(const char* type) {
    Bytes out = PngSignatureAndHeader(8, 8, 8, PNG_COLOR_TYPE_RGB, false);
    Put32(out, 0x7FFFFFF0u, true);
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), {0, 0, 0});
    return out;
}

// An interlaced 20000 x 20000 RGB picture with the data of its first pass
// only (zeros deflate to next to nothing); the file ends there.
Bytes PngInterlacedFirstPassOnly() {
    constexpr std::uint32_t kSide = 20000;
    Bytes out = PngSignatureAndHeader(kSide, kSide, 8, PNG_COLOR_TYPE_RGB, true);
    const std::size_t passRow = 1 + (kSide + 7) / 8 * 3;
    const Bytes raw(passRow * ((kSide + 7) / 8), 0);
    uLongf length = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(length);
    compress2(packed.data(), &length, raw.data(), static_cast<uLong>(raw.size()), 9);
    packed.resize(length);
    PutChunk(out, "IDAT", packed);
    return out;
}

// One row of 2^31 - 1 pixels of 16-bit RGBA: 17 GB a row, behind 60 bytes.
Bytes PngEndlessRow() {
    Bytes out = PngSignatureAndHeader(0x7FFFFFFF, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, false);
    PutChunk(out, "IDAT", Bytes{0x78, 0x9C, 0x63, 0x00, 0x00});
    return out;
}

// A 65535 x 65535 screen whose one frame covers it all, with no pixel data.
Bytes GifHugeScreen() {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, 0xFFFF, false);
    Put16(out, 0xFFFF, false);
    out.insert(out.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255}); // two-entry global table
    out.push_back(',');
    Put16(out, 0, false);
    Put16(out, 0, false);
    Put16(out, 0xFFFF, false);
    Put16(out, 0xFFFF, false);
    out.insert(out.end(), {0, 2, 2, 0x4C, 0x01, 0, ';'});
    return out;
}

// A bitmap header claiming width x height at the given depth and compression,
// with a two-colour palette and the first bytes of the rows.
Bytes BmpClaiming(std::int32_t width, std::int32_t height, std::uint16_t bits,
                  std::uint32_t compression, const Bytes& rows) {
    Bytes out = {'B', 'M'};
    const std::uint32_t palette = bits <= 8 ? 8 : 0;
    Put32(out, static_cast<std::uint32_t>(54 + palette + rows.size()), false);
    Put32(out, 0, false);
    Put32(out, 54 + palette, false);
    Put32(out, 40, false);
    Put32(out, static_cast<std::uint32_t>(width), false);
    Put32(out, static_cast<std::uint32_t>(height), false);
    Put16(out, 1, false);
    Put16(out, bits, false);
    Put32(out, compression, false);
    for (int i = 0; i < 3; ++i) {
        Put32(out, 0, false);
    }
    Put32(out, bits <= 8 ? 2 : 0, false);
    Put32(out, 0, false);
    if (palette != 0) {
        out.insert(out.end(), {0, 0, 0, 0, 255, 255, 255, 0});
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

// A little-endian TIFF of 30000 x 30000 RGB pixels in one strip, of which a
// few bytes are present.
Bytes TiffClaiming() {
    constexpr std::uint32_t kSide = 30000;
    Bytes out = {'I', 'I', 42, 0};
    Put32(out, 8, false);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const std::uint32_t bitsOffset = 8 + 2 + 11 * 12 + 4;
    const std::uint32_t dataOffset = bitsOffset + 6;
    const Entry entries[] = {
        {256, 4, 1, kSide}, {257, 4, 1, kSide}, {258, 3, 3, bitsOffset},
        {259, 3, 1, 1},     {262, 3, 1, 2},     {273, 4, 1, dataOffset},
        {277, 3, 1, 3},     {278, 4, 1, kSide}, {279, 4, 1, kSide * kSide * 3},
        {284, 3, 1, 1},     {296, 3, 1, 2},
    };
    Put16(out, 11, false);
    for (const Entry& e : entries) {
        Put16(out, e.tag, false);
        Put16(out, e.type, false);
        Put32(out, e.count, false);
        if (e.type == 3 && e.count == 1) {
            Put16(out, static_cast<std::uint16_t>(e.value), false);
            Put16(out, 0, false);
        } else {
            Put32(out, e.value, false);
        }
    }
    Put32(out, 0, false);
    for (int i = 0; i < 3; ++i) {
        Put16(out, 8, false);
    }
    out.insert(out.end(), 64, 0x80);
    return out;
}

} // namespace

Bytes JpegClaiming(std::uint32_t width, std::uint32_t height, bool progressive, std::size_t keep) {
    JpegSample s;
    s.width = 64;
    s.height = 64;
    s.progressive = progressive;
    s.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint8_t>((x * 7 + y * 13 + c * 50) % 256);
    };
    Bytes jpeg = JpegWithClaimedSize(MakeJpeg(s), width, height);
    if (keep != 0) {
        std::size_t firstScan = 0;
        while (firstScan + 1 < jpeg.size() &&
               !(jpeg[firstScan] == 0xFF && jpeg[firstScan + 1] == 0xDA)) {
            ++firstScan;
        }
        jpeg.resize(std::min(jpeg.size(), firstScan + keep));
    }
    return jpeg;
}

Bytes JpegWithClaimedSize(Bytes jpeg, std::uint32_t width, std::uint32_t height) {
    for (std::size_t i = 0; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    }
    return jpeg;
}

Bytes PngClaiming(Bytes png, std::uint32_t width, std::uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    const auto crc = static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17));
    for (int i = 0; i < 4; ++i) {
        png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }
    return png;
}

std::vector<HostileSample> HostileSamples() {
    std::vector<HostileSample> samples;
    samples.push_back({"jpeg-cut-30000.jpg", JpegClaiming(30000, 30000, false, 300)});
    samples.push_back({"jpeg-early-end-30000.jpg", JpegClaiming(30000, 30000, false, 0)});
    samples.push_back({"jpeg-progressive-cut-6000.jpg", JpegClaiming(6000, 6000, true, 300)});
    samples.push_back({"jpeg-progressive-early-end-6000.jpg", JpegClaiming(6000, 6000, true, 0)});
    for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf"}) {
        samples.push_back({std::string("png-long-") + type + ".png", PngLongChunk(type)});
    }
    samples.push_back({"png-interlaced-first-pass-20000.png", PngInterlacedFirstPassOnly()});
    samples.push_back({"png-endless-row.png", PngEndlessRow()});
    samples.push_back({"gif-screen-65535.gif", GifHugeScreen()});
    samples.push_back({"bmp-rgb-30000.bmp", BmpClaiming(30000, 30000, 24, 0, Bytes(64, 0x80))});
    // Run-length data that ends the bitmap at once: a valid, blank picture.
    samples.push_back({"bmp-rle-30000.bmp", BmpClaiming(30000, 30000, 8, 1, Bytes{0, 1})});
    samples.push_back({"tiff-rgb-30000.tif", TiffClaiming()});
    return samples;
}

} // namespace quiltara::test
