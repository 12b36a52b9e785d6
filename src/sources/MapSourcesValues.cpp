#include "sources/MapSourcesValues.h"

#include <algorithm>

#include "tiles/TileSources.h"

namespace quiltara {

bool MapSourcesValues::AnyDownloaded() const {
    return std::any_of(layers_.begin(), layers_.end(),
                       [](const LayerSource& layer) { return layer.download; });
}

std::string DefaultSourceUrl(MapLayer layer) {
    return DefaultSourceTemplate(layer);
}

OfferedSource LoadOfferedSource(SettingsStore& store, MapLayer layer) {
    std::string stored = store.GetString(LayerSettingsName(layer), "");
    if (stored.empty()) {
        return {DefaultSourceUrl(layer), true};
    }
    return {std::move(stored), false};
}

MapSourcesValues InitialMapSourcesValues(SettingsStore& store) {
    MapSourcesValues values;
    for (MapLayer layer : kAllLayers) {
        values[layer].sourceUrl = LoadOfferedSource(store, layer).sourceUrl;
    }
    return values;
}

void StoreSourceUrls(SettingsStore& store, const MapSourcesValues& values) {
    for (MapLayer layer : kAllLayers) {
        store.SetString(LayerSettingsName(layer), values[layer].sourceUrl);
    }
}

} // namespace quiltara
