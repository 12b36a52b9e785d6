#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "image/RasterImage.h"
#include "stitch/StitchValues.h"
#include "stitch/WorkerPool.h"

namespace quiltara {

inline constexpr std::int32_t kBandTileSide = 256;

// A band buffer: the pixels of one row of tiles, or of a strip or a block of
// it, as a 24-bit image (rows bottom-up, blue-green-red) so tiles are pasted
// exactly as into the in-memory stitcher's image. With an alpha plane when
// the output keeps the tiles' opacity.
struct BandSlot {
    RasterImage image{kFormatPng};
    int band = -1; // -1: free
    int tilesLeft = 0;
    bool decoded = false;
};

// How a picture is cut into bands: each band is a strip of `rows` pixel rows
// of one row of tiles, `blockColumns` tiles wide (the last block of a row may
// be narrower). Rows of tiles are cut into strips, or into blocks, never both.
struct BandShape {
    int rows = kBandTileSide;
    int stripsPerTileRow = 1;
    int blockColumns = 1;
    bool alpha = false;
};

// Where one band lies.
struct BandPlace {
    int tileRow = 0;
    int strip = 0;
    int firstColumn = 0;
    int columns = 0;
};

class BandPipeline;

// What becomes of the bands: one output format. Every call comes on the
// pipeline's thread; the sink's heavy work runs through Dispatch().
class BandSink {
public:
    virtual ~BandSink() = default;

    // The cut the sink needs for a picture of columns x tileRows tiles; false
    // (and why) when it cannot take such a picture.
    virtual bool Shape(int columns, int tileRows, const StreamingOptions& options, BandShape& shape,
                       std::string& error) = 0;
    // What precedes the image data.
    virtual void Begin(BandPipeline& pipeline) = 0;
    // Band `band` is decoded in slot; bands come in order. The sink calls
    // pipeline.ReleaseBand(band) once it no longer reads the slot.
    virtual void BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) = 0;
    // Every band is released and no work is left: what follows the data.
    virtual void Finish(BandPipeline& pipeline) = 0;
};

// The streaming stitcher's engine: decodes the tiles of one layer band by
// band on worker threads into a few band buffers and hands each band to the
// sink, in order. The calling thread runs the work's continuations.
class BandPipeline {
public:
    using Continuation = std::function<void()>;

    BandPipeline(const LayerTiles& tiles, BandSink& sink, const StreamingOptions& options)
        : tiles_(tiles), sink_(sink), options_(options) {}
    BandPipeline(const BandPipeline&) = delete;
    BandPipeline& operator=(const BandPipeline&) = delete;

    StreamedLayer Run();

    // Runs work on a worker thread (urgent work first); the continuation it
    // returns then runs on the pipeline's thread, unless the layer has failed
    // by then. An exception from work fails the layer, `what` saying where.
    void Dispatch(std::function<Continuation()> work, bool urgent, const std::string& what);
    void Fail(const std::string& error);
    bool Failed() const { return failed_; }
    // The sink is done with the band's slot, which takes the next band.
    void ReleaseBand(int band);

    BandPlace PlaceOf(int band) const;
    const BandShape& Shape() const { return shape_; }
    int Bands() const { return bands_; }
    int Columns() const { return columns_; }
    int TileRows() const { return tileRows_; }
    const LayerTiles& Tiles() const { return tiles_; }
    const StreamingOptions& Options() const { return options_; }
    unsigned Threads() const { return pool_ ? pool_->Size() : 1; }

private:
    struct Event {
        Continuation then;
        std::string error;
    };

    bool Prepare();
    void StartBands();
    void HandDecodedBands();
    void DecodeTile(BandSlot& slot, int band, int column);
    BandSlot* SlotOf(int band);
    void Post(Event event);
    void TaskLost() noexcept;
    // The next event, or nothing when a task ended without posting one.
    std::optional<Event> Wait();

    const LayerTiles& tiles_;
    BandSink& sink_;
    const StreamingOptions& options_;
    BandShape shape_;
    int columns_ = 0;
    int tileRows_ = 0;
    int blocksPerTileRow_ = 1;
    int bands_ = 0;

    std::vector<std::unique_ptr<BandSlot>> slots_;
    int nextDecode_ = 0;
    int nextHanded_ = 0;
    int outstanding_ = 0;
    bool failed_ = false;
    // Set on failure: the work still queued is skipped.
    std::atomic<bool> stopping_{false};
    StreamedLayer result_;

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
    std::mutex notesMutex_;
    std::vector<TileNote> problems_;

    std::mutex eventsMutex_;
    std::condition_variable eventArrived_;
    std::deque<Event> events_;
    int lostTasks_ = 0; // tasks that ended without their event

    // Last: its threads are joined before anything they use goes away.
    std::unique_ptr<WorkerPool> pool_;
};

// Whether a written image is to be kept: not when no tile of the range went
// into it (it must not replace an earlier image), which result then says.
bool KeepStreamedImage(StreamedLayer& result, const LayerTiles& tiles);

// Stored band row (bottom-up, blue-green-red) to file order (red, green, blue).
void BandRowToRgb(const std::uint8_t* stored, std::size_t pixels, std::uint8_t* out);
// The same with the row's alpha after each pixel's colour.
void BandRowToRgba(const std::uint8_t* stored, const std::uint8_t* alpha, std::size_t pixels,
                   std::uint8_t* out);

// What a failed write of an image says: with the system's reason when the
// file system gave one (a full disk, a file-size limit).
std::string WriteFailure(int error);

} // namespace quiltara
