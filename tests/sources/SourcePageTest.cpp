#include "sources/SourcePage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/MemorySettingsStore.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

using testing::HasSubstr;
using testing::Not;

TileSource Demo(const std::string& extra = "") {
    std::string error;
    std::optional<TileSource> source = ReadTileSource(
        R"({"id": "demo", "name": "Demo </script><b>", "minZoom": 2, "maxZoom": 12,
            "attribution": "<img src=x onerror=alert(1)>", "terms": "https://t.example/terms",
            "layers": {"map": "https://{s}.t.example/{z}/{x}/{y}.png?k=[HL]"}, "subdomains": "ab")" +
            extra + "}",
        error);
    EXPECT_TRUE(source) << error;
    return *source;
}

TEST(SourcePage, OpensWhereAskedElseWhereTheUserLastWasElseWhereTheFileSays) {
    const TileSource plain = Demo();
    const TileSource started = Demo(R"(, "start": {"lat": 10, "lon": 20, "zoom": 5})");
    MemorySettingsStore settings;
    EXPECT_EQ(SourcePageStart(plain, std::nullopt, settings).zoom, 2); // the world, within its zooms
    EXPECT_EQ(SourcePageStart(started, std::nullopt, settings).latitude, 10.0);

    // The page reports where the user is; a web page's or a broken report changes nothing.
    for (const char* bad : {"quiltara:/remember?source=demo&lat=x&lon=1&zoom=3",
                            "quiltara:/remember?source=de/mo&lat=1&lon=1&zoom=3",
                            "http://x.example/remember?source=demo&lat=1&lon=1&zoom=3"}) {
        EXPECT_FALSE(RememberSourcePosition(bad, settings)) << bad;
    }
    EXPECT_TRUE(RememberSourcePosition("quiltara:/remember?source=demo&lat=51.5&lon=-0.12&zoom=30",
                                       settings));
    const MapPosition last = SourcePageStart(started, std::nullopt, settings);
    EXPECT_EQ(last.latitude, 51.5);
    EXPECT_EQ(last.longitude, -0.12);
    EXPECT_EQ(last.zoom, 12); // within the source's zooms

    const std::optional<SourcePageRequest> asked =
        ParseSourcePageAddress("QUILTARA:/map?source=demo&lat=-89&lon=3&zoom=7#x");
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->sourceId, "demo");
    ASSERT_TRUE(asked->position);
    EXPECT_LT(asked->position->latitude, -85.0); // kept on the square grid
    EXPECT_GT(asked->position->latitude, -85.1);
    EXPECT_EQ(SourcePageStart(started, asked->position, settings).zoom, 7);
    EXPECT_FALSE(ParseSourcePageAddress("quiltara:/map?lat=1"));
    EXPECT_FALSE(ParseSourcePageAddress("http://maps.google.com/map?source=demo"));
    EXPECT_EQ(ParseSourcePageAddress(SourcePageAddress("demo"))->sourceId, "demo");
}

TEST(SourcePage, ThePageTakesTheSourcesTextsAsTextOnly) {
    const std::string html = SourcePageHtml(Demo(), MapPosition{1.5, 2.5, 3});
    EXPECT_THAT(html, HasSubstr("<title>Demo &lt;/script&gt;&lt;b&gt;</title>"));
    EXPECT_THAT(html, Not(HasSubstr("Demo </script>")));
    EXPECT_THAT(html, Not(HasSubstr("<img src=x")));
    EXPECT_THAT(html, HasSubstr("https://{s}.t.example/{z}/{x}/{y}.png?k={hl}"));
    EXPECT_THAT(html, HasSubstr("[1.5,2.5,3]"));
    EXPECT_THAT(html, HasSubstr("zoomSnap: 1"));
    EXPECT_THAT(html, HasSubstr("detectRetina: false"));
}

TEST(SourcePage, ARunOverTheSourcesTileLimitAsksFirstAndNoCancelsIt) {
    const TileSource limited = Demo(R"(, "tileLimit": 10)");
    MapSourcesValues two;
    two[MapLayer::Map].download = true;
    two[MapLayer::Satellite].download = true;
    FixedMapSources chosen(two);
    ScriptedPrompts prompts;
    EXPECT_TRUE(TileLimitedMapSources(chosen, limited, 5, prompts).AskMapSources());
    EXPECT_TRUE(prompts.Texts().empty()); // 2 layers x 5 tiles: within the limit
    prompts.QueueAnswer(MessageAnswer::No);
    EXPECT_FALSE(TileLimitedMapSources(chosen, limited, 6, prompts).AskMapSources());
    ASSERT_EQ(prompts.Texts().size(), 1u);
    EXPECT_THAT(prompts.Texts()[0], AllOf(HasSubstr("12 tiles"), HasSubstr("at most 10")));
    prompts.QueueAnswer(MessageAnswer::Yes);
    EXPECT_TRUE(TileLimitedMapSources(chosen, limited, 6, prompts).AskMapSources());
}

} // namespace
} // namespace quiltara
