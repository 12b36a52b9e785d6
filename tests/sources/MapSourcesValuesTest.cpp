#include "sources/MapSourcesValues.h"

#include "platform/MemorySettingsStore.h"

#include <gtest/gtest.h>

namespace quiltara {
namespace {

TEST(MapSourcesValues, DefaultTemplatesNameNumberedServersAndTheLayerPaths) {
    const struct {
        MapLayer layer;
        const char* path;
    } expected[] = {
        {MapLayer::Map, "/vt/v=w2.97&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]"},
        {MapLayer::Satellite, "/kh/v=50&x=[X]&y=[Y]&z=[Z]&s=[SERVER]"},
        {MapLayer::Terrain, "/vt/v=w2p.115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]"},
        {MapLayer::Hybrid, "/vt/lyrs=h@115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]"},
    };
    auto host = [](const std::string& url) {
        const std::string afterScheme = url.substr(7);
        return afterScheme.substr(0, afterScheme.find('/'));
    };
    for (const auto& e : expected) {
        const std::string url = DefaultSourceUrl(e.layer);
        SCOPED_TRACE(url);
        EXPECT_EQ(url.rfind("http://", 0), 0u);
        const std::string path = e.path;
        ASSERT_GT(url.size(), path.size());
        EXPECT_EQ(url.substr(url.size() - path.size()), path);
        // The server number sits at the end of the host's first label.
        const std::string h = host(url);
        const auto number = h.find("[SRVINDEX]");
        ASSERT_NE(number, std::string::npos);
        EXPECT_GT(number, 0u);
        EXPECT_LT(number, h.find('.'));
    }
    EXPECT_EQ(host(DefaultSourceUrl(MapLayer::Map)), host(DefaultSourceUrl(MapLayer::Terrain)));
    EXPECT_EQ(host(DefaultSourceUrl(MapLayer::Map)), host(DefaultSourceUrl(MapLayer::Hybrid)));
    EXPECT_NE(host(DefaultSourceUrl(MapLayer::Map)), host(DefaultSourceUrl(MapLayer::Satellite)));
}

TEST(MapSourcesValues, NothingStoredOffersTheDefaultsWithNoLayerChosen) {
    MemorySettingsStore store;
    const MapSourcesValues values = InitialMapSourcesValues(store);
    EXPECT_FALSE(values.AnyDownloaded());
    for (MapLayer layer : kAllLayers) {
        const OfferedSource offered = LoadOfferedSource(store, layer);
        EXPECT_TRUE(offered.usesDefault);
        EXPECT_EQ(offered.sourceUrl, DefaultSourceUrl(layer));
        EXPECT_EQ(values[layer].sourceUrl, DefaultSourceUrl(layer));
        EXPECT_TRUE(values[layer].subfolder.empty());
    }
}

TEST(MapSourcesValues, StoringKeepsAllFourTemplatesUnderTheirNames) {
    MemorySettingsStore store;
    MapSourcesValues values = InitialMapSourcesValues(store);
    values[MapLayer::Satellite].download = true;
    values[MapLayer::Satellite].subfolder = "sat";
    values[MapLayer::Terrain].sourceUrl = "http://tiles.example/[Z]/[X]/[Y]";
    StoreSourceUrls(store, values);

    // Every template is stored, the layers that are not downloaded included.
    EXPECT_EQ(store.GetString("SourceURL_MAP", ""), DefaultSourceUrl(MapLayer::Map));
    EXPECT_EQ(store.GetString("SourceURL_SAT", ""), DefaultSourceUrl(MapLayer::Satellite));
    EXPECT_EQ(store.GetString("SourceURL_TER", ""), "http://tiles.example/[Z]/[X]/[Y]");
    EXPECT_EQ(store.GetString("SourceURL_HYB", ""), DefaultSourceUrl(MapLayer::Hybrid));

    // The next time the stored texts are offered as the user's own, and the
    // download choices and subfolders start afresh.
    const MapSourcesValues next = InitialMapSourcesValues(store);
    EXPECT_FALSE(next.AnyDownloaded());
    EXPECT_TRUE(next[MapLayer::Satellite].subfolder.empty());
    EXPECT_EQ(next[MapLayer::Terrain].sourceUrl, "http://tiles.example/[Z]/[X]/[Y]");
    for (MapLayer layer : kAllLayers) {
        EXPECT_FALSE(LoadOfferedSource(store, layer).usesDefault);
    }
}

TEST(MapSourcesValues, AnEmptyTemplateIsStoredEmptyAndOfferedAsTheDefaultNextTime) {
    MemorySettingsStore store;
    MapSourcesValues values = InitialMapSourcesValues(store);
    values[MapLayer::Hybrid].sourceUrl.clear();
    StoreSourceUrls(store, values);
    EXPECT_TRUE(store.Contains("SourceURL_HYB"));
    EXPECT_EQ(store.GetString("SourceURL_HYB", ""), "");

    const OfferedSource offered = LoadOfferedSource(store, MapLayer::Hybrid);
    EXPECT_TRUE(offered.usesDefault);
    EXPECT_EQ(offered.sourceUrl, DefaultSourceUrl(MapLayer::Hybrid));
}

} // namespace
} // namespace quiltara
