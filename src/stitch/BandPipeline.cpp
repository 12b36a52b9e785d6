#include "stitch/BandPipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include "image/TileFile.h"
#include "stitch/AttributionStamp.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::int32_t kTileSize = kBandTileSide;

// Lays one tile over its square of the band, as its opacity says: top-left
// corner on the square's, never beyond the square. The band holds the strip
// of the tile row that starts stripTop rows below the row's top, from the
// band's first column on. Returns what was wrong with the tile, if anything.
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
    if (width > kTileSize || height > kTileSize) {
        // Its own square only, so nothing spills into the next square.
        RasterImage square(kFormatPng);
        if (!CropTile(tile, square) || !tile.AdoptFrom(square, true)) {
            throw std::bad_alloc();
        }
    }
    // Rows count from the bottom: the tile's top row goes to the top of its
    // square, stripTop rows above the band's top; the band's own edges cut
    // the rest of the tile.
    band.BlendOver(tile, column * kTileSize, band.Height() + stripTop - tile.Height());
    if (width == kTileSize && height == kTileSize) {
        return std::nullopt;
    }
    return TileProblem{path, TileProblem::Kind::OffSize, width, height};
}

} // namespace

void BandRowToRgb(const std::uint8_t* stored, std::size_t pixels, std::uint8_t* out) {
    for (std::size_t i = 0; i < pixels; ++i, stored += 3, out += 3) {
        out[0] = stored[2];
        out[1] = stored[1];
        out[2] = stored[0];
    }
}

void BandRowToRgba(const std::uint8_t* stored, const std::uint8_t* alpha, std::size_t pixels,
                   std::uint8_t* out) {
    for (std::size_t i = 0; i < pixels; ++i, stored += 3, out += 4) {
        out[0] = stored[2];
        out[1] = stored[1];
        out[2] = stored[0];
        out[3] = alpha[i];
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
        if (options_.stamp != nullptr) {
            // The strip lies in the last bands; the others pass untouched.
            const BandPlace place = PlaceOf(nextHanded_);
            options_.stamp->DrawInto(
                slot->image, std::int64_t{place.firstColumn} * kTileSize,
                std::int64_t{place.tileRow} * kTileSize + std::int64_t{place.strip} * shape_.rows);
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
    // A composite's overlay tile goes over its base tile.
    for (const std::string& path : tiles_.PathsAt(x, y)) {
        std::optional<TileProblem> problem =
            PlaceTile(slot.image, path, column, place.strip * shape_.rows);
        if (problem && place.strip == 0) {
            const std::lock_guard lock(notesMutex_);
            problems_.push_back(TileNote{x, y, std::move(*problem)});
        }
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

bool KeepStreamedImage(StreamedLayer& result, const LayerTiles& tiles) {
    if (result.written && !AnyTilePlaced(result.tileProblems, tiles.range, tiles.LayerCount())) {
        result.written = false;
        result.noTilePlaced = true;
    }
    return result.written;
}

} // namespace quiltara
