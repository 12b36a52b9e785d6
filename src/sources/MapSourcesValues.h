#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/SettingsStore.h"
#include "tiles/MapLayer.h"

namespace quiltara {

// What one create-map run does for one map layer.
struct LayerSource {
    bool download = false;
    std::string sourceUrl; // source URL template, expanded for every tile
    std::string subfolder; // empty: the output folder itself
};

// An image of an overlay layer laid over a base layer of the same source,
// made beside the two layers' own images.
struct CompositeLayers {
    MapLayer base = MapLayer::Satellite;
    MapLayer overlay = MapLayer::Hybrid;

    bool operator==(const CompositeLayers&) const = default;
};

// What a run does with its images beyond the layers: the credit drawn on
// them, the composites made. Chosen in the map sources dialog or on the
// command line, for the whole run.
struct PublishChoices {
    bool stampAttribution = false; // the source's attribution drawn in each image's corner
    std::vector<CompositeLayers> composites;
};

// The map sources values of one create-map run: one entry per map layer.
// A layer that is not downloaded is neither fetched, nor stitched, nor are
// its tiles deleted.
class MapSourcesValues {
public:
    LayerSource& operator[](MapLayer layer) { return layers_[Index(layer)]; }
    const LayerSource& operator[](MapLayer layer) const { return layers_[Index(layer)]; }

    bool IsDownloaded(MapLayer layer) const { return (*this)[layer].download; }
    bool AnyDownloaded() const;

    PublishChoices publish;

private:
    static std::size_t Index(MapLayer layer) { return static_cast<std::size_t>(layer); }

    std::array<LayerSource, 4> layers_;
};

// The layer's default source URL template.
std::string DefaultSourceUrl(MapLayer layer);

// How a layer's template is offered when the map sources are asked for: the
// stored text, or the default template when nothing (or an empty text) is
// stored; usesDefault tells which, and decides the "Default Source URL" box.
struct OfferedSource {
    std::string sourceUrl;
    bool usesDefault = false;
};

OfferedSource LoadOfferedSource(SettingsStore& store, MapLayer layer);

// The values as they stand when the map sources are asked for: every
// template offered as above, no layer downloaded, every subfolder empty.
// The download choices and subfolders are never remembered between runs.
MapSourcesValues InitialMapSourcesValues(SettingsStore& store);

// What a confirmed choice stores: all four templates, whether their layers are
// downloaded or not, an empty template as the empty text.
void StoreSourceUrls(SettingsStore& store, const MapSourcesValues& values);

// Where a create-map run gets its map sources values: the map sources dialog
// in the desktop application, the command line in the headless map maker.
class MapSourcesProvider {
public:
    virtual ~MapSourcesProvider() = default;

    // The values chosen for this run, or nothing when the user cancelled.
    virtual std::optional<MapSourcesValues> AskMapSources() = 0;
};

// A provider that always gives the same answer (nothing: always cancelled).
class FixedMapSources : public MapSourcesProvider {
public:
    explicit FixedMapSources(std::optional<MapSourcesValues> values) : values_(std::move(values)) {}

    std::optional<MapSourcesValues> AskMapSources() override {
        ++timesAsked_;
        return values_;
    }
    int TimesAsked() const { return timesAsked_; }

private:
    std::optional<MapSourcesValues> values_;
    int timesAsked_ = 0;
};

} // namespace quiltara
