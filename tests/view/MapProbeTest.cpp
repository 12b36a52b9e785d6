#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/PageDocument.h"
#include "platform/ScriptedPrompts.h"
#include "sources/SourceCatalogue.h"
#include "view/MapProbe.h"

namespace quiltara {
namespace {

// A page of 256-pixel tile images laid out from an origin, seen through a view
// of the given size; outside the view there is nothing. Rectangles of other
// elements (a zoom control, a marker image without x and y) lie on top.
class TilePage : public PageDocument {
public:
    struct Cover {
        int left, top, right, bottom; // right and bottom exclusive
        PageElement element;
    };

    int width = 800;
    int height = 600;
    int originX = -100; // client position of tile (firstColumn, firstRow)'s top-left pixel
    int originY = -30;
    int firstColumn = 10;
    int firstRow = 20;
    int tileSize = 256;
    std::vector<Cover> covers;
    int roundTrips = 0;
    bool pathStyle = false; // tiles at "/roads/{z}/{x}/{y}.png" addresses, on subdomains a and b

    std::optional<PageElement> ElementAt(int x, int y) override { return Answer(x, y); }

    std::vector<std::optional<PageElement>> ElementsAt(
        const std::vector<PagePoint>& points) override {
        ++roundTrips;
        std::vector<std::optional<PageElement>> answers;
        for (const PagePoint& p : points) {
            answers.push_back(Answer(p.x, p.y));
        }
        return answers;
    }

    std::optional<PageElement> Answer(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return std::nullopt;
        }
        for (const Cover& cover : covers) {
            if (cover.left <= x && x < cover.right && cover.top <= y && y < cover.bottom) {
                return cover.element;
            }
        }
        const int column = firstColumn + FloorDiv(x - originX, tileSize);
        const int row = firstRow + FloorDiv(y - originY, tileSize);
        if (pathStyle) {
            return PageElement{"IMG", std::string("http://") + ((column + row) % 2 ? "b" : "a") +
                                          ".tiles.example/roads/6/" + std::to_string(column) +
                                          "/" + std::to_string(row) + ".png"};
        }
        return PageElement{
            "img", "http://mt1.google.localhost/vt?v=w2.97&hl=en&x=" + std::to_string(column) +
                       "&y=" + std::to_string(row) + "&zoom=6&s=Galileo"};
    }

    static int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
};

// The scan as the one-pixel walk: one question per step.
TileEdge StepOneByOne(PageDocument& page, int x, int y, bool horizontal, int step) {
    const TileIndex reference = TileOfElement(page.ElementAt(x, y), true);
    for (;;) {
        (horizontal ? x : y) += step;
        const TileIndex tile = TileOfElement(page.ElementAt(x, y), true);
        const bool failed = tile.column == -1;
        if (failed || (horizontal ? tile.column != reference.column : tile.row != reference.row)) {
            return {horizontal ? x : y, failed};
        }
    }
}

TEST(MapProbeTest, UrlParametersMatchAnywhereInAnyCaseAndKeepTheCallersValueWhenAbsent) {
    const std::string url = "http://mt0.google.com/vt?LYRS=m&v=w2.97&hl=en&X=12&y= -7&zoom=3";
    int value = -1;
    GetUrlParamInt(url, "x", value);
    EXPECT_EQ(value, 12);
    GetUrlParamInt(url, "Y", value);
    EXPECT_EQ(value, -7); // read like atoi: blanks and a sign
    GetUrlParamInt(url, "zoom", value);
    EXPECT_EQ(value, 3); // at the very end, no "&" needed
    value = -1;
    GetUrlParamInt(url, "z", value);
    EXPECT_EQ(value, -1);
    GetUrlParamInt("a?index=5&x=9", "x", value);
    EXPECT_EQ(value, 5); // "INDEX=" holds "X=": the first occurrence counts
    GetUrlParamInt("a?x=&y=1", "x", value);
    EXPECT_EQ(value, 0);

    std::string text = "kept";
    GetUrlParamText(url, "hl", text);
    EXPECT_EQ(text, "EN");
    GetUrlParamText(url, "V", text);
    EXPECT_EQ(text, "W2.97");
    text = "kept";
    GetUrlParamText(url, "zoom", text); // no "&" after it
    EXPECT_EQ(text, "kept");
    GetUrlParamText(url, "q", text);
    EXPECT_EQ(text, "kept");
    GetUrlParamText(url, "s", text);
    EXPECT_EQ(text, "M"); // found inside "LYRS="
    GetUrlParamText("?hl=&x=1", "hl", text);
    EXPECT_EQ(text, "");
}

TEST(MapProbeTest, ScansGiveWhatTheOnePixelWalkGivesInOneRoundTrip) {
    TilePage plain;
    TilePage covered;
    covered.covers.push_back({10, 10, 40, 80, {"DIV", ""}}); // the zoom buttons
    covered.covers.push_back({400, 300, 420, 340, {"IMG", "/marker.png"}});
    covered.covers.push_back({600, 500, 700, 520, {"IMG", "/pin.png?x=77"}}); // x but no y
    // An overlay image of tile (12, 21) over part of it: another element, the same tile.
    covered.covers.push_back({450, 250, 500, 300, {"IMG", "/hyb?x=12&y=21&zoom=6"}});
    const std::vector<PagePoint> starts = {
        {0, 0},     {5, 50},    {50, 50},   {155, 20},  {156, 226}, {411, 290},
        {411, 350}, {390, 320}, {799, 599}, {650, 510}, {650, 530}, {-5, 40},
        {300, 650}, {412, 481}, {430, 270}, {475, 275}, {660, 280}, {470, 240}};
    for (TilePage* page : {&plain, &covered}) {
        const MapProbe probe(page, true, page->width, page->height);
        for (const PagePoint& start : starts) {
            for (const bool horizontal : {true, false}) {
                for (const int step : {-1, 1}) {
                    const TileEdge expected =
                        StepOneByOne(*page, start.x, start.y, horizontal, step);
                    page->roundTrips = 0;
                    EXPECT_EQ(probe.ScanToTileEdge(start.x, start.y, horizontal ? "X" : "y", step),
                              expected)
                        << start.x << "," << start.y << " " << horizontal << " " << step;
                    if (page == &plain) {
                        EXPECT_EQ(page->roundTrips, 1);
                    }
                }
            }
        }
    }
    // Through the overlay image the walk goes on (a question after each change
    // of element) until the next tile.
    const MapProbe probe(&covered, true, covered.width, covered.height);
    covered.roundTrips = 0;
    EXPECT_EQ(probe.ScanToTileEdge(430, 270, "x", 1), (TileEdge{668, false}));
    EXPECT_EQ(covered.roundTrips, 3);

    // Spot checks of the walk itself: the tile edge to the left of x = 200 is at
    // x = 155 (tile 10 covers -100 to 155), the right one at 412.
    EXPECT_EQ(probe.ScanToTileEdge(200, 100, "x", -1), (TileEdge{155, false}));
    EXPECT_EQ(probe.ScanToTileEdge(200, 100, "x", 1), (TileEdge{412, false}));
    // Leaving the page and running into the zoom buttons both fail.
    EXPECT_EQ(probe.ScanToTileEdge(100, 5, "x", -1), (TileEdge{-1, true}));
    EXPECT_EQ(probe.ScanToTileEdge(20, 100, "y", -1), (TileEdge{79, true}));
}

TEST(MapProbeTest, APageAnsweringBeyondTheViewIsWalkedOnUntilTheWalkEnds) {
    // The page reports tiles for points outside the view size the probe was given.
    TilePage page;
    page.width = 2000;
    const MapProbe probe(&page, true, 300, 600);
    EXPECT_EQ(probe.ScanToTileEdge(200, 100, "x", 1), StepOneByOne(page, 200, 100, true, 1));
    EXPECT_EQ(probe.ScanToTileEdge(1000, 100, "x", 1), StepOneByOne(page, 1000, 100, true, 1));
    EXPECT_EQ(probe.ScanToTileEdge(1000, 100, "x", 1), (TileEdge{1180, false}));
}

TEST(MapProbeTest, PositionsFromTheTilesFirstAndLastPixelsAndTheLeftmostTile) {
    TilePage page;
    ScriptedPrompts prompts;
    const MapProbe probe(&page, true, page.width, page.height);
    // Tile 11 spans x 156..411 and row 20 spans y -30..225.
    CTilePoint p = probe.GetTilePosition(156, 225, &prompts);
    EXPECT_DOUBLE_EQ(p.x, 11.0);
    EXPECT_DOUBLE_EQ(p.y, 20.0 + 255.0 / 256);
    p = probe.GetTilePosition(411, 226, &prompts);
    EXPECT_DOUBLE_EQ(p.x, 11.0 + 255.0 / 256);
    EXPECT_DOUBLE_EQ(p.y, 21.0);
    // The leftmost tile: the backward scan leaves the page, the forward one counts.
    p = probe.GetTilePosition(0, 0, &prompts);
    EXPECT_DOUBLE_EQ(p.x, 10.0 + 100.0 / 256);
    EXPECT_DOUBLE_EQ(p.y, 20.0 + 30.0 / 256);
    EXPECT_TRUE(prompts.Texts().empty());

    const CTileRect rect = probe.GetTileRect(156, 225, 411, 226, &prompts);
    EXPECT_DOUBLE_EQ(rect.top, 20.0 + 255.0 / 256);
    EXPECT_DOUBLE_EQ(rect.left, 11.0);
    EXPECT_DOUBLE_EQ(rect.right, 11.0 + 255.0 / 256);
    EXPECT_DOUBLE_EQ(rect.bottom, 21.0);
}

TEST(MapProbeTest, TooLittleRoomForANeighbourAsksForAWiderOrHigherWindow) {
    TilePage page;
    page.originX = 0;
    page.originY = 0;
    page.width = 256; // one column only
    ScriptedPrompts prompts;
    MapProbe probe(&page, true, page.width, page.height);
    CTilePoint p = probe.GetTilePosition(100, 100, &prompts);
    EXPECT_EQ(p.x, -1.0);
    EXPECT_EQ(p.y, -1.0);
    // The vertical axis is not tried once the horizontal one failed.
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{kProbeWiderMessage});

    page.width = 600;
    page.height = 200;
    probe = MapProbe(&page, true, page.width, page.height);
    const CTileRect rect = probe.GetTileRect(100, 100, 300, 150, &prompts);
    EXPECT_EQ(rect.top, -1.0);
    EXPECT_EQ(rect.left, -1.0);
    EXPECT_EQ(rect.right, -1.0);
    EXPECT_EQ(rect.bottom, -1.0);
    EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{kProbeWiderMessage, kProbeHigherMessage,
                                                         kProbeHigherMessage}));
    EXPECT_EQ(std::string(kProbeWiderMessage),
              "The system does not have enough space to work out where you are on the map, "
              "please make the window wider and try again");
}

TEST(MapProbeTest, NoPageNoPanelOrNoTileFindsNothingSilently) {
    TilePage page;
    page.covers.push_back({0, 0, 100, 100, {"DIV", ""}});
    ScriptedPrompts prompts;
    for (const MapProbe& probe :
         {MapProbe(nullptr, true, 800, 600), MapProbe(&page, false, 800, 600)}) {
        EXPECT_EQ(probe.GetTileAt(300, 300), TileIndex{});
        const CTilePoint p = probe.GetTilePosition(300, 300, &prompts);
        EXPECT_EQ(p.x, -1.0);
        EXPECT_EQ(p.y, -1.0);
    }
    const MapProbe probe(&page, true, 800, 600);
    EXPECT_EQ(probe.GetTileAt(50, 50), TileIndex{});
    EXPECT_EQ(probe.GetTilePosition(50, 50, &prompts).x, -1.0);
    EXPECT_EQ(probe.GetTileAt(300, 300), (TileIndex{11, 21}));
    EXPECT_TRUE(prompts.Texts().empty());
}

TEST(MapProbeTest, TheReadoutFillsTheTextsLayerAndLanguageFromAnImage) {
    PanelValues panel;
    const PageElement tile{"IMG",
                           "http://mt2.google.localhost:5/vt?v=w2t.50&hl=de&x=33&y=21"
                           "&zoom=6&s=Gal"};
    std::optional<PanelValues> next = ReadLocation(tile, 120, 45, panel);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->xText, "33");
    EXPECT_EQ(next->yText, "21");
    EXPECT_EQ(next->zoomText, "6");
    EXPECT_EQ(next->detectedLayer, 1);
    EXPECT_EQ(next->languageCode, "DE");
    EXPECT_EQ(next->detailsText,
              "X: 120,  Y: 45  Element: IMG\n" + tile.src + "\nWill download from 'Satellite'");

    // Any image counts; what it lacks shows as -1, "z" stands in for "zoom", an
    // unknown version keeps the layer, and "hl" at the end keeps the language.
    next = ReadLocation(PageElement{"img", "/other.png?v=xyz&z=4&hl=fr"}, 1, 2, *next);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->xText, "-1");
    EXPECT_EQ(next->yText, "-1");
    EXPECT_EQ(next->zoomText, "4");
    EXPECT_EQ(next->detectedLayer, 1);
    EXPECT_EQ(next->languageCode, "DE");
    EXPECT_EQ(next->detailsText,
              "X: 1,  Y: 2  Element: IMG\n/other.png?v=xyz&z=4&hl=fr\nWill download from "
              "'Satellite'");

    for (const auto& [version, layer] : {std::pair{"W2.97", 0}, std::pair{"w2p.115", 2}}) {
        next =
            ReadLocation(PageElement{"IMG", std::string("/vt?v=") + version + "&x=1"}, 0, 0, panel);
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(next->detectedLayer, layer) << version;
    }
    // Not an image, or nothing there: the panel keeps what it shows.
    EXPECT_EQ(ReadLocation(PageElement{"DIV", "/vt?x=1&y=2"}, 0, 0, panel), std::nullopt);
    EXPECT_EQ(ReadLocation(std::nullopt, 0, 0, panel), std::nullopt);
}

TEST(MapProbeTest, PathStyleTilesAreReadThroughTheTemplatesOfTheSourceOnShow) {
    std::string error;
    const std::optional<TileSource> source = ReadTileSource(
        R"({"id": "roads", "name": "Roads", "subdomains": "ab", "layers": {
              "satellite": "http://{s}.tiles.example/photo/{z}/{x}/{y}.jpg",
              "map": {"template": "http://{s}.tiles.example/roads/{z}/{x}/{y}.png", "name": "Streets"}}})",
        error);
    ASSERT_TRUE(source) << error;
    TilePage queryPage;
    TilePage pathPage;
    pathPage.pathStyle = true;
    const MapProbe byQuery(&queryPage, true, queryPage.width, queryPage.height);
    const MapProbe byPath(&pathPage, true, pathPage.width, pathPage.height, &*source);
    const MapProbe withoutSource(&pathPage, true, pathPage.width, pathPage.height);
    ScriptedPrompts prompts;
    for (const auto& [x, y] : {std::pair{156, 225}, std::pair{411, 226}, std::pair{0, 0}}) {
        const CTilePoint expected = byQuery.GetTilePosition(x, y, &prompts);
        const CTilePoint found = byPath.GetTilePosition(x, y, &prompts);
        EXPECT_DOUBLE_EQ(found.x, expected.x) << x << "," << y;
        EXPECT_DOUBLE_EQ(found.y, expected.y) << x << "," << y;
        EXPECT_DOUBLE_EQ(withoutSource.GetTilePosition(x, y, &prompts).x, -1.0);
    }
    EXPECT_TRUE(prompts.Texts().empty());

    // The readout names the source's layer; a query-style image keeps the map
    // service's reading even while a source is on show.
    const std::optional<PanelValues> read =
        ReadLocation(pathPage.ElementAt(300, 100), 300, 100, PanelValues{}, &*source);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->xText, "11");
    EXPECT_EQ(read->yText, "20");
    EXPECT_EQ(read->zoomText, "6");
    EXPECT_EQ(read->detailsText, "X: 300,  Y: 100  Element: IMG\n"
                                 "http://b.tiles.example/roads/6/11/20.png\n"
                                 "Will download from 'Streets'");
    const PageElement photo{"img", "http://a.tiles.example/photo/6/3/4.jpg"};
    EXPECT_EQ(ReadLocation(photo, 1, 2, PanelValues{}, &*source)->detectedLayer, 1);
    const PageElement query{"img", "http://a.tiles.example/roads/6/9/9.png?x=1&y=2&zoom=3"};
    const std::optional<PanelValues> parts = ReadLocation(query, 1, 2, PanelValues{}, &*source);
    EXPECT_EQ(parts->xText, "1");
    EXPECT_EQ(parts->zoomText, "3");
    EXPECT_EQ(parts->detailsText.substr(parts->detailsText.rfind('\n')),
              "\nWill download from 'Maps'");
}

} // namespace
} // namespace quiltara
