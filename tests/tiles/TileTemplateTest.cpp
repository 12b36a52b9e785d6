#include "tiles/TileTemplate.h"

#include <gtest/gtest.h>

namespace quiltara {
namespace {

struct TemplateCase {
    const char* name;
    const char* text;
    std::vector<std::string> subdomains;
    int column, row, zoom;
    const char* subdomain;
    const char* expanded; // the address Expand makes for the tile
    std::vector<std::string> zoomNames = {};
};

// Every placeholder, both row directions, subdomains, and the query and path
// forms of tile addresses: each address made must read back as its tile.
const TemplateCase kCases[] = {
    {"path",
     "https://tiles.example.org/{z}/{x}/{y}.png",
     {},
     5,
     9,
     4,
     "",
     "https://tiles.example.org/4/5/9.png"},
    {"tms_row",
     "http://tms.example/{z}/{x}/{-y}.jpg",
     {},
     5,
     9,
     4,
     "",
     "http://tms.example/4/5/6.jpg"},
    {"subdomain",
     "http://{s}.tile.example/{z}/{x}/{y}.png",
     {"a", "b", "c"},
     1,
     2,
     3,
     "b",
     "http://b.tile.example/3/1/2.png"},
    {"query",
     "http://maps.example/wmts?layer=roads&TileMatrix={z}&TileCol={x}&TileRow={y}",
     {},
     1023,
     511,
     10,
     "",
     "http://maps.example/wmts?layer=roads&TileMatrix=10&TileCol=1023&TileRow=511"},
    {"brackets",
     "http://mt[SRVINDEX].example/vt/hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]",
     {},
     7,
     3,
     5,
     "",
     "http://mt0.example/vt/hl=en&x=7&y=3&z=5&s=G"},
    {"zoom_in_host",
     "http://z{z}.example/{x}_{y}.png",
     {},
     0,
     0,
     0,
     "",
     "http://z0.example/0_0.png"},
    {"matrix_names",
     "https://wmts.example/rest/roads/PM/{z}/{y}/{x}.png",
     {},
     3,
     2,
     2,
     "",
     "https://wmts.example/rest/roads/PM/EPSG:3857:2/2/3.png",
     {"EPSG:3857:0", "EPSG:3857:1", "EPSG:3857:2"}},
    {"padded_names",
     "https://wmts.example/kvp?TILEMATRIX={z}&TILEROW={y}&TILECOL={x}",
     {},
     1,
     0,
     1,
     "",
     "https://wmts.example/kvp?TILEMATRIX=01&TILEROW=0&TILECOL=1",
     {"00", "01", "02", "03", "04", "05", "06", "07", "08", "09", "10"}},
    {"named_zoom_beyond_the_names",
     "https://wmts.example/{z}/{x}/{y}.png",
     {},
     7,
     6,
     12,
     "",
     "https://wmts.example/12/7/6.png",
     {"L0", "L1"}},
};

class TileTemplateCases : public testing::TestWithParam<TemplateCase> {};

TEST_P(TileTemplateCases, ExpandsAndReadsItsOwnAddressBack) {
    const TemplateCase& c = GetParam();
    std::string error;
    std::optional<TileTemplate> parsed = TileTemplate::Parse(c.text, error);
    ASSERT_TRUE(parsed) << error;
    parsed->SetZoomNames(c.zoomNames);
    const std::string url = parsed->Expand(c.column, c.row, c.zoom, c.subdomain);
    EXPECT_EQ(url, c.expanded);
    const std::optional<TileMatch> match = parsed->Match(url, c.subdomains);
    ASSERT_TRUE(match) << url;
    EXPECT_EQ(*match, (TileMatch{c.column, c.row, c.zoom}));
}

INSTANTIATE_TEST_SUITE_P(Forms, TileTemplateCases, testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TileTemplate, MatchesOnlyItsOwnTilesAndIgnoresTheCaseOfLetters) {
    std::string error;
    const auto subdomained = TileTemplate::Parse("http://{s}.tile.example/{z}/{x}/{y}.png", error);
    ASSERT_TRUE(subdomained);
    const std::vector<std::string> abc = {"a", "b", "c"};
    EXPECT_EQ(subdomained->Match("HTTP://C.Tile.Example/2/1/3.png", abc), (TileMatch{1, 3, 2}));
    for (const char* other : {"http://d.tile.example/2/1/3.png", "http://a.tile.example/2/1/3.jpg",
                              "http://a.tile.example/2/1/x.png", "http://a.tile.example/2/1.png",
                              "https://elsewhere.example/2/1/3.png"}) {
        EXPECT_FALSE(subdomained->Match(other, abc)) << other;
    }
    // The same placeholder twice must name the same number.
    const auto twice = TileTemplate::Parse("http://t.example/{z}/{x}/{y}?again={x}", error);
    ASSERT_TRUE(twice);
    EXPECT_FALSE(twice->Match("http://t.example/2/1/3?again=2", {}));
    EXPECT_TRUE(twice->Match("http://t.example/2/1/3?again=1", {}));
    // A row counted from the bottom lies on the grid of its zoom.
    const auto tms = TileTemplate::Parse("http://t.example/{z}/{x}/{-y}", error);
    ASSERT_TRUE(tms);
    EXPECT_EQ(tms->Match("http://t.example/0/0/0", {}), (TileMatch{0, 0, 0}));
    EXPECT_FALSE(tms->Match("http://t.example/31/0/0", {}));
    // A zoom that has a name goes by it only; "1" is no longer zoom 1.
    auto named = TileTemplate::Parse("http://t.example/{z}/{x}/{y}", error);
    ASSERT_TRUE(named);
    named->SetZoomNames({"00", "01"});
    EXPECT_FALSE(named->Match("http://t.example/1/0/0", {}));
    EXPECT_EQ(named->Match("http://t.example/01/1/0", {}), (TileMatch{1, 0, 1}));
    EXPECT_EQ(named->PageForm(), "http://t.example/{zn}/{x}/{y}");
}

TEST(TileTemplate, RefusesUnknownBracesNamingThemAndNamesWhatASourceLacks) {
    std::string error;
    EXPECT_FALSE(TileTemplate::Parse("http://t.example/{z}/{x}/{y}.png?key={apikey}", error));
    EXPECT_NE(error.find("{apikey}"), std::string::npos) << error;
    EXPECT_FALSE(TileTemplate::Parse("http://t.example/{z/{x}", error));
    EXPECT_FALSE(TileTemplate::Parse("http://t.example/{Z}/{X}/{Y}", error));
    EXPECT_NE(error.find("{Z}"), std::string::npos) << error;
    // Unknown square brackets are text, as in the map service's templates.
    const auto bracketed = TileTemplate::Parse("http://t.example/[x]/{z}/{x}/{y}", error);
    ASSERT_TRUE(bracketed);
    EXPECT_EQ(bracketed->Expand(1, 2, 3, ""), "http://t.example/[x]/3/1/2");

    const auto noRow = TileTemplate::Parse("http://t.example/{z}/{x}.png", error);
    ASSERT_TRUE(noRow);
    EXPECT_NE(noRow->MissingPart(false).value_or("").find("row"), std::string::npos);
    const auto withS = TileTemplate::Parse("http://{s}.t.example/{z}/{x}/{-y}.png", error);
    ASSERT_TRUE(withS);
    EXPECT_TRUE(withS->MissingPart(false));
    EXPECT_FALSE(withS->MissingPart(true));
    EXPECT_EQ(withS->PageForm(), "http://{s}.t.example/{z}/{x}/{-y}.png");
}

} // namespace
} // namespace quiltara
