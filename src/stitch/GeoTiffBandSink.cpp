// The GeoTIFF output of the streaming stitcher: every map tile becomes one
// TIFF tile, and each level of overviews is made from the one below it, tile
// by tile, as the tiles beneath it are done.
#include "stitch/GeoTiffBandSink.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "image/TileFile.h"
#include "platform/AtomicFile.h"
#include "stitch/BandPipeline.h"
#include "stitch/WorldFile.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::size_t kSide = kTiffTileSide;
constexpr std::size_t kHalf = kSide / 2;
// Tiles across a band: enough for both cores, few enough that a very wide
// map's bands stay small beside its overviews.
constexpr int kMostBandColumns = 32;
using Pixels = std::vector<std::uint8_t>;

// Each output pixel the mean of the (up to) four below it that lie inside
// the tile's valid width x height: a quarter tile, rows from the top.
// Premultiplied colour averages correctly with its alpha.
Pixels Halve(const Pixels& tile, std::size_t samples, std::size_t width, std::size_t height) {
    Pixels quarter(kHalf * kHalf * samples, 0);
    const std::size_t outWidth = (width + 1) / 2;
    const std::size_t outHeight = (height + 1) / 2;
    for (std::size_t y = 0; y < outHeight; ++y) {
        const std::size_t y0 = 2 * y;
        const std::size_t y1 = std::min(y0 + 1, height - 1);
        for (std::size_t x = 0; x < outWidth; ++x) {
            const std::size_t x0 = 2 * x;
            const std::size_t x1 = std::min(x0 + 1, width - 1);
            const unsigned count = (x1 != x0 ? 2u : 1u) * (y1 != y0 ? 2u : 1u);
            for (std::size_t s = 0; s < samples; ++s) {
                auto at = [&](std::size_t px, std::size_t py) {
                    return unsigned{tile[(py * kSide + px) * samples + s]};
                };
                unsigned sum = at(x0, y0);
                sum += x1 != x0 ? at(x1, y0) : 0;
                sum += y1 != y0 ? at(x0, y1) : 0;
                sum += x1 != x0 && y1 != y0 ? at(x1, y1) : 0;
                quarter[(y * kHalf + x) * samples + s] =
                    static_cast<std::uint8_t>((sum + count / 2) / count);
            }
        }
    }
    return quarter;
}

using Quarter = std::shared_ptr<const Pixels>;

// The quarters of an overview tile made so far from the tiles below it. Kept
// apart until the last one comes: a row of overview tiles waits half made
// for the next row of tiles below, at half a tile each.
struct Gathering {
    std::array<Quarter, 4> quarters; // top left, top right, bottom left, bottom right
    int filled = 0;
};

// The overview tile the quarters make; a missing quarter (beyond the
// picture's edge) is left black.
Pixels Assemble(const std::array<Quarter, 4>& quarters, std::size_t samples) {
    Pixels pixels(kSide * kSide * samples, 0);
    for (std::size_t q = 0; q < quarters.size(); ++q) {
        if (!quarters[q]) {
            continue;
        }
        const std::size_t left = (q % 2) * kHalf;
        const std::size_t top = (q / 2) * kHalf;
        for (std::size_t y = 0; y < kHalf; ++y) {
            std::memcpy(pixels.data() + ((top + y) * kSide + left) * samples,
                        quarters[q]->data() + y * kHalf * samples, kHalf * samples);
        }
    }
    return pixels;
}

class GeoTiffBandSink : public BandSink {
public:
    GeoTiffBandSink(GeoTiffWriter& writer, const LayerTiles& tiles, const StreamingOptions& options,
                    bool alpha)
        : writer_(writer),
          tiles_(tiles),
          samples_(alpha ? 4 : 3),
          jpeg_(!alpha && options.tiffCompression == TiffCompression::Jpeg),
          quality_(options.jpegQuality) {}

    bool Shape(int columns, int tileRows, const StreamingOptions& options, BandShape& shape,
               std::string& error) override;
    void Begin(BandPipeline& pipeline) override;
    void BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) override;
    void Finish(BandPipeline& pipeline) override;

private:
    Pixels ExtractTile(const BandSlot& slot, int column) const;
    std::vector<std::uint8_t> Compress(const Pixels& pixels) const;
    void WriteReadyTiles(BandPipeline& pipeline);
    void Deposit(BandPipeline& pipeline, std::size_t level, std::uint32_t column, std::uint32_t row,
                 Quarter quarter);
    int ChildCount(std::size_t level, std::uint32_t column, std::uint32_t row) const;
    void FailWriting(BandPipeline& pipeline);

    GeoTiffWriter& writer_;
    const LayerTiles& tiles_;
    const std::size_t samples_;
    const bool jpeg_;
    const int quality_;
    std::vector<TiffLevel> levels_;
    std::map<int, int> tilesLeft_; // per band: tiles not yet compressed
    std::map<std::uint32_t, std::vector<std::uint8_t>> ready_;
    std::uint32_t nextTile_ = 0;
    std::map<std::pair<std::size_t, std::uint32_t>, Gathering> gathering_;
};

bool GeoTiffBandSink::Shape(int columns, int tileRows, const StreamingOptions& options,
                            BandShape& shape, std::string& error) {
    const std::uint64_t width = std::uint64_t(columns) * kSide;
    const std::uint64_t height = std::uint64_t(tileRows) * kSide;
    if (columns <= 0 || tileRows <= 0 || width > 0xFFFFFFFFULL || height > 0xFFFFFFFFULL) {
        error = FormatText("a map of %llu x %llu pixels cannot be a GeoTIFF image",
                           static_cast<unsigned long long>(width),
                           static_cast<unsigned long long>(height));
        return false;
    }
    levels_ = PyramidLevels(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    const std::size_t tileBytes = kSide * kSide * samples_;
    shape.rows = static_cast<int>(kSide);
    shape.alpha = samples_ == 4;
    shape.blockColumns = static_cast<int>(
        std::clamp<std::size_t>(options.bandMemory / 2 / tileBytes, 1, kMostBandColumns));
    return true;
}

void GeoTiffBandSink::FailWriting(BandPipeline& pipeline) {
    pipeline.Fail(writer_.SystemError() != 0 || writer_.Error().empty()
                      ? WriteFailure(writer_.SystemError())
                      : "the image could not be written: " + writer_.Error());
}

void GeoTiffBandSink::Begin(BandPipeline& pipeline) {
    const WorldFileNumbers place = WorldFileFor(tiles_.range, tiles_.zoom);
    GeoTiffFrame frame;
    frame.width = levels_[0].width;
    frame.height = levels_[0].height;
    frame.samples = static_cast<int>(samples_);
    frame.compression = jpeg_ ? TiffCompression::Jpeg : TiffCompression::Deflate;
    // The world file names pixel centres; the file names the outer corner.
    frame.pixelSize = place.pixelWidth;
    frame.left = place.centreX - place.pixelWidth / 2;
    frame.top = place.centreY - place.pixelHeight / 2;
    frame.metadata = pipeline.Options().metadata;
    if (!writer_.Begin(frame)) {
        FailWriting(pipeline);
    }
}

// The tile's square of the band as the file stores it: red, green, blue
// (and alpha, the colour premultiplied by it), rows from the top.
Pixels GeoTiffBandSink::ExtractTile(const BandSlot& slot, int column) const {
    Pixels pixels(kSide * kSide * samples_);
    const RasterImage& band = slot.image;
    const std::size_t bandWidth = static_cast<std::size_t>(band.Width());
    std::uint8_t* out = pixels.data();
    for (std::size_t r = 0; r < kSide; ++r) {
        const auto stored = static_cast<std::uint32_t>(kSide - 1 - r);
        const std::uint8_t* in = band.RowPointer(stored) + std::size_t(column) * kSide * 3;
        if (samples_ == 3) {
            BandRowToRgb(in, kSide, out);
            out += kSide * 3;
            continue;
        }
        const std::uint8_t* alpha =
            band.AlphaPlane() + stored * bandWidth + std::size_t(column) * kSide;
        for (std::size_t x = 0; x < kSide; ++x, in += 3, out += 4) {
            const unsigned a = alpha[x];
            out[0] = static_cast<std::uint8_t>((in[2] * a + 127) / 255);
            out[1] = static_cast<std::uint8_t>((in[1] * a + 127) / 255);
            out[2] = static_cast<std::uint8_t>((in[0] * a + 127) / 255);
            out[3] = static_cast<std::uint8_t>(a);
        }
    }
    return pixels;
}

std::vector<std::uint8_t> GeoTiffBandSink::Compress(const Pixels& pixels) const {
    std::vector<std::uint8_t> data =
        jpeg_ ? JpegTile(pixels, quality_)
              : DeflateTile(pixels, static_cast<int>(samples_), kDefaultDeflateLevel);
    if (data.empty()) {
        throw std::runtime_error("compression failed");
    }
    return data;
}

void GeoTiffBandSink::BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) {
    const BandPlace place = pipeline.PlaceOf(band);
    tilesLeft_[band] = place.columns;
    const auto columns = static_cast<std::uint32_t>(pipeline.Columns());
    for (int i = 0; i < place.columns; ++i) {
        const auto column = static_cast<std::uint32_t>(place.firstColumn + i);
        const auto row = static_cast<std::uint32_t>(place.tileRow);
        const BandSlot* source = &slot;
        pipeline.Dispatch(
            [this, &pipeline, source, i, band, column, row,
             columns]() -> BandPipeline::Continuation {
                const Pixels pixels = ExtractTile(*source, i);
                auto compressed = std::make_shared<std::vector<std::uint8_t>>(Compress(pixels));
                Quarter quarter =
                    std::make_shared<const Pixels>(Halve(pixels, samples_, kSide, kSide));
                return [this, &pipeline, band, column, row, columns, compressed, quarter] {
                    ready_[row * columns + column] = std::move(*compressed);
                    WriteReadyTiles(pipeline);
                    Deposit(pipeline, 1, column, row, quarter);
                    if (--tilesLeft_[band] == 0) {
                        tilesLeft_.erase(band);
                        pipeline.ReleaseBand(band);
                    }
                };
            },
            true, "a tile of the image could not be compressed");
    }
}

// Full-resolution tiles go to the file in order, so a row of tiles lies
// together on the disk.
void GeoTiffBandSink::WriteReadyTiles(BandPipeline& pipeline) {
    for (auto found = ready_.find(nextTile_); found != ready_.end() && !pipeline.Failed();
         found = ready_.find(nextTile_)) {
        if (!writer_.WriteTile(nextTile_, found->second)) {
            FailWriting(pipeline);
            return;
        }
        ready_.erase(found);
        ++nextTile_;
    }
}

int GeoTiffBandSink::ChildCount(std::size_t level, std::uint32_t column, std::uint32_t row) const {
    const TiffLevel& below = levels_[level - 1];
    const int across = 2 * column + 1 < below.tilesAcross ? 2 : 1;
    const int down = 2 * row + 1 < below.tilesDown ? 2 : 1;
    return across * down;
}

// A quarter made from tile (column, row) of level - 1 goes into its place in
// the overview tile above it; a tile with all its quarters is compressed and
// halved in turn.
void GeoTiffBandSink::Deposit(BandPipeline& pipeline, std::size_t level, std::uint32_t column,
                              std::uint32_t row, Quarter quarter) {
    if (level >= levels_.size() || pipeline.Failed()) {
        return;
    }
    const std::uint32_t parentColumn = column / 2;
    const std::uint32_t parentRow = row / 2;
    const std::uint32_t index = parentRow * levels_[level].tilesAcross + parentColumn;
    Gathering& gathering = gathering_[{level, index}];
    gathering.quarters[(row % 2) * 2 + column % 2] = std::move(quarter);
    if (++gathering.filled < ChildCount(level, parentColumn, parentRow)) {
        return;
    }
    const std::array<Quarter, 4> quarters = gathering.quarters;
    gathering_.erase({level, index});
    const TiffLevel& here = levels_[level];
    const std::size_t width = std::min<std::size_t>(kSide, here.width - parentColumn * kSide);
    const std::size_t height = std::min<std::size_t>(kSide, here.height - parentRow * kSide);
    pipeline.Dispatch(
        [this, &pipeline, quarters, level, index, parentColumn, parentRow, width,
         height]() -> BandPipeline::Continuation {
            const Pixels pixels = Assemble(quarters, samples_);
            auto compressed = std::make_shared<std::vector<std::uint8_t>>(Compress(pixels));
            Quarter halved = std::make_shared<const Pixels>(Halve(pixels, samples_, width, height));
            return [this, &pipeline, compressed, halved, level, index, parentColumn, parentRow] {
                if (!writer_.KeepOverviewTile(level, index, *compressed)) {
                    FailWriting(pipeline);
                    return;
                }
                Deposit(pipeline, level + 1, parentColumn, parentRow, halved);
            };
        },
        true, "an overview tile could not be compressed");
}

void GeoTiffBandSink::Finish(BandPipeline& pipeline) {
    if (!gathering_.empty() || nextTile_ != levels_[0].Tiles() || !writer_.Finish()) {
        FailWriting(pipeline);
    }
}

} // namespace

StreamedLayer StreamGeoTiffToFile(const LayerTiles& tiles, const std::string& path,
                                  const StreamingOptions& options) {
    StreamedLayer result;
    try {
        AtomicFile file(path);
        {
            GeoTiffWriter writer(fileno(file.Stream()), file.TemporaryPath(),
                                 std::filesystem::path(path).parent_path());
            GeoTiffBandSink sink(writer, tiles, options, LayerCarriesTransparency(tiles));
            BandPipeline pipeline(tiles, sink, options);
            result = pipeline.Run();
        }
        if (KeepStreamedImage(result, tiles)) {
            file.Commit(); // an uncommitted file goes with `file`
        }
    } catch (const std::system_error& failure) {
        result.bandsAllocated = result.bandsAllocated || result.error.empty();
        result.written = false;
        result.error = failure.what();
    }
    return result;
}

} // namespace quiltara
