#include "image/GeoTiffWriter.h"

#include <fcntl.h>
#include <geotiff/geotiffio.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "image/TiffMetadata.h"

namespace quiltara {
namespace {

constexpr std::uint64_t kClassicLimit = 0xFFFFFFFFULL;
constexpr int kPseudoMercator = 3857;
constexpr const char* kCitation = "WGS 84 / Pseudo-Mercator";

TiffLevel LevelOf(std::uint32_t width, std::uint32_t height) {
    return TiffLevel{width, height, (width + kTiffTileSide - 1) / kTiffTileSide,
                     (height + kTiffTileSide - 1) / kTiffTileSide};
}

// Writes all of data at offset; false with errno set when the disk refuses.
bool WriteAllAt(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool ReadAllAt(int fd, std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    void Reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// A file in folder that has no name: the overview tiles' waiting room, gone
// with the process whatever way it ends.
int NamelessScratchFile(const std::filesystem::path& folder) {
    const std::string where = folder.empty() ? std::string(".") : folder.string();
#ifdef O_TMPFILE
    const int fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
#endif
    std::string pattern = where + "/.quiltara-overviews-XXXXXX";
    const int named = ::mkstemp(pattern.data());
    if (named >= 0) {
        ::unlink(pattern.c_str());
    }
    return named;
}

} // namespace

std::vector<TiffLevel> PyramidLevels(std::uint32_t width, std::uint32_t height) {
    std::vector<TiffLevel> levels{LevelOf(width, height)};
    while (levels.back().tilesAcross > 1 || levels.back().tilesDown > 1) {
        width = (width + 1) / 2;
        height = (height + 1) / 2;
        levels.push_back(LevelOf(width, height));
    }
    return levels;
}

bool NeedsBigTiff(const std::vector<TiffLevel>& levels, int samples) {
    const std::uint64_t raw =
        std::uint64_t{kTiffTileSide} * kTiffTileSide * static_cast<std::uint64_t>(samples);
    // Incompressible data grows a little under deflate and JPEG alike; the
    // directories and offsets come on top.
    const std::uint64_t worstTile = raw + raw / 8 + 1024 + 16;
    std::uint64_t total = std::uint64_t{1} << 16;
    for (const TiffLevel& level : levels) {
        total += worstTile * level.Tiles();
    }
    return total > kClassicLimit;
}

std::vector<std::uint8_t> DeflateTile(std::span<const std::uint8_t> pixels, int samples,
                                      int level) {
    // The horizontal predictor: each sample minus the same sample of the
    // pixel to its left, which turns smooth colour into runs of small values.
    const std::size_t rowBytes = std::size_t{kTiffTileSide} * static_cast<std::size_t>(samples);
    std::vector<std::uint8_t> predicted(pixels.begin(), pixels.end());
    const auto step = static_cast<std::size_t>(samples);
    for (std::size_t row = 0; row + rowBytes <= predicted.size(); row += rowBytes) {
        std::uint8_t* line = predicted.data() + row;
        for (std::size_t i = rowBytes - 1; i >= step; --i) {
            line[i] = static_cast<std::uint8_t>(line[i] - line[i - step]);
        }
    }
    uLongf length = compressBound(static_cast<uLong>(predicted.size()));
    std::vector<std::uint8_t> out(length);
    if (compress2(out.data(), &length, predicted.data(), static_cast<uLong>(predicted.size()),
                  std::clamp(level, -1, 9)) != Z_OK) {
        return {};
    }
    out.resize(length);
    return out;
}

std::vector<std::uint8_t> JpegTile(std::span<const std::uint8_t> pixels, int quality) {
    RasterImage tile(kTiffTileSide, kTiffTileSide, 24, kFormatJpeg);
    if (!tile.HasPixels() || pixels.size() < std::size_t{kTiffTileSide} * kTiffTileSide * 3) {
        return {};
    }
    const std::uint8_t* from = pixels.data();
    for (std::uint32_t y = 0; y < kTiffTileSide; ++y) {
        std::uint8_t* to = tile.RowPointer(kTiffTileSide - 1 - y); // rows count from the bottom
        for (std::uint32_t x = 0; x < kTiffTileSide; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    tile.SetQuality(static_cast<float>(std::clamp(quality, 1, 100)));
    MemoryStream stream;
    if (!stream.OpenEmpty() || !tile.Encode(&stream, kFormatJpeg)) {
        return {};
    }
    const std::uint8_t* data = stream.BufferPointer();
    return std::vector<std::uint8_t>(data, data + stream.Size());
}

struct GeoTiffWriter::State {
    int fd = -1;
    std::filesystem::path readPath;
    std::filesystem::path scratchFolder;
    Descriptor readFd;
    Descriptor scratch;
    std::uint64_t position = 0;
    std::uint64_t size = 0;
    std::uint64_t scratchSize = 0;
    // Where each overview tile waits: offset and length in the scratch file.
    std::vector<std::vector<std::pair<std::uint64_t, std::uint32_t>>> waiting;
    std::vector<TiffLevel> levels;
    int samples = 3;
    bool bigTiff = false;
    std::string error;
    int systemError = 0;
    TIFFOpenOptions* options = nullptr;
    TIFF* tif = nullptr;

    ~State() {
        if (tif != nullptr) {
            TIFFClose(tif);
        }
        if (options != nullptr) {
            TIFFOpenOptionsFree(options);
        }
    }

    bool Fail(const std::string& why) {
        if (error.empty()) {
            error = why;
        }
        return false;
    }
    void NoteSystemError(int number) {
        if (systemError == 0) {
            systemError = number;
        }
    }

    bool SetLevelFields(std::size_t index, const GeoTiffFrame& frame);
    bool SetGeoreference(const GeoTiffFrame& frame);
};

namespace {

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* state = static_cast<GeoTiffWriter::State*>(handle);
    if (size <= 0) {
        return 0;
    }
    if (!WriteAllAt(state->fd, static_cast<const std::uint8_t*>(buffer),
                    static_cast<std::size_t>(size), state->position)) {
        state->NoteSystemError(errno);
        return 0;
    }
    state->position += static_cast<std::uint64_t>(size);
    state->size = std::max(state->size, state->position);
    return size;
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* state = static_cast<GeoTiffWriter::State*>(handle);
    if (size <= 0) {
        return 0;
    }
    if (state->readFd.get() < 0) {
        state->readFd.Reset(::open(state->readPath.c_str(), O_RDONLY | O_CLOEXEC));
    }
    const auto wanted = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(size), state->size - std::min(state->size, state->position));
    if (state->readFd.get() < 0 ||
        !ReadAllAt(state->readFd.get(), static_cast<std::uint8_t*>(buffer),
                   static_cast<std::size_t>(wanted), state->position)) {
        return 0;
    }
    state->position += wanted;
    return static_cast<tmsize_t>(wanted);
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* state = static_cast<GeoTiffWriter::State*>(handle);
    switch (whence) {
        case SEEK_SET:
            state->position = offset;
            break;
        case SEEK_CUR:
            state->position += offset;
            break;
        case SEEK_END:
            state->position = state->size + offset;
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    return state->position;
}

toff_t SizeProc(thandle_t handle) {
    return static_cast<GeoTiffWriter::State*>(handle)->size;
}

int CloseProc(thandle_t /*handle*/) {
    return 0; // the file belongs to the caller
}

int MapProc(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) {
    return 0;
}

void UnmapProc(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

int OnError(TIFF* /*tif*/, void* user, const char* module, const char* format, va_list args) {
    char message[512] = {};
    std::vsnprintf(message, sizeof message, format, args);
    auto* state = static_cast<GeoTiffWriter::State*>(user);
    state->Fail(std::string("TIFF: ") + (module != nullptr ? std::string(module) + ": " : "") +
                message);
    return 1;
}

int OnWarning(TIFF* /*tif*/, void* /*user*/, const char* /*module*/, const char* /*format*/,
              va_list /*args*/) {
    return 1; // nothing we write draws one worth showing
}

// Owns libgeotiff's key set for one directory.
class GeoKeys {
public:
    explicit GeoKeys(TIFF* tif) : gtif_(GTIFNew(tif)) {}
    GeoKeys(const GeoKeys&) = delete;
    GeoKeys& operator=(const GeoKeys&) = delete;
    ~GeoKeys() {
        if (gtif_ != nullptr) {
            GTIFFree(gtif_);
        }
    }
    GTIF* get() const { return gtif_; }

private:
    GTIF* gtif_;
};

} // namespace

bool GeoTiffWriter::State::SetLevelFields(std::size_t index, const GeoTiffFrame& frame) {
    const TiffLevel& level = levels[index];
    const bool jpeg = frame.compression == TiffCompression::Jpeg;
    bool ok = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, index == 0 ? 0 : FILETYPE_REDUCEDIMAGE) &&
              TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, level.width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, level.height) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_TILEWIDTH, kTiffTileSide) &&
              TIFFSetField(tif, TIFFTAG_TILELENGTH, kTiffTileSide);
    if (jpeg) {
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG) &&
             TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR) &&
             TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    } else {
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
             TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
             TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    }
    if (samples == 4) {
        const std::uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
        ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    return ok || Fail("the image's layout could not be set");
}

bool GeoTiffWriter::State::SetGeoreference(const GeoTiffFrame& frame) {
    double scale[3] = {frame.pixelSize, frame.pixelSize, 0.0};
    double tiePoint[6] = {0.0, 0.0, 0.0, frame.left, frame.top, 0.0};
    if (!TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale) ||
        !TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint)) {
        return Fail("the georeference could not be set");
    }
    const GeoKeys keys(tif);
    GTIF* gtif = keys.get();
    if (gtif == nullptr ||
        !GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected) ||
        !GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea) ||
        !GTIFKeySet(gtif, GTCitationGeoKey, TYPE_ASCII, 0, kCitation) ||
        !GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, kPseudoMercator) ||
        !GTIFWriteKeys(gtif)) {
        return Fail("the georeference keys could not be set");
    }
    return true;
}

GeoTiffWriter::GeoTiffWriter(int fd, std::filesystem::path readPath,
                             std::filesystem::path scratchFolder)
    : state_(std::make_unique<State>()) {
    state_->fd = fd;
    state_->readPath = std::move(readPath);
    state_->scratchFolder = std::move(scratchFolder);
}

GeoTiffWriter::~GeoTiffWriter() = default;

bool GeoTiffWriter::Begin(const GeoTiffFrame& frame) {
    State& s = *state_;
    s.levels = PyramidLevels(frame.width, frame.height);
    s.samples = frame.samples;
    s.bigTiff = NeedsBigTiff(s.levels, s.samples);
    s.waiting.assign(s.levels.size(), {});
    // The GeoTIFF tags become known to libtiff, for every file from now on.
    static std::once_flag tagsKnown;
    std::call_once(tagsKnown, [] {
        XTIFFInitialize();
        KnowGdalMetadataTag();
    });

    s.scratch.Reset(NamelessScratchFile(s.scratchFolder));
    if (s.levels.size() > 1 && s.scratch.get() < 0) {
        s.NoteSystemError(errno);
        return s.Fail("no room for the overviews beside the image");
    }
    s.options = TIFFOpenOptionsAlloc();
    if (s.options == nullptr) {
        return s.Fail("not enough memory for the image's directories");
    }
    TIFFOpenOptionsSetErrorHandlerExtR(s.options, OnError, &s);
    TIFFOpenOptionsSetWarningHandlerExtR(s.options, OnWarning, &s);
    s.tif = TIFFClientOpenExt("GeoTIFF", s.bigTiff ? "w8" : "w", &s, ReadProc, WriteProc, SeekProc,
                              CloseProc, SizeProc, MapProc, UnmapProc, s.options);
    if (s.tif == nullptr) {
        return s.Fail("the image could not be started");
    }
    for (std::size_t i = 0; i < s.levels.size(); ++i) {
        if (!s.SetLevelFields(i, frame) || (i == 0 && !s.SetGeoreference(frame))) {
            return false;
        }
        if (i == 0 && !SetTiffMetadata(s.tif, frame.metadata)) {
            return s.Fail("the image's credit could not be set");
        }
        // Offsets come last, once known; the directories stay at the front.
        if (!TIFFDeferStrileArrayWriting(s.tif) || !TIFFWriteCheck(s.tif, 1, "GeoTIFF") ||
            !TIFFWriteDirectory(s.tif)) {
            return s.Fail("the image's directories could not be written");
        }
    }
    return TIFFSetDirectory(s.tif, 0) != 0 || s.Fail("the image's first directory is unreadable");
}

bool GeoTiffWriter::WriteTile(std::uint32_t index, std::span<const std::uint8_t> data) {
    State& s = *state_;
    return TIFFWriteRawTile(s.tif, index, const_cast<std::uint8_t*>(data.data()),
                            static_cast<tmsize_t>(data.size())) ==
               static_cast<tmsize_t>(data.size()) ||
           s.Fail("a tile could not be written");
}

bool GeoTiffWriter::KeepOverviewTile(std::size_t level, std::uint32_t index,
                                     std::span<const std::uint8_t> data) {
    State& s = *state_;
    if (level == 0 || level >= s.levels.size() || index >= s.levels[level].Tiles()) {
        return s.Fail("an overview tile lies outside the image");
    }
    auto& places = s.waiting[level];
    if (places.empty()) {
        places.assign(s.levels[level].Tiles(), {0, 0});
    }
    if (!WriteAllAt(s.scratch.get(), data.data(), data.size(), s.scratchSize)) {
        s.NoteSystemError(errno);
        return s.Fail("an overview tile could not be kept");
    }
    places[index] = {s.scratchSize, static_cast<std::uint32_t>(data.size())};
    s.scratchSize += data.size();
    return true;
}

bool GeoTiffWriter::Finish() {
    State& s = *state_;
    if (!TIFFForceStrileArrayWriting(s.tif)) {
        return s.Fail("the tile offsets could not be written");
    }
    std::vector<std::uint8_t> buffer;
    for (std::size_t level = 1; level < s.levels.size(); ++level) {
        if (!TIFFSetDirectory(s.tif, static_cast<tdir_t>(level))) {
            return s.Fail("an overview's directory is unreadable");
        }
        const auto& places = s.waiting[level];
        if (places.size() != s.levels[level].Tiles()) {
            return s.Fail("an overview is incomplete");
        }
        for (std::uint32_t index = 0; index < places.size(); ++index) {
            buffer.resize(places[index].second);
            if (buffer.empty() ||
                !ReadAllAt(s.scratch.get(), buffer.data(), buffer.size(), places[index].first)) {
                return s.Fail("an overview tile was lost");
            }
            if (!WriteTile(index, buffer)) {
                return false;
            }
        }
        if (!TIFFForceStrileArrayWriting(s.tif)) {
            return s.Fail("the tile offsets could not be written");
        }
    }
    TIFF* tif = std::exchange(s.tif, nullptr);
    TIFFClose(tif);
    return s.error.empty() && s.systemError == 0;
}

const std::vector<TiffLevel>& GeoTiffWriter::Levels() const {
    return state_->levels;
}

bool GeoTiffWriter::IsBigTiff() const {
    return state_->bigTiff;
}

const std::string& GeoTiffWriter::Error() const {
    return state_->error;
}

int GeoTiffWriter::SystemError() const {
    return state_->systemError;
}

} // namespace quiltara
