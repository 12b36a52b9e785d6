#include "assembly/StreamingStitcher.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "assembly/TileImageCheck.h"
#include "assembly/WorkerPool.h"
#include "image/FileStream.h"
#include "image/PngStreamWriter.h"
#include "image/RasterImage.h"
#include "platform/AtomicFile.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::int32_t kTileSize = 256;
// Strips thinner than this would decode every tile too often to be worth it.
constexpr int kMinBandRows = 16;

// The two rows just above a band, in file byte order (red, green, blue): the
// first part of the band filters its top row against them and takes the
// filtered row above as its dictionary.
struct RowsAbove {
    std::vector<std::uint8_t> secondLast;
    std::vector<std::uint8_t> last;
};

// A band buffer: the pixels of one row of tiles, or of one strip of it when
// a whole row would not fit in the memory allowed, as a 24-bit image (rows
// bottom-up, blue-green-red) so tiles are pasted exactly as into the
// in-memory stitcher's image.
struct BandSlot {
    RasterImage image{kFormatPng};
    int band = -1; // -1: free
    int tilesLeft = 0;
    bool decoded = false;
};

// A tile problem with its place, so the list can be put in the in-memory
// stitcher's order whatever order the workers found them in.
struct TileNote {
    int column = 0;
    int row = 0;
    TileProblem problem;
    bool operator<(const TileNote& other) const {
        return column != other.column ? column < other.column : row < other.row;
    }
};

// Puts one tile into its square of the band: top-left corner on the
// square's, never beyond the square. The band holds the strip of the tile
// row that starts stripTop rows below the row's top. Returns what was wrong
// with the tile, if anything.
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
    if (width == kTileSize && height == kTileSize) {
        return std::nullopt;
    }
    return TileProblem{path, TileProblem::Kind::OffSize, width, height};
}

// Stored band row (bottom-up, blue-green-red) to file order.
void ToFileOrder(const std::uint8_t* stored, std::size_t pixels, std::uint8_t* out) {
    for (std::size_t i = 0; i < pixels; ++i, stored += 3, out += 3) {
        out[0] = stored[2];
        out[1] = stored[1];
        out[2] = stored[0];
    }
}

// One layer's image made band by band: the calling thread hands out the
// work, collects the compressed parts and writes them in order; the workers
// decode tiles and filter and deflate parts of bands.
class LayerPipeline {
public:
    LayerPipeline(const LayerTiles& tiles, ByteStream& out, const StreamingOptions& options)
        : tiles_(tiles),
          writer_(out),
          level_(options.pngLevel),
          columns_(tiles.range.xLast - tiles.range.xFirst + 1),
          tileRows_(tiles.range.yLast - tiles.range.yFirst + 1),
          options_(options) {}

    StreamedLayer Run();

private:
    struct Event {
        bool tile = true; // a tile was placed; otherwise a part was compressed
        int band = 0;
        int part = 0;
        std::unique_ptr<DeflatePart> compressed;
        std::string error;
    };

    bool Prepare();
    void StartBands();
    void PostCompression();
    void WriteReadyParts();
    void Handle(Event event);
    void Post(Event event);
    // Runs work on a worker; should anything escape it before its event is
    // posted, the event loop hears of the loss instead of waiting for good.
    template <class Work>
    void Start(Work work, bool urgent);
    void TaskLost() noexcept;
    std::optional<Event> Wait();
    void Fail(const std::string& error);

    void DecodeTile(BandSlot& slot, int band, int column);
    void CompressPart(BandSlot& slot, const RowsAbove* above, int band, int part);
    bool FileOrderRow(const BandSlot& slot, const RowsAbove* above, int row,
                      std::uint8_t* out) const;
    BandSlot* SlotOf(int band);

    const LayerTiles& tiles_;
    PngStreamWriter writer_;
    ZlibStreamJoiner joiner_;
    const int level_;
    const int columns_;
    const int tileRows_;
    const StreamingOptions& options_;

    int bandRows_ = kTileSize; // pixel rows of a band
    int bandsPerTileRow_ = 1;  // more than 1 only for maps too wide for whole bands
    int bands_ = 0;

    std::size_t width_ = 0;    // pixels
    std::size_t rowBytes_ = 0; // file bytes of a row, filter byte excluded
    int partRows_ = 1;
    int partsPerBand_ = 1;

    std::vector<std::unique_ptr<BandSlot>> slots_;
    std::map<int, std::unique_ptr<RowsAbove>> above_;
    std::map<std::pair<int, int>, std::unique_ptr<DeflatePart>> done_;
    int nextDecode_ = 0;
    int nextCompress_ = 0;
    int writeBand_ = 0;
    int writePart_ = 0;
    int outstanding_ = 0;
    bool failed_ = false;
    // Set on failure: the tasks still queued skip their work.
    std::atomic<bool> stopping_{false};
    StreamedLayer result_;

    std::mutex notesMutex_;
    std::vector<TileNote> problems_;

    std::mutex eventsMutex_;
    std::condition_variable eventArrived_;
    std::deque<Event> events_;
    int lostTasks_ = 0; // tasks that ended without their event

    // Last: its threads are joined before anything they use goes away.
    std::unique_ptr<WorkerPool> pool_;
};

bool LayerPipeline::Prepare() {
    const std::int64_t width = std::int64_t{columns_} * kTileSize;
    const std::int64_t height = std::int64_t{tileRows_} * kTileSize;
    constexpr std::int64_t kPngLimit = std::numeric_limits<std::int32_t>::max();
    if (columns_ <= 0 || tileRows_ <= 0 || width > kPngLimit || height > kPngLimit) {
        result_.error = FormatText("a map of %lld x %lld pixels cannot be a PNG image",
                                   static_cast<long long>(width), static_cast<long long>(height));
        return false;
    }
    width_ = static_cast<std::size_t>(width);
    rowBytes_ = width_ * 3;
    // A row of tiles too wide for the memory allowed is made in strips, each
    // tile decoded once per strip: slower, but a map of any width fits.
    while (bandRows_ > kMinBandRows &&
           rowBytes_ * static_cast<std::size_t>(bandRows_) > options_.bandMemory) {
        bandRows_ /= 2;
        bandsPerTileRow_ *= 2;
    }
    bands_ = tileRows_ * bandsPerTileRow_;
    partRows_ = static_cast<int>(std::clamp<std::size_t>(options_.partBytes / rowBytes_, 1,
                                                         static_cast<std::size_t>(bandRows_)));
    partsPerBand_ = (bandRows_ + partRows_ - 1) / partRows_;

    pool_ = std::make_unique<WorkerPool>(options_.threads);
    const std::size_t bandBytes = rowBytes_ * static_cast<std::size_t>(bandRows_);
    const std::size_t slotCount =
        pool_->Size() > 1 && bands_ > 1 && options_.bandMemory / 2 >= bandBytes ? 2 : 1;
    for (std::size_t i = 0; i < slotCount; ++i) {
        auto slot = std::make_unique<BandSlot>();
        slot->image.Create(static_cast<std::uint32_t>(width_),
                           static_cast<std::uint32_t>(bandRows_), 24, kFormatPng);
        if (!slot->image.HasPixels()) {
            if (i == 0) {
                result_.error = FormatText("not enough memory for a band of %zu x %d pixels",
                                           width_, bandRows_);
                return false;
            }
            break; // one band will do, only slower
        }
        slots_.push_back(std::move(slot));
    }
    result_.bandsAllocated = true;
    return true;
}

BandSlot* LayerPipeline::SlotOf(int band) {
    for (auto& slot : slots_) {
        if (slot->band == band) {
            return slot.get();
        }
    }
    return nullptr;
}

void LayerPipeline::Post(Event event) {
    {
        const std::lock_guard lock(eventsMutex_);
        events_.push_back(std::move(event));
    }
    eventArrived_.notify_one();
}

template <class Work>
void LayerPipeline::Start(Work work, bool urgent) {
    ++outstanding_;
    pool_->Post(
        [this, work] {
            try {
                work();
            } catch (...) {
                TaskLost();
                throw; // the pool keeps it for the report
            }
        },
        urgent);
}

void LayerPipeline::TaskLost() noexcept {
    {
        const std::lock_guard lock(eventsMutex_);
        ++lostTasks_;
    }
    eventArrived_.notify_one();
}

// The next event, or nothing when a task was lost.
std::optional<LayerPipeline::Event> LayerPipeline::Wait() {
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

// What a failed write of the image says: with the system's reason when the
// file system gave one (a full disk, a file-size limit). errno is cleared
// before each write, so a reason is never an earlier call's.
std::string WriteFailure(int error) {
    const std::string failure = "the image could not be written";
    return error != 0 ? failure + ": " + std::strerror(error) : failure;
}

void LayerPipeline::Fail(const std::string& error) {
    if (!failed_) {
        failed_ = true;
        stopping_ = true;
        result_.error = error;
    }
}

// Hands free band buffers to the next rows of tiles.
void LayerPipeline::StartBands() {
    for (auto& slot : slots_) {
        if (failed_ || nextDecode_ >= bands_) {
            return;
        }
        if (slot->band != -1) {
            continue;
        }
        const int band = nextDecode_++;
        slot->band = band;
        slot->tilesLeft = columns_;
        slot->decoded = false;
        // Black where no tile lands.
        std::memset(slot->image.RowPointer(0), 0,
                    std::size_t{slot->image.RowBytes()} * static_cast<std::size_t>(bandRows_));
        for (int column = 0; column < columns_; ++column) {
            BandSlot* target = slot.get();
            Start([this, target, band, column] { DecodeTile(*target, band, column); }, false);
        }
    }
}

// Bands are compressed in order, each once it is decoded and the band above
// has handed over its last rows.
void LayerPipeline::PostCompression() {
    while (!failed_ && nextCompress_ < bands_) {
        BandSlot* slot = SlotOf(nextCompress_);
        if (slot == nullptr || !slot->decoded) {
            return;
        }
        const int band = nextCompress_++;
        if (band + 1 < bands_) {
            auto rows = std::make_unique<RowsAbove>();
            rows->secondLast.resize(rowBytes_);
            rows->last.resize(rowBytes_);
            ToFileOrder(slot->image.RowPointer(1), width_, rows->secondLast.data());
            ToFileOrder(slot->image.RowPointer(0), width_, rows->last.data());
            above_[band + 1] = std::move(rows);
        }
        const auto found = above_.find(band);
        const RowsAbove* above = found != above_.end() ? found->second.get() : nullptr;
        for (int part = 0; part < partsPerBand_; ++part) {
            Start([this, slot, above, band, part] { CompressPart(*slot, above, band, part); },
                  true);
        }
    }
}

void LayerPipeline::WriteReadyParts() {
    for (;;) {
        const auto found = done_.find({writeBand_, writePart_});
        if (found == done_.end()) {
            return;
        }
        const DeflatePart& part = *found->second;
        joiner_.AddPart(part.Adler(), part.Length());
        errno = 0;
        if (!writer_.AddImageData(part.Compressed())) {
            Fail(WriteFailure(errno));
            return;
        }
        done_.erase(found);
        if (++writePart_ == partsPerBand_) {
            if (BandSlot* slot = SlotOf(writeBand_)) {
                slot->band = -1;
            }
            above_.erase(writeBand_);
            ++writeBand_;
            writePart_ = 0;
            StartBands();
        }
    }
}

void LayerPipeline::Handle(Event event) {
    if (!event.error.empty()) {
        Fail(event.error);
    }
    if (!failed_ && options_.cancel != nullptr && options_.cancel->Requested()) {
        Fail("the run was stopped");
        result_.stopped = true;
    }
    if (failed_) {
        return;
    }
    if (event.tile) {
        BandSlot* slot = SlotOf(event.band);
        if (--slot->tilesLeft == 0) {
            slot->decoded = true;
            PostCompression();
        }
        return;
    }
    done_[{event.band, event.part}] = std::move(event.compressed);
    WriteReadyParts();
}

void LayerPipeline::DecodeTile(BandSlot& slot, int band, int column) {
    Event event;
    event.band = band;
    if (stopping_) {
        Post(std::move(event));
        return;
    }
    try {
        const int x = tiles_.range.xFirst + column;
        const int y = tiles_.range.yFirst + band / bandsPerTileRow_;
        const int strip = band % bandsPerTileRow_;
        std::optional<TileProblem> problem =
            PlaceTile(slot.image, tiles_.folder + tiles_.FileName(x, y), column, strip * bandRows_);
        if (problem && strip == 0) {
            const std::lock_guard lock(notesMutex_);
            problems_.push_back(TileNote{x, y, std::move(*problem)});
        }
    } catch (const std::exception& error) {
        event.error = std::string("a tile could not be placed: ") + error.what();
    }
    Post(std::move(event));
}

bool LayerPipeline::FileOrderRow(const BandSlot& slot, const RowsAbove* above, int row,
                                 std::uint8_t* out) const {
    if (row >= 0) {
        ToFileOrder(slot.image.RowPointer(static_cast<std::uint32_t>(bandRows_ - 1 - row)), width_,
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

void LayerPipeline::CompressPart(BandSlot& slot, const RowsAbove* above, int band, int part) {
    Event event;
    event.tile = false;
    event.band = band;
    event.part = part;
    if (stopping_) {
        Post(std::move(event));
        return;
    }
    try {
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
        deflater->End(band == bands_ - 1 && part == partsPerBand_ - 1);
        if (deflater->Failed()) {
            event.error = "the image data could not be compressed";
        }
        event.compressed = std::move(deflater);
    } catch (const std::exception& error) {
        event.error = std::string("the image data could not be compressed: ") + error.what();
    }
    Post(std::move(event));
}

StreamedLayer LayerPipeline::Run() {
    if (!Prepare()) {
        return result_;
    }
    const RasterImage fresh(kFormatPng);
    const auto pixelsPerMetre = static_cast<std::uint32_t>(fresh.Header().xPelsPerMeter);
    errno = 0;
    if (!writer_.WriteHeader(static_cast<std::uint32_t>(width_),
                             static_cast<std::uint32_t>(tileRows_) * kTileSize, pixelsPerMetre) ||
        !writer_.AddImageData(ZlibStreamJoiner::Header(level_))) {
        Fail(WriteFailure(errno));
    }
    StartBands();
    while (outstanding_ > 0) {
        if (std::optional<Event> event = Wait()) {
            Handle(std::move(*event));
        } else {
            Fail("the image could not be made: a worker failed");
        }
    }
    try {
        pool_->Wait();
    } catch (const std::exception& error) {
        // The worker's own reason says more than the loss noted above.
        failed_ = true;
        stopping_ = true;
        result_.error = std::string("the image could not be made: ") + error.what();
    }
    errno = 0;
    if (!failed_ && !(writer_.AddImageData(joiner_.Trailer()) && writer_.Finish())) {
        Fail(WriteFailure(errno));
    }
    result_.written = !failed_;
    std::sort(problems_.begin(), problems_.end());
    for (TileNote& note : problems_) {
        result_.tileProblems.push_back(std::move(note.problem));
    }
    return result_;
}

} // namespace

std::string LayerTiles::FileName(int column, int row) const {
    return LayerPrefix(layer) + TileFileName(column, row, zoom);
}

StreamedLayer StreamLayerImage(const LayerTiles& tiles, ByteStream& out,
                               const StreamingOptions& options) {
    LayerPipeline pipeline(tiles, out, options);
    return pipeline.Run();
}

StreamedLayer StreamLayerImageToFile(const LayerTiles& tiles, const std::string& path,
                                     const StreamingOptions& options) {
    StreamedLayer result;
    try {
        AtomicFile file(path);
        FileStream stream(file.Stream());
        result = StreamLayerImage(tiles, stream, options);
        if (result.written && !AnyTilePlaced(result.tileProblems, tiles.range)) {
            result.written = false;
            result.noTilePlaced = true;
        }
        if (result.written) {
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
        stitched.noTilePlaced = streamed.noTilePlaced;
        stitched.stopped = streamed.stopped;
        stitched.tileProblems = streamed.tileProblems;
        result.push_back(stitched);
        progress.StitchFinished(layer, stitched.path, stitched.saved);
    }
    return result;
}

} // namespace quiltara
