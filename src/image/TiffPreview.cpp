// The TIFF half of the preview reader: the level to read is chosen from the
// directories, and that level goes through libtiff's RGBA interface in bands.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <limits>

#include "image/TiffPreview.h"

namespace quiltara {
namespace {

// Directories looked at: a pyramid of a 2^31-pixel side has 24 levels.
constexpr int kMostDirectories = 64;
// A band of RGBA rows is kept below this.
constexpr std::uint64_t kMostBandBytes = std::uint64_t{16} << 20;

int Quiet(TIFF* /*tif*/, void* /*user*/, const char* /*module*/, const char* /*format*/,
          va_list /*args*/) {
    return 1; // handled: a damaged file is simply no preview
}

class TiffPreviewOptions {
public:
    TiffPreviewOptions() : options_(TIFFOpenOptionsAlloc()) {
        if (options_ != nullptr) {
            TIFFOpenOptionsSetErrorHandlerExtR(options_, Quiet, nullptr);
            TIFFOpenOptionsSetWarningHandlerExtR(options_, Quiet, nullptr);
        }
    }
    TiffPreviewOptions(const TiffPreviewOptions&) = delete;
    TiffPreviewOptions& operator=(const TiffPreviewOptions&) = delete;
    ~TiffPreviewOptions() {
        if (options_ != nullptr) {
            TIFFOpenOptionsFree(options_);
        }
    }
    TIFFOpenOptions* get() const { return options_; }

private:
    TIFFOpenOptions* options_;
};

class TiffPreviewFile {
public:
    TiffPreviewFile(const std::string& path, const TiffPreviewOptions& options)
        : tif_(TIFFOpenExt(path.c_str(), "r", options.get())) {}
    TiffPreviewFile(const TiffPreviewFile&) = delete;
    TiffPreviewFile& operator=(const TiffPreviewFile&) = delete;
    ~TiffPreviewFile() {
        if (tif_ != nullptr) {
            TIFFClose(tif_);
        }
    }
    TIFF* get() const { return tif_; }

private:
    TIFF* tif_;
};

// libtiff's RGBA reader of one directory.
class RgbaReader {
public:
    explicit RgbaReader(TIFF* tif) {
        char message[1024] = {};
        began_ =
            TIFFRGBAImageOK(tif, message) != 0 && TIFFRGBAImageBegin(&image_, tif, 1, message) != 0;
    }
    RgbaReader(const RgbaReader&) = delete;
    RgbaReader& operator=(const RgbaReader&) = delete;
    ~RgbaReader() {
        if (began_) {
            TIFFRGBAImageEnd(&image_);
        }
    }
    bool Began() const { return began_; }
    TIFFRGBAImage& Image() { return image_; }

private:
    TIFFRGBAImage image_{};
    bool began_ = false;
};

struct Level {
    tdir_t directory = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

std::uint32_t BandRows(TIFF* tif, std::uint32_t width) {
    std::uint32_t rows = 0;
    if (TIFFIsTiled(tif)) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &rows);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    }
    const std::uint64_t most =
        std::max<std::uint64_t>(kMostBandBytes / (std::uint64_t{width} * 4), 1);
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(rows, 1, most));
}

} // namespace

std::optional<ImagePreview> ReadTiffPreview(const std::string& path, std::uint32_t maxSide,
                                            const StopRequested& stop) {
    const TiffPreviewOptions options;
    const TiffPreviewFile file(path, options);
    TIFF* tif = file.get();
    if (tif == nullptr) {
        return std::nullopt;
    }
    // The first directory is the image; the reduced ones after it its overviews.
    std::vector<Level> levels;
    for (int i = 0; i < kMostDirectories; ++i) {
        Level level{TIFFCurrentDirectory(tif)};
        std::uint32_t kind = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &kind);
        if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &level.width) &&
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &level.height) && level.width > 0 &&
            level.height > 0 && (levels.empty() || (kind & FILETYPE_REDUCEDIMAGE) != 0)) {
            levels.push_back(level);
        }
        if (levels.empty() || !TIFFReadDirectory(tif)) {
            break;
        }
    }
    if (levels.empty()) {
        return std::nullopt;
    }
    const Level& full = levels.front();
    std::uint32_t previewWidth = 0;
    std::uint32_t previewHeight = 0;
    PreviewSize(full.width, full.height, maxSide, previewWidth, previewHeight);
    // The smallest level that still has a pixel for every preview pixel.
    const Level* chosen = &full;
    for (const Level& level : levels) {
        if (level.width >= previewWidth && level.height >= previewHeight &&
            std::uint64_t{level.width} * level.height <
                std::uint64_t{chosen->width} * chosen->height) {
            chosen = &level;
        }
    }
    if (!TIFFSetDirectory(tif, chosen->directory)) {
        return std::nullopt;
    }
    RgbaReader reader(tif);
    if (!reader.Began()) {
        return std::nullopt;
    }
    TIFFRGBAImage& image = reader.Image();
    image.req_orientation = ORIENTATION_TOPLEFT;
    const std::uint32_t width = chosen->width;
    const std::uint32_t height = chosen->height;
    const std::uint32_t bandRows = BandRows(tif, width);
    std::vector<std::uint32_t> band(std::size_t{width} * bandRows);
    std::vector<std::uint8_t> row(std::size_t{width} * 4);
    PreviewAccumulator sums(width, height, previewWidth, previewHeight);
    for (std::uint32_t top = 0; top < height; top += bandRows) {
        if (stop && stop()) {
            return std::nullopt;
        }
        const std::uint32_t rows = std::min(bandRows, height - top);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, band.data(), width, rows)) {
            return std::nullopt;
        }
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t* packed = band.data() + std::size_t{r} * width;
            for (std::uint32_t x = 0; x < width; ++x) {
                std::uint8_t* out = row.data() + std::size_t{x} * 4;
                out[0] = static_cast<std::uint8_t>(TIFFGetR(packed[x]));
                out[1] = static_cast<std::uint8_t>(TIFFGetG(packed[x]));
                out[2] = static_cast<std::uint8_t>(TIFFGetB(packed[x]));
                out[3] = static_cast<std::uint8_t>(TIFFGetA(packed[x]));
            }
            // libtiff hands out colours multiplied by their alpha.
            sums.AddRow(top + r, row.data(), true);
        }
    }
    return sums.Finish(full.width, full.height);
}

} // namespace quiltara
