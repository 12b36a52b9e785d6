#include "image/ImagePreview.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "image/TiffPreview.h"

namespace quiltara {

namespace {

// An interlaced PNG up to this many pixels is read whole (16 MB of RGBA);
// a larger one by its first pass alone.
constexpr std::uint64_t kWholeInterlacedPixels = std::uint64_t{1} << 22;
// Rows wider than this are refused: the reader holds one.
constexpr std::uint64_t kMaxRowBytes = std::uint64_t{128} << 20;
// How often stop is asked, in rows.
constexpr std::uint32_t kRowsBetweenLooks = 64;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Owns the libpng read structures.
class PngPreviewHandles {
public:
    PngPreviewHandles() = default;
    PngPreviewHandles(const PngPreviewHandles&) = delete;
    PngPreviewHandles& operator=(const PngPreviewHandles&) = delete;
    ~PngPreviewHandles() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
    }

    png_structp png = nullptr;
    png_infop info = nullptr;
};

// A damaged file is simply no preview: nothing reaches the console.
[[noreturn]] void OnPngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// What the guarded read fills; it lives outside the function that libpng
// may leave by longjmp, which therefore owns nothing with a destructor.
struct PngPreviewRead {
    std::uint32_t maxSide = 0;
    StopRequested stop;
    std::vector<std::uint8_t> row;
    std::vector<std::uint8_t> whole;
    std::optional<PreviewAccumulator> sums;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

bool Stopped(const StopRequested& stop, std::uint32_t row) {
    return stop && row % kRowsBetweenLooks == 0 && stop();
}

bool ReadPngGuarded(png_structp png, png_infop info, PngPreviewRead& read) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    // Only the pixels matter: every ancillary chunk is skipped unread.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);
    read.width = png_get_image_width(png, info);
    read.height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    // Every layout arrives as 8-bit red, green, blue, alpha.
    png_set_expand(png);
    png_set_strip_16(png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_gray_to_rgb(png);
    }
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const bool whole =
        interlaced && std::uint64_t{read.width} * read.height <= kWholeInterlacedPixels;
    int passes = 1;
    if (whole) {
        passes = png_set_interlace_handling(png);
    }
    png_read_update_info(png, info);
    const std::uint64_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != std::uint64_t{read.width} * 4 || rowBytes > kMaxRowBytes) {
        return false;
    }
    // Without interlace handling an interlaced file's rows come pass by
    // pass; the first pass is the image at an eighth each way.
    const std::uint32_t sourceWidth = interlaced && !whole ? (read.width + 7) / 8 : read.width;
    const std::uint32_t sourceHeight = interlaced && !whole ? (read.height + 7) / 8 : read.height;
    std::uint32_t previewWidth = 0;
    std::uint32_t previewHeight = 0;
    PreviewSize(read.width, read.height, read.maxSide, previewWidth, previewHeight);
    read.sums.emplace(sourceWidth, sourceHeight, previewWidth, previewHeight);
    read.row.resize(rowBytes);
    if (whole) {
        read.whole.resize(rowBytes * read.height);
        for (int pass = 0; pass < passes; ++pass) {
            for (std::uint32_t y = 0; y < read.height; ++y) {
                png_read_row(png, read.whole.data() + y * rowBytes, nullptr);
            }
        }
        for (std::uint32_t y = 0; y < read.height; ++y) {
            read.sums->AddRow(y, read.whole.data() + y * rowBytes, false);
        }
        return true;
    }
    for (std::uint32_t y = 0; y < sourceHeight; ++y) {
        if (Stopped(read.stop, y)) {
            return false;
        }
        png_read_row(png, read.row.data(), nullptr);
        read.sums->AddRow(y, read.row.data(), false);
    }
    return true;
}

std::optional<ImagePreview> ReadPngPreview(const std::string& path, std::uint32_t maxSide,
                                           const StopRequested& stop) {
    const FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    PngPreviewHandles handles;
    handles.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (handles.png == nullptr) {
        return std::nullopt;
    }
    handles.info = png_create_info_struct(handles.png);
    if (handles.info == nullptr) {
        return std::nullopt;
    }
    png_init_io(handles.png, file.get());
    PngPreviewRead read;
    read.maxSide = maxSide;
    read.stop = stop;
    if (!ReadPngGuarded(handles.png, handles.info, read) || !read.sums) {
        return std::nullopt;
    }
    return read.sums->Finish(read.width, read.height);
}

enum class PreviewKind { None, Png, Tiff };

PreviewKind KindOf(const std::string& path) {
    const FileHandle file(std::fopen(path.c_str(), "rb"));
    std::array<unsigned char, 8> head{};
    if (!file || std::fread(head.data(), 1, head.size(), file.get()) != head.size()) {
        return PreviewKind::None;
    }
    if (png_sig_cmp(head.data(), 0, head.size()) == 0) {
        return PreviewKind::Png;
    }
    // Classic and big TIFF, either byte order.
    const bool intel =
        head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0;
    const bool motorola =
        head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return intel || motorola ? PreviewKind::Tiff : PreviewKind::None;
}

} // namespace

std::optional<ImagePreview> ReadImagePreview(const std::string& path, std::uint32_t maxSide,
                                             const StopRequested& stop) {
    try {
        switch (KindOf(path)) {
            case PreviewKind::Png:
                return ReadPngPreview(path, maxSide, stop);
            case PreviewKind::Tiff:
                return ReadTiffPreview(path, maxSide, stop);
            case PreviewKind::None:
                break;
        }
    } catch (const std::bad_alloc&) {
        // An image whose rows do not fit has no preview.
    }
    return std::nullopt;
}

} // namespace quiltara
