#include "stitch/StreamingStitcher.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "image/FileStream.h"
#include "image/PngStreamWriter.h"
#include "image/TileFile.h"
#include "platform/AtomicFile.h"
#include "stitch/BandPipeline.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::int32_t kTileSize = kBandTileSide;
// Strips thinner than this would decode every tile too often to be worth it.
constexpr int kMinBandRows = 16;

// The tile's opacity over its square in the band, as the paste saw it: 0
// where the paste left the band alone, else the tile's own alpha.
void PlaceOpacity(RasterImage& band, const RasterImage& tile, std::int32_t left,
                  std::int32_t stripTop) {
    const std::int32_t width = std::min(tile.Width(), kTileSize);
    const std::int32_t height = std::min(tile.Height(), kTileSize);
    const bool paletteAlpha = tile.ColorCount() != 0 && tile.PaletteHasAlpha();
    const bool opaque = !tile.HasAlpha() && !tile.HasTransparentColor() && !paletteAlpha;
    const std::int32_t last = std::min(height, stripTop + band.Height());
    for (std::int32_t ty = stripTop; ty < last; ++ty) {
        const std::int32_t tileRow = tile.Height() - 1 - ty;
        const std::int32_t bandRow = band.Height() - 1 - (ty - stripTop);
        std::uint8_t* out =
            band.AlphaPlane() +
            static_cast<std::size_t>(bandRow) * static_cast<std::size_t>(band.Width()) +
            static_cast<std::size_t>(left);
        if (opaque) {
            std::memset(out, 255, static_cast<std::size_t>(width));
            continue;
        }
        for (std::int32_t tx = 0; tx < width; ++tx) {
            std::uint8_t alpha = 255;
            if (tile.IsTransparentAt(tx, tileRow)) {
                alpha = 0;
            } else if (tile.HasAlpha()) {
                alpha = tile.AlphaAt(tx, tileRow);
            } else if (paletteAlpha) {
                alpha = tile.PixelColorUnchecked(tx, tileRow).reserved;
            }
            out[tx] = alpha;
        }
    }
}

// Puts one tile into its square of the band: top-left corner on the
// square's, never beyond the square. The band holds the strip of the tile
// row that starts stripTop rows below the row's top, from the band's first
// column on. Returns what was wrong with the tile, if anything.
std::optional<TileProblem> PlaceTile(RasterImage& band, const std::string& path, int column,
                                     int stripTop) {
    RasterImage tile(kFormatPng);
    LoadTile(tile, path);
    const std::int32_t width = tile.Width();
    const std::int32_t height = tile.Height();
    if (!tile.HasPixels() || width <= 0 || height <= 0) {
        return TileProblem{
            path, AnythingAt(path) ? TileProblem::Kind::Unreadable : TileProblem::Kind::Missing, 0,
            0};
    }
    const std::int32_t left = column * kTileSize;
    // Rows count from the bottom: the tile's top row goes to the top of its
    // square, stripTop rows above the band's top.
    const std::int32_t bottom = band.Height() + stripTop - height;
    if (width <= kTileSize) {
        // The band's own edges cut a tall tile at the square's bottom.
        band.PasteOver(tile, left, bottom);
    } else {
        // Through a square of its own, so nothing spills into the next square.
        RasterImage square(kTileSize, kTileSize, 24, kFormatPng);
        if (!square.HasPixels()) {
            throw std::bad_alloc();
        }
        square.PasteOver(tile, 0, kTileSize - height);
        band.PasteOver(square, left, band.Height() + stripTop - kTileSize);
    }
    if (band.HasAlpha()) {
        PlaceOpacity(band, tile, left, stripTop);
    }
    if (width == kTileSize && height == kTileSize) {
        return std::nullopt;
    }
    return TileProblem{path, TileProblem::Kind::OffSize, width, height};
}

// The two rows just above a band, in file byte order (red, green, blue): the
// first part of the band filters its top row against them and takes the
// filtered row above as its dictionary.
struct RowsAbove {
    std::vector<std::uint8_t> secondLast;
    std::vector<std::uint8_t> last;
};

// The PNG output: each band filtered and deflated in parts on the workers,
// the parts joined into one zlib stream written in order.
class PngBandSink : public BandSink {
public:
    PngBandSink(ByteStream& out, int level) : writer_(out), level_(level) {}

    bool Shape(int columns, int tileRows, const StreamingOptions& options, BandShape& shape,
               std::string& error) override;
    void Begin(BandPipeline& pipeline) override;
    void BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) override;
    void Finish(BandPipeline& pipeline) override;

private:
    void WriteReadyParts(BandPipeline& pipeline);
    std::unique_ptr<DeflatePart> CompressPart(const BandSlot& slot, const RowsAbove* above,
                                              int band, int part, int bands) const;
    bool FileOrderRow(const BandSlot& slot, const RowsAbove* above, int row,
                      std::uint8_t* out) const;

    PngStreamWriter writer_;
    ZlibStreamJoiner joiner_;
    const int level_;
    std::size_t width_ = 0;    // pixels
    std::size_t height_ = 0;   // pixels
    std::size_t rowBytes_ = 0; // file bytes of a row, filter byte excluded
    int bandRows_ = kTileSize;
    int partRows_ = 1;
    int partsPerBand_ = 1;
    std::map<int, std::unique_ptr<RowsAbove>> above_;
    std::map<std::pair<int, int>, std::shared_ptr<DeflatePart>> done_;
    int writeBand_ = 0;
    int writePart_ = 0;
};

bool PngBandSink::Shape(int columns, int tileRows, const StreamingOptions& options,
                        BandShape& shape, std::string& error) {
    const std::int64_t width = std::int64_t{columns} * kTileSize;
    const std::int64_t height = std::int64_t{tileRows} * kTileSize;
    constexpr std::int64_t kPngLimit = std::numeric_limits<std::int32_t>::max();
    if (columns <= 0 || tileRows <= 0 || width > kPngLimit || height > kPngLimit) {
        error = FormatText("a map of %lld x %lld pixels cannot be a PNG image",
                           static_cast<long long>(width), static_cast<long long>(height));
        return false;
    }
    width_ = static_cast<std::size_t>(width);
    height_ = static_cast<std::size_t>(height);
    rowBytes_ = width_ * 3;
    // A row of tiles too wide for the memory allowed is made in strips, each
    // tile decoded once per strip: slower, but a map of any width fits.
    while (bandRows_ > kMinBandRows &&
           rowBytes_ * static_cast<std::size_t>(bandRows_) > options.bandMemory) {
        bandRows_ /= 2;
        shape.stripsPerTileRow *= 2;
    }
    shape.rows = bandRows_;
    shape.blockColumns = columns;
    partRows_ = static_cast<int>(std::clamp<std::size_t>(options.partBytes / rowBytes_, 1,
                                                         static_cast<std::size_t>(bandRows_)));
    partsPerBand_ = (bandRows_ + partRows_ - 1) / partRows_;
    return true;
}

void PngBandSink::Begin(BandPipeline& pipeline) {
    const RasterImage fresh(kFormatPng);
    const auto pixelsPerMetre = static_cast<std::uint32_t>(fresh.Header().xPelsPerMeter);
    errno = 0;
    if (!writer_.WriteHeader(static_cast<std::uint32_t>(width_),
                             static_cast<std::uint32_t>(height_), pixelsPerMetre) ||
        !writer_.AddImageData(ZlibStreamJoiner::Header(level_))) {
        pipeline.Fail(WriteFailure(errno));
    }
}

// Bands arrive in order, each once decoded; the band above has handed over
// its last rows by then.
void PngBandSink::BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) {
    if (band + 1 < pipeline.Bands()) {
        auto rows = std::make_unique<RowsAbove>();
        rows->secondLast.resize(rowBytes_);
        rows->last.resize(rowBytes_);
        BandRowToRgb(slot.image.RowPointer(1), width_, rows->secondLast.data());
        BandRowToRgb(slot.image.RowPointer(0), width_, rows->last.data());
        above_[band + 1] = std::move(rows);
    }
    const auto found = above_.find(band);
    const RowsAbove* above = found != above_.end() ? found->second.get() : nullptr;
    const int bands = pipeline.Bands();
    for (int part = 0; part < partsPerBand_; ++part) {
        const BandSlot* source = &slot;
        pipeline.Dispatch(
            [this, &pipeline, source, above, band, part, bands]() -> BandPipeline::Continuation {
                std::shared_ptr<DeflatePart> compressed =
                    CompressPart(*source, above, band, part, bands);
                return [this, &pipeline, compressed, band, part] {
                    done_[{band, part}] = compressed;
                    WriteReadyParts(pipeline);
                };
            },
            true, "the image data could not be compressed");
    }
}

void PngBandSink::WriteReadyParts(BandPipeline& pipeline) {
    for (;;) {
        const auto found = done_.find({writeBand_, writePart_});
        if (found == done_.end()) {
            return;
        }
        const DeflatePart& part = *found->second;
        joiner_.AddPart(part.Adler(), part.Length());
        errno = 0;
        if (!writer_.AddImageData(part.Compressed())) {
            pipeline.Fail(WriteFailure(errno));
            return;
        }
        done_.erase(found);
        if (++writePart_ == partsPerBand_) {
            above_.erase(writeBand_);
            pipeline.ReleaseBand(writeBand_++);
            writePart_ = 0;
        }
    }
}

bool PngBandSink::FileOrderRow(const BandSlot& slot, const RowsAbove* above, int row,
                               std::uint8_t* out) const {
    if (row >= 0) {
        BandRowToRgb(slot.image.RowPointer(static_cast<std::uint32_t>(bandRows_ - 1 - row)), width_,
                     out);
        return true;
    }
    if (above == nullptr) {
        return false; // above the picture
    }
    const std::vector<std::uint8_t>& source = row == -1 ? above->last : above->secondLast;
    std::memcpy(out, source.data(), rowBytes_);
    return true;
}

std::unique_ptr<DeflatePart> PngBandSink::CompressPart(const BandSlot& slot, const RowsAbove* above,
                                                       int band, int part, int bands) const {
    const int first = part * partRows_;
    const int last = std::min(bandRows_, first + partRows_);
    std::vector<std::uint8_t> prior(rowBytes_, 0);
    std::vector<std::uint8_t> row(rowBytes_);
    std::vector<std::uint8_t> filtered(rowBytes_ + 1);
    auto deflater = std::make_unique<DeflatePart>(level_, true);
    // The filtered row above is what precedes this part in the stream.
    if (FileOrderRow(slot, above, first - 1, row.data())) {
        if (!FileOrderRow(slot, above, first - 2, prior.data())) {
            std::fill(prior.begin(), prior.end(), 0);
        }
        FilterRgbRow(prior.data(), row.data(), rowBytes_, filtered.data());
        deflater->SetDictionary(filtered);
        prior.swap(row);
    }
    for (int r = first; r < last && !deflater->Failed(); ++r) {
        FileOrderRow(slot, above, r, row.data());
        FilterRgbRow(prior.data(), row.data(), rowBytes_, filtered.data());
        deflater->Add(filtered);
        prior.swap(row);
    }
    deflater->End(band == bands - 1 && part == partsPerBand_ - 1);
    if (deflater->Failed()) {
        throw std::runtime_error("deflate failed");
    }
    return deflater;
}

void PngBandSink::Finish(BandPipeline& pipeline) {
    errno = 0;
    if (!(writer_.AddImageData(joiner_.Trailer()) && writer_.Finish())) {
        pipeline.Fail(WriteFailure(errno));
    }
}

} // namespace

void BandRowToRgb(const std::uint8_t* stored, std::size_t pixels, std::uint8_t* out) {
    for (std::size_t i = 0; i < pixels; ++i, stored += 3, out += 3) {
        out[0] = stored[2];
        out[1] = stored[1];
        out[2] = stored[0];
    }
}

// errno is cleared before each write, so a reason is never an earlier call's.
std::string WriteFailure(int error) {
    const std::string failure = "the image could not be written";
    return error != 0 ? failure + ": " + std::strerror(error) : failure;
}

bool BandPipeline::Prepare() {
    columns_ = tiles_.range.xLast - tiles_.range.xFirst + 1;
    tileRows_ = tiles_.range.yLast - tiles_.range.yFirst + 1;
    std::string error;
    if (!sink_.Shape(columns_, tileRows_, options_, shape_, error)) {
        result_.error = error;
        return false;
    }
    shape_.blockColumns = std::clamp(shape_.blockColumns, 1, columns_);
    blocksPerTileRow_ = (columns_ + shape_.blockColumns - 1) / shape_.blockColumns;
    bands_ = tileRows_ * shape_.stripsPerTileRow * blocksPerTileRow_;

    pool_ = std::make_unique<WorkerPool>(options_.threads);
    const std::size_t width = static_cast<std::size_t>(shape_.blockColumns) * kTileSize;
    const std::size_t bandBytes =
        width * static_cast<std::size_t>(shape_.rows) * (shape_.alpha ? 4 : 3);
    const std::size_t slotCount =
        pool_->Size() > 1 && bands_ > 1 && options_.bandMemory / 2 >= bandBytes ? 2 : 1;
    for (std::size_t i = 0; i < slotCount; ++i) {
        auto slot = std::make_unique<BandSlot>();
        slot->image.Create(static_cast<std::uint32_t>(width),
                           static_cast<std::uint32_t>(shape_.rows), 24, kFormatPng);
        if (!slot->image.HasPixels() || (shape_.alpha && !slot->image.CreateAlpha())) {
            if (i == 0) {
                result_.error = FormatText("not enough memory for a band of %zu x %d pixels", width,
                                           shape_.rows);
                return false;
            }
            break; // one band will do, only slower
        }
        slots_.push_back(std::move(slot));
    }
    result_.bandsAllocated = true;
    return true;
}

BandPlace BandPipeline::PlaceOf(int band) const {
    const int perTileRow = shape_.stripsPerTileRow * blocksPerTileRow_;
    BandPlace place;
    place.tileRow = band / perTileRow;
    const int within = band % perTileRow;
    place.strip = within / blocksPerTileRow_;
    place.firstColumn = (within % blocksPerTileRow_) * shape_.blockColumns;
    place.columns = std::min(shape_.blockColumns, columns_ - place.firstColumn);
    return place;
}

BandSlot* BandPipeline::SlotOf(int band) {
    for (auto& slot : slots_) {
        if (slot->band == band) {
            return slot.get();
        }
    }
    return nullptr;
}

void BandPipeline::Post(Event event) {
    {
        const std::lock_guard lock(eventsMutex_);
        events_.push_back(std::move(event));
    }
    eventArrived_.notify_one();
}

void BandPipeline::TaskLost() noexcept {
    {
        const std::lock_guard lock(eventsMutex_);
        ++lostTasks_;
    }
    eventArrived_.notify_one();
}

std::optional<BandPipeline::Event> BandPipeline::Wait() {
    std::unique_lock lock(eventsMutex_);
    eventArrived_.wait(lock, [this] { return !events_.empty() || lostTasks_ > 0; });
    --outstanding_;
    if (lostTasks_ > 0) {
        --lostTasks_;
        return std::nullopt;
    }
    Event event = std::move(events_.front());
    events_.pop_front();
    return event;
}

void BandPipeline::Fail(const std::string& error) {
    if (!failed_) {
        failed_ = true;
        stopping_ = true;
        result_.error = error;
    }
}

void BandPipeline::Dispatch(std::function<Continuation()> work, bool urgent,
                            const std::string& what) {
    ++outstanding_;
    pool_->Post(
        [this, work = std::move(work), what] {
            try {
                Event event;
                if (!stopping_) {
                    try {
                        event.then = work();
                    } catch (const std::exception& error) {
                        event.error = what + ": " + error.what();
                    }
                }
                Post(std::move(event));
            } catch (...) {
                // Even the event could not be made: the loop must not wait
                // for it. The pool keeps the exception for the report.
                TaskLost();
                throw;
            }
        },
        urgent);
}

// Hands free band buffers to the next bands.
void BandPipeline::StartBands() {
    for (auto& slot : slots_) {
        if (failed_ || nextDecode_ >= bands_) {
            return;
        }
        if (slot->band != -1) {
            continue;
        }
        const int band = nextDecode_++;
        const BandPlace place = PlaceOf(band);
        slot->band = band;
        slot->tilesLeft = place.columns;
        slot->decoded = false;
        // Black, and transparent, where no tile lands.
        RasterImage& image = slot->image;
        std::memset(image.RowPointer(0), 0,
                    std::size_t{image.RowBytes()} * static_cast<std::size_t>(shape_.rows));
        if (image.HasAlpha()) {
            std::memset(
                image.AlphaPlane(), 0,
                static_cast<std::size_t>(image.Width()) * static_cast<std::size_t>(image.Height()));
        }
        for (int column = 0; column < place.columns; ++column) {
            BandSlot* target = slot.get();
            Dispatch(
                [this, target, band, column]() -> Continuation {
                    DecodeTile(*target, band, column);
                    return [this, band] {
                        BandSlot* decoding = SlotOf(band);
                        if (--decoding->tilesLeft == 0) {
                            decoding->decoded = true;
                            HandDecodedBands();
                        }
                    };
                },
                false, "a tile could not be placed");
        }
    }
}

void BandPipeline::HandDecodedBands() {
    while (!failed_ && nextHanded_ < bands_) {
        BandSlot* slot = SlotOf(nextHanded_);
        if (slot == nullptr || !slot->decoded) {
            return;
        }
        sink_.BandDecoded(*this, *slot, nextHanded_++);
    }
}

void BandPipeline::ReleaseBand(int band) {
    if (BandSlot* slot = SlotOf(band)) {
        slot->band = -1;
    }
    StartBands();
}

void BandPipeline::DecodeTile(BandSlot& slot, int band, int column) {
    const BandPlace place = PlaceOf(band);
    const int x = tiles_.range.xFirst + place.firstColumn + column;
    const int y = tiles_.range.yFirst + place.tileRow;
    std::optional<TileProblem> problem = PlaceTile(
        slot.image, tiles_.folder + tiles_.FileName(x, y), column, place.strip * shape_.rows);
    if (problem && place.strip == 0) {
        const std::lock_guard lock(notesMutex_);
        problems_.push_back(TileNote{x, y, std::move(*problem)});
    }
}

StreamedLayer BandPipeline::Run() {
    if (!Prepare()) {
        return result_;
    }
    sink_.Begin(*this);
    StartBands();
    while (outstanding_ > 0) {
        std::optional<Event> event = Wait();
        if (!event) {
            Fail("the image could not be made: a worker failed");
        } else if (!event->error.empty()) {
            Fail(event->error);
        }
        if (!failed_ && options_.cancel != nullptr && options_.cancel->Requested()) {
            Fail("the run was stopped");
            result_.stopped = true;
        }
        if (!failed_ && event->then) {
            event->then();
        }
    }
    try {
        pool_->Wait();
    } catch (const std::exception& error) {
        // The worker's own reason says more than the loss noted above.
        failed_ = true;
        result_.error = std::string("the image could not be made: ") + error.what();
    }
    if (!failed_ && nextHanded_ == bands_) {
        sink_.Finish(*this);
    }
    result_.written = !failed_ && nextHanded_ == bands_;
    std::sort(problems_.begin(), problems_.end());
    for (TileNote& note : problems_) {
        result_.tileProblems.push_back(std::move(note.problem));
    }
    return result_;
}

std::string LayerTiles::FileName(int column, int row) const {
    return LayerPrefix(layer) + TileFileName(column, row, zoom);
}

StreamedLayer StreamLayerImage(const LayerTiles& tiles, ByteStream& out,
                               const StreamingOptions& options) {
    PngBandSink sink(out, options.pngLevel);
    BandPipeline pipeline(tiles, sink, options);
    return pipeline.Run();
}

bool KeepStreamedImage(StreamedLayer& result, const TileRange& range) {
    if (result.written && !AnyTilePlaced(result.tileProblems, range)) {
        result.written = false;
        result.noTilePlaced = true;
    }
    return result.written;
}

StreamedLayer StreamLayerImageToFile(const LayerTiles& tiles, const std::string& path,
                                     const StreamingOptions& options) {
    StreamedLayer result;
    try {
        if (options.format == ImageFileFormat::GeoTiff) {
            return StreamGeoTiffToFile(tiles, path, options);
        }
        AtomicFile file(path);
        FileStream stream(file.Stream());
        result = StreamLayerImage(tiles, stream, options);
        if (KeepStreamedImage(result, tiles.range)) {
            file.Commit(); // an uncommitted file goes with `file`
        }
    } catch (const std::system_error& failure) {
        result.bandsAllocated = result.bandsAllocated || result.error.empty();
        result.written = false;
        result.error = failure.what();
    } catch (const std::bad_alloc&) {
        // This layer ends here; the next one may well fit.
        result.written = false;
        result.error = "not enough memory to make the image";
    }
    return result;
}

std::string StreamingStitcher::SaveFilter() const {
    return offerTypes_ ? kStreamedMapFileFilter : "";
}

void StreamingStitcher::UseSaveType(int filterIndex) {
    if (offerTypes_) {
        options_.format = filterIndex == 1 ? ImageFileFormat::GeoTiff : ImageFileFormat::Png;
    }
}

std::vector<StitchedLayer> StreamingStitcher::StitchLayers(
    const std::string& outputFolder, const std::string& fileName, const MapSourcesValues& sources,
    const TileRange& range, int zoom, Prompts& /*prompts*/, ProgressSink& progress,
    const CancelFlag* cancel) {
    StreamingOptions options = options_;
    options.cancel = cancel;
    std::vector<StitchedLayer> result;
    for (MapLayer layer : kAllLayers) {
        const LayerSource& source = sources[layer];
        if (!source.download) {
            continue;
        }
        StitchedLayer stitched;
        stitched.layer = layer;
        stitched.path = LayerImagePath(outputFolder, fileName, layer, source.subfolder);
        if (cancel != nullptr && cancel->Requested()) {
            stitched.stopped = true;
            result.push_back(stitched);
            continue;
        }
        progress.StitchStarted(layer, stitched.path);
        const LayerTiles tiles{LayerFolder(outputFolder, source.subfolder), layer, range, zoom};
        const StreamedLayer streamed = StreamLayerImageToFile(tiles, stitched.path, options);
        stitched.created = streamed.bandsAllocated;
        stitched.saved = streamed.written;
        stitched.saveError = streamed.written ? "" : streamed.error;
        stitched.tileProblems = streamed.tileProblems;
        stitched.noTilePlaced = streamed.noTilePlaced;
        stitched.stopped = streamed.stopped;
        stitched.georeferenced = options_.format == ImageFileFormat::GeoTiff;
        result.push_back(stitched);
        progress.StitchFinished(layer, stitched.path, stitched.saved);
    }
    return result;
}

} // namespace quiltara
