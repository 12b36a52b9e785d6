#include "sources/SourceCatalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>

#include "TestPaths.h"

namespace quiltara {
namespace {

using testing::HasSubstr;

void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string Source(const std::string& id, const std::string& name, const std::string& extra = "") {
    return R"({"id": ")" + id + R"(", "name": ")" + name +
           R"(", "layers": {"satellite": "https://img.example/{z}/{y}/{x}.jpg",
              "map": {"template": "https://{s}.example/{z}/{x}/{y}.png", "name": "Streets"}},
              "subdomains": ["a", "b"])" +
           extra + "}";
}

TEST(SourceCatalogue, ReadsGoodFilesSkipsBadOnesAndLetsTheUserWin) {
    const test::TempDir shipped;
    const test::TempDir user;
    Write(shipped / "streets.json",
          Source(
              "streets", "Shipped streets",
              R"(, "connections": 3, "tileLimit": 1000, "headers": ["Referer: https://me.example/"],
                    "attribution": "(c) Example", "terms": "https://example/terms",
                    "minZoom": 2, "maxZoom": 17, "start": {"lat": 48.1, "lon": 11.5, "zoom": 9})"));
    Write(shipped / "other.json", Source("other", "Other"));
    Write(shipped / "notes.txt", "not a source");
    Write(user / "mine.json", Source("streets", "My streets"));
    Write(user / "broken.json", R"({"id": "broken", "name": )");
    Write(
        user / "typo.json",
        R"({"id": "typo", "name": "Typo", "layers": {"map": "https://t.example/{z}/{x}/{y}.png?k={key}"}})");
    Write(user / "nolayer.json", R"({"id": "nolayer", "name": "No layers", "layers": {}})");

    const SourceCatalogue catalogue =
        LoadSourceCatalogue({shipped.Path(), user.Path(), "/nonexistent"});
    ASSERT_EQ(catalogue.sources.size(), 2u);
    const TileSource* streets = catalogue.Find("streets");
    ASSERT_NE(streets, nullptr);
    EXPECT_EQ(streets->name, "My streets"); // the user's file replaced the shipped one whole
    EXPECT_EQ(streets->connections, 2);
    EXPECT_FALSE(streets->tileLimit);
    EXPECT_EQ(streets->LayerList(), "map, satellite");
    EXPECT_EQ(streets->Layer(MapLayer::Map)->name, "Streets");
    EXPECT_EQ(streets->Layer(MapLayer::Satellite)->name, "Satellite");
    EXPECT_EQ(streets->Layer(MapLayer::Terrain), nullptr);
    EXPECT_NE(catalogue.Find("other"), nullptr);

    ASSERT_EQ(catalogue.problems.size(), 3u);
    std::vector<std::string> texts;
    for (const CatalogueProblem& problem : catalogue.problems) {
        texts.push_back(problem.Text());
    }
    EXPECT_THAT(texts[0], AllOf(HasSubstr("broken.json: "), HasSubstr("not valid JSON")));
    EXPECT_THAT(texts[1], AllOf(HasSubstr("nolayer.json: "), HasSubstr("\"layers\"")));
    EXPECT_THAT(texts[2], AllOf(HasSubstr("typo.json: "), HasSubstr("{key}")));

    const SourceCatalogue shippedOnly = LoadSourceCatalogue({shipped.Path()});
    const TileSource& full = *shippedOnly.Find("streets");
    EXPECT_EQ(full.connections, 3);
    EXPECT_EQ(full.tileLimit, 1000);
    EXPECT_EQ(full.minZoom, 2);
    ASSERT_TRUE(full.start);
    EXPECT_EQ(full.start->zoom, 9);
    EXPECT_EQ(full.RequestHeaders(),
              (std::vector<std::string>{"Accept: image/png, image/jpeg, image/gif, image/webp",
                                        "User-Agent: " + QuiltaraUserAgent(),
                                        "Referer: https://me.example/"}));
    EXPECT_THAT(QuiltaraUserAgent(), testing::MatchesRegex("Quiltara/[0-9]+\\.[0-9]+\\.[0-9]+"));
    EXPECT_FALSE(TileLimitQuestion(full, 1000));
    EXPECT_THAT(TileLimitQuestion(full, 1001).value_or(""),
                AllOf(HasSubstr("1001 tiles"), HasSubstr("at most 1000")));
}

TEST(SourceCatalogue, RefusesFieldsThatWouldMisleadARun) {
    const char* bad[] = {
        R"({"id": "Upper", "name": "n", "layers": {"map": "https://t/{z}/{x}/{y}"}})",
        R"({"id": "a", "name": "n", "layers": {"roads": "https://t/{z}/{x}/{y}"}})",
        R"({"id": "a", "name": "n", "layers": {"map": "https://{s}.t/{z}/{x}/{y}"}})",
        R"({"id": "a", "name": "n", "layers": {"map": "https://t/{z}/{x}"}})",
        R"({"id": "a", "name": "n", "layers": {"map": "file:///t/{z}/{x}/{y}"}})",
        R"({"id": "a", "name": "n", "layers": {"map": "https://t/{z}/{x}/{y}"}, "connections": 0})",
        R"({"id": "a", "name": "n", "layers": {"map": "https://t/{z}/{x}/{y}"}, "headers": ["X: 1\r\nHost: evil"]})",
        R"({"id": "a", "name": "n", "layers": {"map": "https://t/{z}/{x}/{y}"}, "minZoom": 9, "maxZoom": 3})",
        R"([1, 2])",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(ReadTileSource(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    // Lines that frame the request are libcurl's to write, and "Name:" would
    // take a header away: each refusal names its line.
    for (const char* line :
         {"Host: evil.example", "content-length: 5", "Transfer-Encoding: chunked",
          "Connection: close", "User-Agent:", "X-Key:   "}) {
        std::string error;
        const std::string text = Source(
            "h", "n",
            std::string(R"(, "headers": ["Referer: https://me.example/", ")") + line + "\"]");
        EXPECT_FALSE(ReadTileSource(text, error)) << line;
        EXPECT_THAT(error, HasSubstr(std::string("\"") + line + "\"")) << line;
    }
}

// Whatever lies in a sources folder, each file that is no usable source is
// named with its reason and left out, quickly and without taking the
// program's memory or stack, and the good source beside it is read.
TEST(SourceCatalogue, HostileFilesAreNamedAndSkippedAndTheGoodOneIsRead) {
    const test::TempDir user;
    Write(user / "good.json", Source("good", "Good"));
    const std::string deep(100000, '[');
    struct Case {
        const char* file;
        std::function<void(const std::filesystem::path&)> make;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"deep.json",
         [&](const auto& path) {
             Write(path, Source("deep", "Deep",
                                ", \"headers\": " + deep + std::string(deep.size(), ']')));
         },
         "nested more than 16 levels deep"},
        {"fifo.json", [](const auto& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
         "is not a regular file"},
        {"zero.json", [](const auto& path) { std::filesystem::create_symlink("/dev/zero", path); },
         "is not a regular file"},
        {"folder.json", [](const auto& path) { std::filesystem::create_directory(path); },
         "is not a regular file"},
        {"huge.json",
         [](const auto& path) {
             std::string array = "[";
             for (int i = 0; i < 600000; ++i) {
                 array += "0,";
             }
             Write(path, array + "0]");
         },
         "is larger than 1024 KiB"},
        {"subdomains.json",
         [](const auto& path) {
             std::string many;
             for (int i = 0; i < 65; ++i) {
                 many += (i == 0 ? "\"s" : ", \"s") + std::to_string(i) + "\"";
             }
             Write(path, R"({"id": "many", "name": "Many", "subdomains": [)" + many +
                             R"(], "layers": {"map": "https://{s}.t.example/{z}/{x}/{y}.png"}})");
         },
         "lists 65, more than the 64"},
        {"same-id.json", [](const auto& path) { Write(path, Source("good", "Second good")); },
         "has the id \"good\" of good.json in the same folder"},
        // A name that would forge a line of its own where problems are listed.
        {"x.json\nquiltara-make: not read: y.json", [](const auto& path) { Write(path, "{"); },
         "not valid JSON"},
    };
    for (const Case& c : cases) {
        c.make(user / c.file);
    }

    const SourceCatalogue catalogue = LoadSourceCatalogue({user.Path()});
    ASSERT_EQ(catalogue.sources.size(), 1u);
    EXPECT_EQ(catalogue.sources[0].name, "Good");
    std::map<std::string, std::string> problems;
    for (const CatalogueProblem& problem : catalogue.problems) {
        problems[problem.file.filename().string()] = problem.Text();
    }
    EXPECT_EQ(problems.size(), cases.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(problems.count(c.file), 1u);
        const std::string& text = problems.at(c.file);
        EXPECT_THAT(text, HasSubstr(c.reason));
        EXPECT_EQ(text.find('\n'), std::string::npos) << "one problem, one line";
    }
    EXPECT_THAT(problems.at("x.json\nquiltara-make: not read: y.json"),
                HasSubstr("x.json\\nquiltara-make"));
}

TEST(SourceCatalogue, TheShippedCatalogueHoldsTheOfflineDemo) {
    const SourceCatalogue catalogue = LoadSourceCatalogue(SourceFolders());
    const TileSource* demo = catalogue.Find("offline-demo");
    ASSERT_NE(demo, nullptr);
    EXPECT_THAT(demo->name, HasSubstr("Offline demo"));
    EXPECT_EQ(demo->LayerList(), "map, satellite, terrain, hybrid");
}

} // namespace
} // namespace quiltara
