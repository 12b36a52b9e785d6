#include "stitch/PackageLayer.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <system_error>
#include <vector>

#include "image/TileFile.h"
#include "platform/AtomicFile.h"
#include "stitch/SqliteDatabase.h"
#include "stitch/TilePackage.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// A tile file is a tile or not much more; anything far larger is no tile.
constexpr std::uintmax_t kLargestTileFile = std::uintmax_t{16} << 20;

// Reads a whole tile file into bytes; false when it cannot be read.
bool ReadTileFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kLargestTileFile) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.resize(static_cast<std::size_t>(size));
    return in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)) &&
           in.gcount() == static_cast<std::streamsize>(size);
}

PackageDescription Describe(const LayerTiles& tiles, const std::string& path,
                            const StreamingOptions& options) {
    PackageDescription d;
    d.name = std::filesystem::path(path).stem().string();
    d.attribution = options.metadata.copyright;
    d.overlay = tiles.layer == MapLayer::Hybrid;
    d.range = tiles.range;
    d.firstZoom = tiles.FirstZoom();
    d.lastZoom = tiles.zoom;
    d.description = d.firstZoom == d.lastZoom
                        ? FormatText("The %s layer of %s at zoom %i, as the tile server sent it",
                                     LayerName(tiles.layer), d.name.c_str(), d.lastZoom)
                        : FormatText(
                              "The %s layer of %s at zooms %i to %i, as the tile server "
                              "sent it",
                              LayerName(tiles.layer), d.name.c_str(), d.firstZoom, d.lastZoom);
    return d;
}

bool StopRequested(const StreamingOptions& options) {
    return options.cancel != nullptr && options.cancel->Requested();
}

// Fills the package with the tiles of every zoom, shallow ones first; false
// when a stop came first.
bool AddTiles(const LayerTiles& tiles, TilePackageWriter& writer, StreamingOptions const& options,
              StreamedLayer& result, PackageDescription& description) {
    std::vector<unsigned char> bytes;
    std::int64_t pngs = 0;
    std::int64_t jpegs = 0;
    for (int zoom = tiles.FirstZoom(); zoom <= tiles.zoom; ++zoom) {
        const TileRange range = RangeAtZoom(tiles.range, tiles.zoom, zoom);
        for (int row = range.yFirst; row <= range.yLast; ++row) {
            for (int column = range.xFirst; column <= range.xLast; ++column) {
                if (StopRequested(options)) {
                    return false;
                }
                const std::string path = tiles.folder + tiles.FileName(column, row, zoom);
                if (!ReadTileFile(path, bytes)) {
                    result.tileProblems.push_back(
                        TileProblem{path, AnythingAt(path) ? TileProblem::Kind::Unreadable
                                                           : TileProblem::Kind::Missing});
                    continue;
                }
                const TileDataFormat format = SniffTileData(bytes);
                if (format == TileDataFormat::Other) {
                    // Neither kind of package holds other formats; the tile
                    // is not converted, so what is stored is what was sent.
                    result.tileProblems.push_back(TileProblem{path, TileProblem::Kind::Unreadable});
                    continue;
                }
                (format == TileDataFormat::Jpeg ? jpegs : pngs) += 1;
                writer.AddTile(zoom, column, row, bytes);
            }
        }
    }
    // A layer whose server mixes formats keeps every tile as sent; the one
    // format MBTiles records is that of most tiles.
    description.format = jpegs > pngs ? TileDataFormat::Jpeg : TileDataFormat::Png;
    result.noTilePlaced = pngs + jpegs == 0;
    return true;
}

} // namespace

StreamedLayer WritePackageToFile(const LayerTiles& tiles, const std::string& path,
                                 const StreamingOptions& options) {
    StreamedLayer result;
    result.bandsAllocated = true; // nothing of the kind is needed
    try {
        AtomicFile file(path, AtomicFile::Durability::Synced, AtomicFile::Naming::Named);
        file.Close(); // SQLite writes the file by its name
        {
            SqliteDatabase db(file.TemporaryPath().string(), SqliteDatabase::Mode::Create);
            // No journal: an unfinished file is removed rather than rolled back.
            db.Execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = NORMAL; BEGIN;");
            std::unique_ptr<TilePackageWriter> writer = MakePackageWriter(
                options.format == ImageFileFormat::Mbtiles ? PackageKind::Mbtiles
                                                           : PackageKind::GeoPackage,
                db);
            PackageDescription description = Describe(tiles, path, options);
            if (!AddTiles(tiles, *writer, options, result, description)) {
                result.stopped = true;
                return result; // the temporary file goes with `file`
            }
            if (result.noTilePlaced) {
                return result;
            }
            writer->Finish(description);
            db.Execute("COMMIT;");
            writer.reset(); // its statements go before the database closes
            db.Close();
        }
        file.Commit();
        result.written = true;
    } catch (const SqliteError& failure) {
        result.error = failure.what();
    } catch (const std::system_error& failure) {
        result.error = failure.what();
    } catch (const std::bad_alloc&) {
        result.error = "not enough memory to make the package";
    }
    return result;
}

} // namespace quiltara
