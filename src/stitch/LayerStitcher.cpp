#include "stitch/LayerStitcher.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

namespace quiltara {
namespace {

// A wrapped strip is only worth a progress line; a strip cut short or missing
// is something the user asked for and did not get, said once after the images.
void NoteStamp(const StitchedLayer& stitched, ProgressSink& progress, std::string& problems) {
    if (!stitched.saved || stitched.stampNote.empty()) {
        return;
    }
    if (stitched.stampWhole) {
        progress.AddLine(stitched.stampNote);
    } else {
        problems += (problems.empty() ? "" : "\n") + stitched.stampNote;
    }
}

} // namespace

LayerStitcher::LayerCredit LayerStitcher::CreditFor(const LayerTiles& tiles,
                                                    StitchedLayer& stitched) const {
    const ImageCredit given = credit_.value_or(ImageCredit{});
    LayerCredit credit{credit_ ? CreditMetadata(given, std::time(nullptr)) : ImageMetadata{},
                       std::nullopt};
    if (stamping_) {
        const TileRange& range = tiles.range;
        credit.stamp.emplace(given.attribution,
                             (std::int64_t{range.xLast} - range.xFirst + 1) * 256,
                             (std::int64_t{range.yLast} - range.yFirst + 1) * 256, given.fontPath);
        stitched.stampNote = credit.stamp->Note(stitched.path);
        stitched.stampWhole = credit.stamp->Whole();
    }
    return credit;
}

std::vector<StitchedLayer> LayerStitcher::StitchLayers(const std::string& outputFolder,
                                                       const std::string& fileName,
                                                       const MapSourcesValues& sources,
                                                       const TileRange& range, int zoom,
                                                       Prompts& prompts, ProgressSink& progress,
                                                       const CancelFlag* cancel, int firstZoom) {
    std::vector<StitchedLayer> result;
    stamping_ = sources.publish.stampAttribution;
    std::string stampProblems; // said once, after the layers
    bool goOn = true;
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
        if (!goOn) {
            result.push_back(stitched);
            continue;
        }
        progress.StitchStarted(layer, stitched.path);
        const LayerTiles tiles{LayerFolder(outputFolder, source.subfolder), layer, range, zoom, {},
                               TakesZoomRange() ? firstZoom : -1};
        goOn = StitchLayer(tiles, stitched, prompts, cancel);
        NoteStamp(stitched, progress, stampProblems);
        result.push_back(stitched);
        progress.StitchFinished(layer, stitched.path, stitched.saved);
    }
    if (TakesZoomRange()) {
        // A package holds the tiles as they were sent: a composite, drawn one
        // layer over another, is an image, and packages make none.
        return result;
    }
    std::vector<CompositeLayers> made;
    for (const CompositeLayers& composite : sources.publish.composites) {
        const MapLayer base = composite.base;
        if (composite.base == composite.overlay || !sources.IsDownloaded(base) ||
            !sources.IsDownloaded(composite.overlay) ||
            std::find(made.begin(), made.end(), composite) != made.end()) {
            continue; // the run refuses such a choice before anything is fetched
        }
        made.push_back(composite);
        StitchedLayer stitched;
        stitched.layer = base;
        stitched.overlay = composite.overlay;
        stitched.path = CompositeImagePath(outputFolder, fileName, base, composite.overlay,
                                           sources[base].subfolder);
        if (cancel != nullptr && cancel->Requested()) {
            stitched.stopped = true;
        } else if (goOn) {
            progress.StitchStarted(base, stitched.path);
            const LayerTiles tiles{
                LayerFolder(outputFolder, sources[base].subfolder), base, range, zoom,
                LayerTiles::Overlay{LayerFolder(outputFolder, sources[composite.overlay].subfolder),
                                    composite.overlay}};
            goOn = StitchLayer(tiles, stitched, prompts, cancel);
            NoteStamp(stitched, progress, stampProblems);
            // The tiles are those of the two layers' own images, which name them.
            stitched.tileProblems.clear();
            progress.StitchFinished(base, stitched.path, stitched.saved);
        }
        result.push_back(stitched);
    }
    if (!stampProblems.empty()) {
        prompts.ShowMessage(stampProblems, MessageButtons::Ok);
    }
    return result;
}

} // namespace quiltara
