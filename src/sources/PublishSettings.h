#pragma once

#include "platform/SettingsStore.h"
#include "sources/MapSourcesValues.h"

namespace quiltara {

// Whether the attribution is drawn on the images: the user's last choice,
// stored when the map sources are confirmed.
inline constexpr const char* kStampAttributionSetting = "StampAttribution";

bool LoadStampAttribution(SettingsStore& store);
void StoreStampAttribution(SettingsStore& store, bool stamp);

// The hybrid layer laid over the satellite image.
inline constexpr CompositeLayers kSatelliteHybrid{MapLayer::Satellite, MapLayer::Hybrid};

// A composite can be made only of layers that are downloaded.
bool CompositeAvailable(const MapSourcesValues& values, const CompositeLayers& composite);

// The publishing choices as the map sources dialog shows them at OK: the
// attribution box, and the satellite-and-hybrid box, which counts only while
// both layers are chosen.
PublishChoices ChosenPublishing(const MapSourcesValues& values, bool stampAttribution,
                                bool satelliteHybrid);

} // namespace quiltara
