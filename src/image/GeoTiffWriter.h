#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "image/ImageMetadata.h"

namespace quiltara {

// Side of the square tiles a GeoTIFF is cut into: one map tile, one TIFF tile.
inline constexpr std::uint32_t kTiffTileSide = 256;

enum class TiffCompression { Deflate, Jpeg };

// One resolution of the image and its grid of tiles.
struct TiffLevel {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t tilesAcross = 0;
    std::uint32_t tilesDown = 0;

    std::size_t Tiles() const { return std::size_t{tilesAcross} * tilesDown; }
};

// The full resolution, then each level half as large (rounded up) as the one
// before, down to the first that fits in one tile.
std::vector<TiffLevel> PyramidLevels(std::uint32_t width, std::uint32_t height);

// Whether a file of these levels may pass the 4 GB that 32-bit offsets reach:
// true when the largest it could become does, every tile stored
// uncompressed plus what compression adds at worst.
bool NeedsBigTiff(const std::vector<TiffLevel>& levels, int samples);

// What a GeoTIFF is before its first tile.
struct GeoTiffFrame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int samples = 3; // 3: red, green, blue; 4: and associated (premultiplied) alpha
    TiffCompression compression = TiffCompression::Deflate; // of the tiles given
    // WGS 84 / Pseudo-Mercator metres: the outer top-left corner of the
    // top-left pixel, and the side of a pixel.
    double left = 0.0;
    double top = 0.0;
    double pixelSize = 1.0;
    // The credit, in the full resolution's directory.
    ImageMetadata metadata;
};

// A tile's pixels as stored: rows from the top, samples interleaved, 256 x
// 256 pixels (parts outside the image are padding).
std::vector<std::uint8_t> DeflateTile(std::span<const std::uint8_t> pixels, int samples, int level);
// The same as a baseline JPEG stream (3 samples only), YCbCr with the chroma
// halved both ways, as the tile's photometric tags say.
std::vector<std::uint8_t> JpegTile(std::span<const std::uint8_t> pixels, int quality);

// Writes a tiled GeoTIFF whose tiles arrive compressed, in any order, with
// its reduced-resolution levels as internal overviews. Layout: the header and
// every level's directory first (so a reader learns the whole pyramid from
// the first few kilobytes), then the full-resolution tiles as they are
// written, then each overview level's tiles together, each level followed by
// its tile offsets. Overview tiles wait in a nameless scratch file until the
// full resolution is done, so nothing is held in memory and nothing is left
// behind. BigTIFF when NeedsBigTiff() says so.
class GeoTiffWriter {
public:
    // fd: the file, open for writing at its start; readPath: a name it can be
    // read through (libtiff reads its own directories back). Scratch data goes
    // into scratchFolder, on the file's own disk.
    GeoTiffWriter(int fd, std::filesystem::path readPath, std::filesystem::path scratchFolder);
    ~GeoTiffWriter();
    GeoTiffWriter(const GeoTiffWriter&) = delete;
    GeoTiffWriter& operator=(const GeoTiffWriter&) = delete;

    // The header and every directory, with the georeference in the first.
    bool Begin(const GeoTiffFrame& frame);
    // A full-resolution tile, by its index in rows of tiles from the top left.
    bool WriteTile(std::uint32_t index, std::span<const std::uint8_t> data);
    // A tile of overview level (1 = half size), held until Finish().
    bool KeepOverviewTile(std::size_t level, std::uint32_t index,
                          std::span<const std::uint8_t> data);
    // The overviews and every tile offset; the file is then complete.
    bool Finish();

    const std::vector<TiffLevel>& Levels() const;
    bool IsBigTiff() const;
    // Why a call failed, and the system's error number when a write did.
    const std::string& Error() const;
    int SystemError() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace quiltara
