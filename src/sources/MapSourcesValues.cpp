#include "sources/MapSourcesValues.h"

#include <algorithm>

#include "tiles/TileSources.h"

namespace quiltara {

bool MapSourcesValues::AnyDownloaded() const {
    return std::any_of(layers_.begin(), layers_.end(),
                       [](const LayerSource& layer) { return layer.download; });
}

std::string MemorySettingsStore::ReadString(const std::string& section,
                                            const std::string& name) const {
    const auto found = values_.find({section, name});
    return found == values_.end() ? std::string() : found->second;
}

void MemorySettingsStore::WriteString(const std::string& section, const std::string& name,
                                      const std::string& value) {
    values_[{section, name}] = value;
}

bool MemorySettingsStore::Contains(const std::string& section, const std::string& name) const {
    return values_.count({section, name}) != 0;
}

std::string DefaultSourceUrl(MapLayer layer) {
    return DefaultSourceTemplate(layer);
}

OfferedSource LoadOfferedSource(const SettingsStore& store, MapLayer layer) {
    std::string stored = store.ReadString(kSettingsSection, LayerSettingsName(layer));
    if (stored.empty()) {
        return {DefaultSourceUrl(layer), true};
    }
    return {std::move(stored), false};
}

MapSourcesValues InitialMapSourcesValues(const SettingsStore& store) {
    MapSourcesValues values;
    for (MapLayer layer : kAllLayers) {
        values[layer].sourceUrl = LoadOfferedSource(store, layer).sourceUrl;
    }
    return values;
}

void StoreSourceUrls(SettingsStore& store, const MapSourcesValues& values) {
    for (MapLayer layer : kAllLayers) {
        store.WriteString(kSettingsSection, LayerSettingsName(layer), values[layer].sourceUrl);
    }
}

} // namespace quiltara
