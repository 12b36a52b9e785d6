#include "tiles/TileSources.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace quiltara {
namespace {

TEST(ExpandSourceUrl, MapDefaultForTheFirstAttempt) {
    EXPECT_EQ(ExpandSourceUrl(DefaultSourceTemplate(MapLayer::Map), "0", 5, 7, 3, "", 1),
              "http://mt0.google.com/vt/v=w2.97&hl=en&x=5&y=7&z=3&s=G");
}

TEST(ExpandSourceUrl, ReplacesEveryOccurrenceExactlyAndWithCase) {
    EXPECT_EQ(ExpandSourceUrl("[X]/[X]-[x]-[Y][Z]-[SRVINDEX][SRVINDEX]-[hl][HL]", "3", -2, 40, 6,
                              "DE", 1),
              "-2/-2-[x]-406-33-[hl]DE");
    EXPECT_EQ(ExpandSourceUrl("no placeholders", "1", 1, 2, 3, "fr", 4), "no placeholders");
    EXPECT_EQ(ExpandSourceUrl("s=[SERVER]", "0", 0, 0, 0, "", 6), "s=Galile");
    EXPECT_EQ(ExpandSourceUrl("s=[SERVER]", "0", 0, 0, 0, "", 3), "s=Gal");
}

TEST(ExpandSourceUrl, ReplacesInTheFixedOrderEachOnThePreviousResult) {
    // [HL] comes after [X] and before [SERVER]: a language text holding
    // placeholders sees only the later replacements.
    EXPECT_EQ(ExpandSourceUrl("[HL]", "0", 9, 9, 9, "[X][SERVER]", 2), "[X]Ga");
    // A value holding its own placeholder is not expanded again.
    EXPECT_EQ(ExpandSourceUrl("[SRVINDEX]-[SRVINDEX]", "[SRVINDEX]", 0, 0, 0, "", 1),
              "[SRVINDEX]-[SRVINDEX]");
}

TEST(DefaultSourceTemplate, HostsAndPathsOfTheFourLayers) {
    const std::string map = DefaultSourceTemplate(MapLayer::Map);
    const std::string satellite = DefaultSourceTemplate(MapLayer::Satellite);
    const std::string terrain = DefaultSourceTemplate(MapLayer::Terrain);
    const std::string hybrid = DefaultSourceTemplate(MapLayer::Hybrid);
    auto host = [](const std::string& text) { return text.substr(0, text.find('/', 7)); };
    auto path = [](const std::string& text) { return text.substr(text.find('/', 7)); };
    EXPECT_EQ(host(map), "http://mt[SRVINDEX].google.com");
    EXPECT_EQ(host(terrain), host(map));
    EXPECT_EQ(host(hybrid), host(map));
    EXPECT_EQ(host(satellite), "http://khm[SRVINDEX].google.com");
    EXPECT_EQ(path(map), "/vt/v=w2.97&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]");
    EXPECT_EQ(path(satellite), "/kh/v=50&x=[X]&y=[Y]&z=[Z]&s=[SERVER]");
    EXPECT_EQ(path(terrain), "/vt/v=w2p.115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]");
    EXPECT_EQ(path(hybrid), "/vt/lyrs=h@115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]");
    // The satellite layer has no language: its URLs do not depend on it.
    EXPECT_EQ(ExpandSourceUrl(satellite, "1", 2, 3, 4, "", 1),
              ExpandSourceUrl(satellite, "1", 2, 3, 4, "JA", 1));
}

// Records every URL asked for and answers from a script (false when the
// script has run out).
class ScriptedFetcher : public TileUrlFetcher {
public:
    TileFileResult FetchUrlToFile(const std::filesystem::path& tilePath,
                                  const std::string& url) override {
        paths.push_back(tilePath);
        urls.push_back(url);
        if (answers.empty()) {
            return false;
        }
        const TileFileResult answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<TileFileResult> answers;
    std::vector<std::string> urls;
    std::vector<std::filesystem::path> paths;
};

const std::string kTemplate = "n=[SRVINDEX]&s=[SERVER]&t=[X],[Y],[Z],[HL]";

TEST(FetchTileWithRetries, TriesFourServersWithSixWordsEachInOrder) {
    RememberedServerNumber remembered;
    ScriptedFetcher fetcher;
    EXPECT_FALSE(FetchTileWithRetries(kTemplate, 1, 2, 3, "tile.png", "", remembered, fetcher));
    ASSERT_EQ(fetcher.urls.size(), 24u);
    size_t i = 0;
    for (const char* number : {"0", "1", "2", "3"}) {
        for (const char* word : {"G", "Ga", "Gal", "Gali", "Galil", "Galile"}) {
            EXPECT_EQ(fetcher.urls[i++], std::string("n=") + number + "&s=" + word + "&t=1,2,3,en");
        }
    }
    EXPECT_EQ(fetcher.paths.front(), "tile.png");
    EXPECT_FALSE(remembered.Has()) << "a failed tile remembers nothing";
}

TEST(FetchTileWithRetries, RemembersTheFirstNumberThatWorkedForEveryLaterTile) {
    RememberedServerNumber remembered;
    ScriptedFetcher fetcher;
    fetcher.answers.assign(13, false);
    fetcher.answers.back() = true; // (2, "G") is the 13th attempt
    EXPECT_TRUE(FetchTileWithRetries(kTemplate, 0, 0, 1, "a.png", "de", remembered, fetcher));
    ASSERT_TRUE(remembered.Has());
    EXPECT_EQ(remembered.Text(), "2");
    EXPECT_EQ(fetcher.urls.back(), "n=2&s=G&t=0,0,1,de");

    // Afterwards one request per tile, number 2 and the word "G", success or not.
    fetcher.urls.clear();
    fetcher.answers = {true, false, true};
    EXPECT_TRUE(FetchTileWithRetries(kTemplate, 1, 0, 1, "b.png", "de", remembered, fetcher));
    EXPECT_FALSE(FetchTileWithRetries(kTemplate, 0, 1, 1, "c.png", "de", remembered, fetcher));
    EXPECT_TRUE(FetchTileWithRetries("other [SRVINDEX] [SERVER]", 1, 1, 1, "d.png", "de",
                                     remembered, fetcher));
    EXPECT_EQ(fetcher.urls,
              (std::vector<std::string>{"n=2&s=G&t=1,0,1,de", "n=2&s=G&t=0,1,1,de", "other 2 G"}));
    EXPECT_EQ(remembered.Text(), "2");
}

TEST(FetchTileWithRetries, AKeptFileLeavesTheRememberedNumberAsItWas) {
    RememberedServerNumber remembered;
    ScriptedFetcher fetcher;
    // A kept tile asked no server: with server 0 down, the next tile must
    // still go on to server 1 rather than stick to 0.
    fetcher.answers = {TileFileResult::KeptExisting()};
    EXPECT_TRUE(FetchTileWithRetries(kTemplate, 0, 0, 1, "kept.png", "", remembered, fetcher));
    EXPECT_FALSE(remembered.Has());
    fetcher.answers.assign(7, false);
    fetcher.answers.back() = true; // (1, "G")
    EXPECT_TRUE(FetchTileWithRetries(kTemplate, 1, 0, 1, "next.png", "", remembered, fetcher));
    EXPECT_EQ(remembered.Text(), "1");

    // Once a number is remembered, a kept file leaves it as it is.
    fetcher.answers = {TileFileResult::KeptExisting()};
    EXPECT_TRUE(FetchTileWithRetries(kTemplate, 1, 1, 1, "kept2.png", "", remembered, fetcher));
    EXPECT_EQ(remembered.Text(), "1");
}

TEST(FetchTileWithRetries, AnErrorThatEndsTheRunIsNotRetried) {
    struct ThrowingFetcher : TileUrlFetcher {
        int calls = 0;
        TileFileResult FetchUrlToFile(const std::filesystem::path&, const std::string&) override {
            ++calls;
            throw std::runtime_error("no connection");
        }
    };
    RememberedServerNumber remembered;
    ThrowingFetcher fetcher;
    EXPECT_THROW(FetchTileWithRetries(kTemplate, 0, 0, 0, "t.png", "", remembered, fetcher),
                 std::runtime_error);
    EXPECT_EQ(fetcher.calls, 1);
    EXPECT_FALSE(remembered.Has());
}

TEST(FetchTileOfSource, ACatalogueSourceAsksEachTileOnceSpreadOverItsSubdomains) {
    const TileRequestStyle style{true, {"a", "b", "c"}, {}, "T", 0.0, {}};
    const std::string spread = "http://{s}.t.example/{z}/{x}/{-y}.png?hl=[HL]";
    RememberedServerNumber remembered;
    ScriptedFetcher fetcher;
    // Before anything has worked, a failing tile is asked once from each subdomain.
    EXPECT_FALSE(FetchTileOfSource(style, spread, 1, 1, 2, "a.png", "", remembered, fetcher));
    EXPECT_EQ(fetcher.urls, (std::vector<std::string>{"http://c.t.example/2/1/2.png?hl=en",
                                                      "http://a.t.example/2/1/2.png?hl=en",
                                                      "http://b.t.example/2/1/2.png?hl=en"}));
    EXPECT_FALSE(remembered.Has());
    fetcher.urls.clear();
    fetcher.answers = {true};
    EXPECT_TRUE(FetchTileOfSource(style, spread, 2, 1, 2, "b.png", "fr", remembered, fetcher));
    EXPECT_EQ(fetcher.urls, (std::vector<std::string>{"http://a.t.example/2/2/2.png?hl=fr"}));
    EXPECT_TRUE(remembered.Has());
    // Once tiles come, a missing one costs its server one request.
    fetcher.urls.clear();
    EXPECT_FALSE(FetchTileOfSource(style, spread, 3, 1, 2, "c.png", "", remembered, fetcher));
    EXPECT_EQ(fetcher.urls.size(), 1u);

    // Without {s}, the same address is never asked twice; the map service's
    // own style keeps its 24 attempts.
    RememberedServerNumber fresh;
    fetcher.urls.clear();
    EXPECT_FALSE(FetchTileOfSource(style, "http://t.example/{z}/{x}/{y}.png", 0, 0, 0, "d.png", "",
                                   fresh, fetcher));
    EXPECT_EQ(fetcher.urls.size(), 1u);
    fetcher.urls.clear();
    EXPECT_FALSE(FetchTileOfSource({}, kTemplate, 0, 0, 0, "e.png", "", fresh, fetcher));
    EXPECT_EQ(fetcher.urls.size(), 24u);
    // A template that cannot be read sends nothing at all.
    fetcher.urls.clear();
    EXPECT_FALSE(FetchTileOfSource(style, "http://t.example/{zoom}/{x}/{y}", 0, 0, 0, "f.png", "",
                                   fresh, fetcher));
    EXPECT_TRUE(fetcher.urls.empty());
}

} // namespace
} // namespace quiltara
