#include "TileEncoders.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace demomap {
namespace {

// Owns a libpng write structure and its info structure.
class PngWriter {
public:
    PngWriter() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (png_ == nullptr) {
            throw std::runtime_error("png_create_write_struct failed");
        }
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) {
            png_destroy_write_struct(&png_, nullptr);
            throw std::runtime_error("png_create_info_struct failed");
        }
    }
    ~PngWriter() { png_destroy_write_struct(&png_, &info_); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

void AppendToString(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

void NoFlush(png_structp) {}

struct PngJob {
    int width;
    int height;
    int colourType;
    std::vector<png_color> palette;
    std::vector<png_bytep> rows;
    std::string comment;
};

// Runs libpng's calls; libpng reports errors by longjmp back here, so this
// function holds no object with a destructor.
bool WritePng(png_structp png, png_infop info, PngJob& job, std::string* out) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_write_fn(png, out, AppendToString, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(job.width),
                 static_cast<png_uint_32>(job.height), 8, job.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, job.palette.data(), static_cast<int>(job.palette.size()));
    }
    png_text text{};
    char key[] = "Comment";
    if (!job.comment.empty()) {
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = key;
        text.text = job.comment.data();
        text.text_length = job.comment.size();
        png_set_text(png, info, &text, 1);
    }
    png_write_info(png, info);
    png_write_image(png, job.rows.data());
    png_write_end(png, nullptr);
    return true;
}

std::string EncodePng(const TileCanvas& canvas, TileEncoding encoding, const std::string& comment) {
    PngJob job{canvas.width, canvas.height, PNG_COLOR_TYPE_RGB, {}, {}, comment};
    int channels = 3;
    if (encoding == TileEncoding::RgbaPng) {
        job.colourType = PNG_COLOR_TYPE_RGBA;
        channels = 4;
    } else if (encoding == TileEncoding::PalettePng) {
        job.colourType = PNG_COLOR_TYPE_PALETTE;
        channels = 1;
        for (const Rgba& c : TerrainPalette()) {
            job.palette.push_back({c.r, c.g, c.b});
        }
    }
    std::vector<png_byte> bytes(static_cast<size_t>(canvas.width) * canvas.height * channels);
    size_t at = 0;
    for (const Rgba& p : canvas.pixels) {
        if (channels == 1) {
            const std::vector<Rgba>& palette = TerrainPalette();
            size_t index = 0;
            while (
                index + 1 < palette.size() &&
                !(palette[index].r == p.r && palette[index].g == p.g && palette[index].b == p.b)) {
                ++index;
            }
            bytes[at++] = static_cast<png_byte>(index);
            continue;
        }
        bytes[at++] = p.r;
        bytes[at++] = p.g;
        bytes[at++] = p.b;
        if (channels == 4) {
            bytes[at++] = p.a;
        }
    }
    for (int row = 0; row < canvas.height; ++row) {
        job.rows.push_back(bytes.data() + static_cast<size_t>(row) * canvas.width * channels);
    }
    PngWriter writer;
    std::string out;
    if (!WritePng(writer.Png(), writer.Info(), job, &out)) {
        throw std::runtime_error("libpng could not encode a tile");
    }
    return out;
}

// libjpeg's default error exit ends the process; ours jumps back instead.
struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

// Owns a libjpeg compressor and the memory destination buffer it fills.
class JpegCompressor {
public:
    JpegCompressor() {
        cinfo_.err = jpeg_std_error(&errors_.base);
        errors_.base.error_exit = JpegErrorExit;
        jpeg_create_compress(&cinfo_);
    }
    ~JpegCompressor() {
        jpeg_destroy_compress(&cinfo_);
        std::free(buffer_);
    }
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;

    jpeg_compress_struct cinfo_{};
    JpegErrorManager errors_{};
    unsigned char* buffer_ = nullptr;
    unsigned long size_ = 0;
};

bool WriteJpeg(JpegCompressor& jpeg, const std::vector<JSAMPROW>& rows, int width, int height) {
    if (setjmp(jpeg.errors_.jump)) {
        return false;
    }
    jpeg_compress_struct& cinfo = jpeg.cinfo_;
    jpeg_mem_dest(&cinfo, &jpeg.buffer_, &jpeg.size_);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = rows[cinfo.next_scanline];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

std::string EncodeJpeg(const TileCanvas& canvas) {
    std::vector<JSAMPLE> bytes(static_cast<size_t>(canvas.width) * canvas.height * 3);
    size_t at = 0;
    for (const Rgba& p : canvas.pixels) {
        bytes[at++] = p.r;
        bytes[at++] = p.g;
        bytes[at++] = p.b;
    }
    std::vector<JSAMPROW> rows;
    for (int row = 0; row < canvas.height; ++row) {
        rows.push_back(bytes.data() + static_cast<size_t>(row) * canvas.width * 3);
    }
    JpegCompressor jpeg;
    if (!WriteJpeg(jpeg, rows, canvas.width, canvas.height)) {
        throw std::runtime_error("libjpeg could not encode a tile");
    }
    return std::string(reinterpret_cast<const char*>(jpeg.buffer_), jpeg.size_);
}

} // namespace

std::string EncodeTile(const TileCanvas& canvas, TileEncoding encoding,
                       const std::string& comment) {
    if (encoding == TileEncoding::Jpeg) {
        return EncodeJpeg(canvas);
    }
    return EncodePng(canvas, encoding, comment);
}

std::string PaddedPng(size_t size) {
    TileCanvas canvas;
    canvas.width = 16;
    canvas.height = 16;
    canvas.pixels.assign(16 * 16, Rgba{200, 60, 60, 255});
    for (int i = 0; i < 16; ++i) {
        canvas.At(i, i) = {255, 255, 255, 255};
    }
    // Every byte of comment text adds exactly one byte to the file.
    const std::string base = EncodeTile(canvas, TileEncoding::RgbPng, "-");
    if (size < base.size()) {
        throw std::invalid_argument("size below " + std::to_string(base.size()));
    }
    return EncodeTile(canvas, TileEncoding::RgbPng, std::string(size - base.size() + 1, '-'));
}

} // namespace demomap
