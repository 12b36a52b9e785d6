#include "sources/SourcePageRequests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quiltara {
namespace {

using testing::HasSubstr;

TileSource KeyedSource() {
    std::string error;
    std::optional<TileSource> source = ReadTileSource(
        R"({"id": "keyed", "name": "Keyed", "subdomains": "ab", "minZoom": 3, "maxZoom": 15,
            "layers": {"map": {"template": "https://{s}.tiles.example/{z}/{x}/{y}.png?k=1",
                               "name": "Streets"}},
            "headers": ["Referer: https://me.example/"]})",
        error);
    EXPECT_TRUE(source) << error;
    source->file = "/home/u/.config/Quiltara/sources/keyed.json";
    return *source;
}

TEST(PageRequestHeaders, OnlyTheSourcesHostsGetItsLines) {
    const TileSource source = KeyedSource();
    const auto lines = PageRequestHeaders(source, "https://B.tiles.example:8443/4/1/2.png?k=1");
    EXPECT_THAT(lines, testing::Contains(
                           std::pair<std::string, std::string>("Referer", "https://me.example/")));
    EXPECT_EQ(lines.size(), source.RequestHeaders().size());
    for (const char* other : {"https://c.tiles.example/4/1/2.png", "https://tiles.example/x",
                              "https://evil.example/?https://a.tiles.example/",
                              "https://a.tiles.example.evil.example/4/1/2.png"}) {
        EXPECT_TRUE(PageRequestHeaders(source, other).empty()) << other;
    }
}

struct ProblemCase {
    const char* name;
    TileCheck check;
    std::vector<const char*> says;
};

const ProblemCase kProblems[] = {
    {"forbidden", {403, "", false, true}, {"answers 403 (Forbidden)", "key", "\"headers\""}},
    {"missing",
     {404, "", false, true},
     {"answers 404 (Not Found) at zoom 4", "\"minZoom\" 3, \"maxZoom\" 15", "keyed.json"}},
    {"busy", {429, "", false, false}, {"429 (Too Many Requests)", "\"rate\""}},
    {"error_page", {200, "", false, true}, {"answers 200, but with a web page", "template"}},
    {"no_answer",
     {0, "Connection refused", false, false},
     {"a.tiles.example does not answer", "Connection refused"}},
};

class TileProblems : public testing::TestWithParam<ProblemCase> {};

TEST_P(TileProblems, NameWhatHappenedAndWhatToCheck) {
    const std::optional<std::string> text =
        TileProblemText(KeyedSource(), "https://a.tiles.example/4/1/2.png?k=1", GetParam().check);
    ASSERT_TRUE(text);
    EXPECT_THAT(*text, HasSubstr("Tiles of 'Streets' do not load: "));
    for (const char* part : GetParam().says) {
        EXPECT_THAT(*text, HasSubstr(part));
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, TileProblems, testing::ValuesIn(kProblems),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TileProblemText, AnAddressOfAnotherServiceIsNotExplained) {
    EXPECT_FALSE(
        TileProblemText(KeyedSource(), "https://other.example/4/1/2.png", {403, "", false, true}));
}

} // namespace
} // namespace quiltara
