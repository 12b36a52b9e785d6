#include "stitch/StreamingStitcher.h"

#include <new>
#include <system_error>

#include "image/FileStream.h"
#include "platform/AtomicFile.h"
#include "stitch/BandPipeline.h"
#include "stitch/GeoTiffBandSink.h"
#include "stitch/PackageLayer.h"
#include "stitch/PngBandSink.h"

namespace quiltara {

StreamedLayer StreamLayerImage(const LayerTiles& tiles, ByteStream& out,
                               const StreamingOptions& options) {
    PngBandSink sink(out, options.pngLevel,
                     options.overlay == OverlayOutput::Alpha && LayerCarriesTransparency(tiles));
    BandPipeline pipeline(tiles, sink, options);
    return pipeline.Run();
}

StreamedLayer StreamLayerImageToFile(const LayerTiles& tiles, const std::string& path,
                                     const StreamingOptions& options) {
    StreamedLayer result;
    try {
        if (options.format == ImageFileFormat::GeoTiff) {
            return StreamGeoTiffToFile(tiles, path, options);
        }
        if (IsPackage(options.format)) {
            return WritePackageToFile(tiles, path, options);
        }
        AtomicFile file(path);
        FileStream stream(file.Stream());
        result = StreamLayerImage(tiles, stream, options);
        if (KeepStreamedImage(result, tiles)) {
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

ImageFileFormat SaveTypeFormat(int filterIndex) {
    static constexpr ImageFileFormat kTypes[] = {ImageFileFormat::Png, ImageFileFormat::GeoTiff,
                                                 ImageFileFormat::Mbtiles,
                                                 ImageFileFormat::GeoPackage};
    return filterIndex >= 0 && filterIndex < 4 ? kTypes[filterIndex] : ImageFileFormat::Png;
}

std::string StreamingStitcher::SaveFilter() const {
    return offerTypes_ ? kStreamedMapFileFilter : "";
}

void StreamingStitcher::UseSaveType(int filterIndex) {
    if (offerTypes_) {
        options_.format = SaveTypeFormat(filterIndex);
    }
}

bool StreamingStitcher::StitchLayer(const LayerTiles& tiles, StitchedLayer& stitched,
                                    Prompts& /*prompts*/, const CancelFlag* cancel) {
    StreamingOptions options = options_;
    options.cancel = cancel;
    const LayerCredit credit = CreditFor(tiles, stitched);
    options.metadata = credit.metadata;
    options.stamp = credit.stamp && credit.stamp->Drawn() ? &*credit.stamp : nullptr;
    const StreamedLayer streamed = StreamLayerImageToFile(tiles, stitched.path, options);
    stitched.created = streamed.bandsAllocated;
    stitched.saved = streamed.written;
    stitched.saveError = streamed.written ? "" : streamed.error;
    stitched.tileProblems = streamed.tileProblems;
    stitched.noTilePlaced = streamed.noTilePlaced;
    stitched.stopped = streamed.stopped;
    // A GeoTIFF and the packages hold their place themselves.
    stitched.georeferenced = options_.format != ImageFileFormat::Png;
    return true; // a layer that did not fit leaves room for the next one
}

} // namespace quiltara
