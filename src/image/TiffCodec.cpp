#include "image/TiffCodec.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "image/ByteStream.h"

namespace quiltara {

namespace {

// libtiff refuses single allocations above this while reading: a damaged
// header must not make it reserve gigabytes for one strip.
constexpr tmsize_t kMaxSingleAllocation = 256 * 1024 * 1024;
constexpr std::uint32_t kBandBytes = 16 * 1024 * 1024;

// The stream and where the TIFF data begins in it: libtiff's offsets count
// from the start of the TIFF data.
struct TiffClient {
    ByteStream* stream;
    std::int64_t base;
    RasterImage* image;
    bool reported; // libtiff has put its own message into the image
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* client = static_cast<TiffClient*>(handle);
    return size <= 0 ? 0 : client->stream->Read(buffer, 1, static_cast<std::size_t>(size));
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* client = static_cast<TiffClient*>(handle);
    return size <= 0 ? 0 : client->stream->Write(buffer, 1, static_cast<std::size_t>(size));
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* client = static_cast<TiffClient*>(handle);
    std::int64_t target = static_cast<std::int64_t>(offset);
    if (whence == SEEK_SET) {
        target += client->base;
    }
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
        return static_cast<toff_t>(-1);
    }
    if (target < INT32_MIN || target > INT32_MAX ||
        !client->stream->Seek(static_cast<std::int32_t>(target), whence)) {
        return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(client->stream->Tell() - client->base);
}

int CloseProc(thandle_t /*handle*/) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    auto* client = static_cast<TiffClient*>(handle);
    const std::int32_t size = client->stream->Size();
    return size < client->base ? 0 : static_cast<toff_t>(size - client->base);
}

int MapProc(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) {
    return 0;
}

void UnmapProc(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

int OnError(TIFF* /*tif*/, void* user, const char* module, const char* format, va_list args) {
    char message[kErrorTextSize] = {};
    std::vsnprintf(message, sizeof message, format, args);
    auto* client = static_cast<TiffClient*>(user);
    std::string text = "TIFF: ";
    if (module != nullptr) {
        text += module;
        text += ": ";
    }
    client->image->SetErrorText(text + message);
    client->reported = true;
    return 1;
}

int OnWarning(TIFF* /*tif*/, void* /*user*/, const char* /*module*/, const char* /*format*/,
              va_list /*args*/) {
    return 1; // untrusted files produce plenty; none of them is worth printing
}

class TiffOptions {
public:
    explicit TiffOptions(TiffClient& client) : options_(TIFFOpenOptionsAlloc()) {
        if (options_ != nullptr) {
            TIFFOpenOptionsSetMaxSingleMemAlloc(options_, kMaxSingleAllocation);
            TIFFOpenOptionsSetErrorHandlerExtR(options_, OnError, &client);
            TIFFOpenOptionsSetWarningHandlerExtR(options_, OnWarning, &client);
        }
    }
    TiffOptions(const TiffOptions&) = delete;
    TiffOptions& operator=(const TiffOptions&) = delete;
    ~TiffOptions() {
        if (options_ != nullptr) {
            TIFFOpenOptionsFree(options_);
        }
    }
    TIFFOpenOptions* get() const { return options_; }

private:
    TIFFOpenOptions* options_;
};

class TiffHandle {
public:
    TiffHandle(TiffClient& client, const char* mode, const TiffOptions& options)
        : tif_(TIFFClientOpenExt("stream", mode, &client, ReadProc, WriteProc, SeekProc, CloseProc,
                                 SizeProc, MapProc, UnmapProc, options.get())) {}
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    ~TiffHandle() {
        if (tif_ != nullptr) {
            TIFFClose(tif_);
        }
    }
    TIFF* get() const { return tif_; }

private:
    TIFF* tif_;
};

class RgbaReader {
public:
    RgbaReader() = default;
    RgbaReader(const RgbaReader&) = delete;
    RgbaReader& operator=(const RgbaReader&) = delete;
    ~RgbaReader() {
        if (begun) {
            TIFFRGBAImageEnd(&image);
        }
    }
    TIFFRGBAImage image{};
    bool begun = false;
};

std::int32_t ResolutionToDpi(float resolution, std::uint16_t unit) {
    double dpi = resolution;
    if (unit == RESUNIT_CENTIMETER) {
        dpi *= 2.54;
    } else if (unit != RESUNIT_INCH) {
        return 0;
    }
    return dpi > 0.0 && dpi <= 1000000.0 ? static_cast<std::int32_t>(dpi + 0.5) : 0;
}

} // namespace

bool TiffCodec::Decode(ByteStream* stream) {
    if (stream == nullptr) {
        SetErrorText("null file handler");
        return false;
    }
    TiffClient client{stream, stream->Tell(), this, false};
    TiffOptions options(client);
    // "m": the stream cannot be mapped into memory.
    TiffHandle handle(client, "rm", options);
    TIFF* tif = handle.get();
    if (tif == nullptr) {
        if (!client.reported) {
            SetErrorText("TIFF: not a TIFF file");
        }
        return false;
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) != 1 || width == 0 || height == 0 ||
        width > INT32_MAX || height > INT32_MAX) {
        SetErrorText("TIFF: the picture has no size");
        return false;
    }
    if (ExceedsReadLimits(width, height)) {
        return false;
    }
    if (Escape() == -1) {
        header_.width = static_cast<std::int32_t>(width);
        header_.height = static_cast<std::int32_t>(height);
        settings_.formatId = kFormatTiff;
        return true;
    }
    if (Escape() != 0) {
        return false;
    }
    const bool read = ReadsDirectly(tif) ? ReadScanlines(tif, client.reported)
                                         : ReadThroughRgba(tif, client.reported);
    if (!read) {
        return false;
    }

    float xResolution = 0.0f;
    float yResolution = 0.0f;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xResolution) == 1) {
        SetHorizontalDpi(ResolutionToDpi(xResolution, unit));
    }
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yResolution) == 1) {
        SetVerticalDpi(ResolutionToDpi(yResolution, unit));
    }
    return true;
}

// 8-bit RGB strips, with or without unassociated alpha, are read as they are:
// libtiff's RGBA interface would premultiply the colours by their alpha.
bool TiffCodec::ReadsDirectly(TIFF* tif) {
    std::uint16_t bits = 0;
    std::uint16_t samples = 0;
    std::uint16_t photometric = 0;
    std::uint16_t planar = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (TIFFIsTiled(tif) != 0 || TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
        photometric != PHOTOMETRIC_RGB || bits != 8 || planar != PLANARCONFIG_CONTIG) {
        return false;
    }
    if (samples == 3) {
        return true;
    }
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    return samples == 4 && TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1 &&
           extraCount == 1 && extra[0] == EXTRASAMPLE_UNASSALPHA;
}

bool TiffCodec::ReadScanlines(TIFF* tif, bool& reported) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (Create(width, height, 24, kFormatTiff) == nullptr) {
        return false;
    }
    const bool withAlpha = samples == 4;
    if (withAlpha && !CreateAlpha()) {
        SetErrorText("RasterImage::Create can't allocate memory");
        return false;
    }
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    if (lineBytes < static_cast<tmsize_t>(std::size_t{width} * samples)) {
        SetErrorText("TIFF: cannot read the picture");
        return false;
    }
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
    for (std::uint32_t row = 0; row < height; ++row) {
        if (Escape() != 0) {
            return false;
        }
        if (TIFFReadScanline(tif, line.data(), row, 0) < 0) {
            if (!reported) {
                SetErrorText("TIFF: cannot read the picture");
            }
            return false;
        }
        const std::uint32_t y = height - 1 - row;
        std::uint8_t* out = RowPointer(y);
        std::uint8_t* alpha = withAlpha ? AlphaPlane() + std::size_t{y} * width : nullptr;
        const std::uint8_t* in = line.data();
        for (std::uint32_t x = 0; x < width; ++x, in += samples) {
            out[3 * x] = in[2];
            out[3 * x + 1] = in[1];
            out[3 * x + 2] = in[0];
            if (alpha != nullptr) {
                alpha[x] = in[3];
            }
        }
    }
    return true;
}

bool TiffCodec::ReadThroughRgba(TIFF* tif, bool& reported) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif, message) != 1) {
        SetErrorText(std::string("TIFF: ") + message);
        return false;
    }
    RgbaReader reader;
    if (TIFFRGBAImageBegin(&reader.image, tif, 0, message) != 1) {
        SetErrorText(std::string("TIFF: ") + message);
        return false;
    }
    reader.begun = true;
    reader.image.req_orientation = ORIENTATION_TOPLEFT;
    if (Create(width, height, 24, kFormatTiff) == nullptr) {
        return false;
    }
    const bool withAlpha = reader.image.alpha != 0 && CreateAlpha();

    const std::uint32_t band = std::clamp<std::uint32_t>(kBandBytes / 4 / width, 1, height);
    std::vector<std::uint32_t> raster(std::size_t{band} * width);
    for (std::uint32_t top = 0; top < height; top += band) {
        if (Escape() != 0) {
            return false;
        }
        const std::uint32_t rows = std::min(band, height - top);
        reader.image.row_offset = static_cast<int>(top);
        reader.image.col_offset = 0;
        if (TIFFRGBAImageGet(&reader.image, raster.data(), width, rows) != 1) {
            if (!reported) {
                SetErrorText("TIFF: cannot read the picture");
            }
            return false;
        }
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t y = height - 1 - (top + r);
            std::uint8_t* out = RowPointer(y);
            const std::uint32_t* in = raster.data() + std::size_t{r} * width;
            for (std::uint32_t x = 0; x < width; ++x) {
                out[3 * x] = static_cast<std::uint8_t>(TIFFGetB(in[x]));
                out[3 * x + 1] = static_cast<std::uint8_t>(TIFFGetG(in[x]));
                out[3 * x + 2] = static_cast<std::uint8_t>(TIFFGetR(in[x]));
            }
            if (withAlpha) {
                std::uint8_t* alpha = AlphaPlane() + std::size_t{y} * width;
                for (std::uint32_t x = 0; x < width; ++x) {
                    alpha[x] = static_cast<std::uint8_t>(TIFFGetA(in[x]));
                }
            }
        }
    }

    return true;
}

bool TiffCodec::Encode(ByteStream* stream) {
    if (CheckBeforeEncode(stream)) {
        return false;
    }
    TiffClient client{stream, stream->Tell(), this, false};
    TiffOptions options(client);
    TiffHandle handle(client, "w", options);
    TIFF* tif = handle.get();
    if (tif == nullptr) {
        if (!client.reported) {
            SetErrorText("TIFF: cannot start the file");
        }
        return false;
    }
    const auto width = static_cast<std::uint32_t>(Width());
    const auto height = static_cast<std::uint32_t>(Height());
    const bool palette = ColorCount() > 0;
    const bool alpha = HasAlpha();
    const bool grey = palette && BitsPerPixel() == 8 && IsGreyRamp() && !alpha;
    const bool indexed = palette && !grey && !alpha;
    const std::uint16_t samples = indexed || grey ? 1 : (alpha ? 4 : 3);
    const std::uint16_t bits = indexed ? BitsPerPixel() : 8;

    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 indexed ? PHOTOMETRIC_PALETTE : (grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(HorizontalDpi()));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(VerticalDpi()));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    std::vector<std::uint16_t> map(3 * 256);
    if (indexed) {
        const std::uint32_t colours = 1u << bits;
        for (std::uint32_t i = 0; i < colours; ++i) {
            const RgbQuad entry = PaletteEntry(static_cast<std::uint8_t>(i));
            map[i] = static_cast<std::uint16_t>(entry.red * 257);
            map[colours + i] = static_cast<std::uint16_t>(entry.green * 257);
            map[2 * colours + i] = static_cast<std::uint16_t>(entry.blue * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + colours,
                     map.data() + 2 * colours);
    }

    std::vector<std::uint8_t> line(std::max<std::size_t>(std::size_t{width} * samples, RowBytes()));
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint32_t y = height - 1 - row;
        const std::uint8_t* pixels = RowPointer(y);
        if (indexed || grey) {
            std::copy(pixels, pixels + RowBytes(), line.begin());
        } else {
            std::uint8_t* out = line.data();
            for (std::uint32_t x = 0; x < width; ++x) {
                const RgbQuad colour = PixelColorUnchecked(static_cast<std::int32_t>(x),
                                                           static_cast<std::int32_t>(y), alpha);
                *out++ = colour.red;
                *out++ = colour.green;
                *out++ = colour.blue;
                if (alpha) {
                    *out++ = colour.reserved;
                }
            }
        }
        if (TIFFWriteScanline(tif, line.data(), row, 0) < 0) {
            if (!client.reported) {
                SetErrorText("TIFF: write error");
            }
            return false;
        }
    }
    if (TIFFFlush(tif) != 1) {
        if (!client.reported) {
            SetErrorText("TIFF: write error");
        }
        return false;
    }
    return true;
}

} // namespace quiltara
