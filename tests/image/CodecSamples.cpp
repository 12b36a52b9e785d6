#include "CodecSamples.h"

// clang-format off
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "image/MemoryStream.h"

namespace quiltara::test {

namespace {

void AppendPng(png_structp png, png_bytep data, std::size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp /*png*/) {}

// Writes the file with the classic libpng interface; the row buffer lives in
// the caller so nothing with a destructor is skipped by libpng's longjmp.
bool WritePng(png_structp png, png_infop info, const PngSample& s, Bytes& row) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) {
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(s.palette.data()),
                     static_cast<int>(s.palette.size() / 3));
    }
    if (!s.paletteOpacity.empty()) {
        png_set_tRNS(png, info, s.paletteOpacity.data(), static_cast<int>(s.paletteOpacity.size()),
                     nullptr);
    }
    if (s.greyKey || s.rgbKey[0]) {
        png_color_16 key{};
        key.gray = s.greyKey.value_or(0);
        key.red = s.rgbKey[0].value_or(0);
        key.green = s.rgbKey[1].value_or(0);
        key.blue = s.rgbKey[2].value_or(0);
        png_set_tRNS(png, info, nullptr, 1, &key);
    }
    if (s.density) {
        png_set_pHYs(png, info, s.density->x, s.density->y, s.density->unit);
    }
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    const int channels = png_get_channels(png, info);
    for (int pass = 0; pass < passes; ++pass) {
        for (std::uint32_t y = 0; y < s.height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (std::uint32_t x = 0; x < s.width; ++x) {
                for (int c = 0; c < channels; ++c) {
                    const std::uint16_t value = s.sample(x, y, c);
                    const std::size_t sampleIndex = std::size_t{x} * channels + c;
                    if (s.bitDepth == 16) {
                        row[2 * sampleIndex] = static_cast<std::uint8_t>(value >> 8);
                        row[2 * sampleIndex + 1] = static_cast<std::uint8_t>(value);
                    } else if (s.bitDepth == 8) {
                        row[sampleIndex] = static_cast<std::uint8_t>(value);
                    } else {
                        const std::size_t bit = sampleIndex * s.bitDepth;
                        const int shift = 8 - s.bitDepth - static_cast<int>(bit % 8);
                        row[bit / 8] |= static_cast<std::uint8_t>(value << shift);
                    }
                }
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    return true;
}

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

bool WriteJpeg(jpeg_compress_struct& cinfo, const JpegSample& s, Bytes& row) {
    if (setjmp(reinterpret_cast<JpegErrors*>(cinfo.err)->jump) != 0) {
        return false;
    }
    cinfo.image_width = s.width;
    cinfo.image_height = s.height;
    cinfo.input_components = s.components;
    cinfo.in_color_space =
        s.components == 1 ? JCS_GRAYSCALE : (s.components == 3 ? JCS_RGB : JCS_CMYK);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, s.quality, TRUE);
    cinfo.write_JFIF_header = s.writeJfif ? TRUE : FALSE;
    cinfo.density_unit = static_cast<UINT8>(s.densityUnit);
    cinfo.X_density = s.xDensity;
    cinfo.Y_density = s.yDensity;
    if (s.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (!s.exif.empty()) {
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, s.exif.data(),
                          static_cast<unsigned>(s.exif.size()));
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        for (std::uint32_t x = 0; x < s.width; ++x) {
            for (int c = 0; c < s.components; ++c) {
                row[std::size_t{x} * s.components + c] = s.sample(x, cinfo.next_scanline, c);
            }
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

} // namespace

Bytes MakePng(const PngSample& sample) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, NoFlush);
    Bytes row(std::size_t{sample.width} * 8 + 8);
    const bool ok = WritePng(png, info, sample, row);
    png_destroy_write_struct(&png, &info);
    if (!ok) {
        throw std::runtime_error("libpng refused the sample");
    }
    return out;
}

Bytes MakeJpeg(const JpegSample& sample) {
    jpeg_compress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnJpegError;
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    Bytes row(std::size_t{sample.width} * 4);
    const bool ok = WriteJpeg(cinfo, sample, row);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    if (!ok) {
        throw std::runtime_error("libjpeg refused the sample");
    }
    return out;
}

Bytes MakeExif(bool bigEndian, std::uint32_t xNumerator, std::uint32_t xDenominator,
               std::uint32_t yNumerator, std::uint32_t yDenominator, std::uint16_t unit) {
    Bytes out = {'E', 'x', 'i', 'f', 0, 0};
    const auto put16 = [&](std::uint16_t v) {
        if (bigEndian) {
            out.push_back(static_cast<std::uint8_t>(v >> 8));
            out.push_back(static_cast<std::uint8_t>(v));
        } else {
            out.push_back(static_cast<std::uint8_t>(v));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    };
    const auto put32 = [&](std::uint32_t v) {
        if (bigEndian) {
            put16(static_cast<std::uint16_t>(v >> 16));
            put16(static_cast<std::uint16_t>(v));
        } else {
            put16(static_cast<std::uint16_t>(v));
            put16(static_cast<std::uint16_t>(v >> 16));
        }
    };
    out.push_back(bigEndian ? 'M' : 'I');
    out.push_back(bigEndian ? 'M' : 'I');
    put16(42);
    put32(8); // first directory right after the header
    put16(3); // three entries
    const std::uint32_t values = 8 + 2 + 3 * 12 + 4;
    put16(0x011A);
    put16(5);
    put32(1);
    put32(values);
    put16(0x011B);
    put16(5);
    put32(1);
    put32(values + 8);
    put16(0x0128);
    put16(3);
    put32(1);
    put16(unit);
    put16(0);
    put32(0); // no next directory
    put32(xNumerator);
    put32(xDenominator);
    put32(yNumerator);
    put32(yDenominator);
    return out;
}

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool DecodeBytes(RasterImage& image, const Bytes& bytes, std::uint32_t id) {
    Bytes copy = bytes; // the stream wants a writable buffer; it never frees a caller's one
    MemoryStream stream(copy.data(), static_cast<std::uint32_t>(copy.size()));
    return image.Decode(&stream, id);
}

Bytes EncodeBytes(RasterImage& image, std::uint32_t id) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!image.Encode(&stream, id)) {
        return {};
    }
    const std::uint8_t* data = stream.BufferPointer();
    return Bytes(data, data + stream.Size());
}

void FillPattern(RasterImage& image) {
    const bool palette = image.ColorCount() > 0;
    for (std::int32_t y = 0; y < image.Height(); ++y) {
        for (std::int32_t x = 0; x < image.Width(); ++x) {
            if (palette) {
                image.PutPixelIndex(
                    x, y, static_cast<std::uint8_t>((x * 7 + y * 13) % image.ColorCount()));
            } else {
                image.PutPixelColor(x, y,
                                    RgbQuad{static_cast<std::uint8_t>(x * 9 + y),
                                            static_cast<std::uint8_t>(y * 5 + 3),
                                            static_cast<std::uint8_t>(x ^ y), 0});
            }
        }
    }
}

} // namespace quiltara::test
