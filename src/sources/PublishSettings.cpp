#include "sources/PublishSettings.h"

namespace quiltara {

bool LoadStampAttribution(SettingsStore& store) {
    return store.GetInt(kStampAttributionSetting, 0) != 0;
}

void StoreStampAttribution(SettingsStore& store, bool stamp) {
    store.SetInt(kStampAttributionSetting, stamp ? 1 : 0);
}

bool CompositeAvailable(const MapSourcesValues& values, const CompositeLayers& composite) {
    return values.IsDownloaded(composite.base) && values.IsDownloaded(composite.overlay);
}

PublishChoices ChosenPublishing(const MapSourcesValues& values, bool stampAttribution,
                                bool satelliteHybrid) {
    PublishChoices choices;
    choices.stampAttribution = stampAttribution;
    if (satelliteHybrid && CompositeAvailable(values, kSatelliteHybrid)) {
        choices.composites.push_back(kSatelliteHybrid);
    }
    return choices;
}

} // namespace quiltara
