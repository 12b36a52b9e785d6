// The tile cache's rules without a server: what an answer's headers allow,
// the size text, and which entries the cap removes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "download/TileCache.h"
#include "download/TileFreshness.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;

constexpr std::time_t kNow = 1700000000; // Tue, 14 Nov 2023 22:13:20 GMT
constexpr const char* kServerDate = "Tue, 14 Nov 2023 20:00:00 GMT"; // the server's clock is behind

HttpResult Answer(long status, std::vector<std::pair<std::string, std::string>> headers) {
    HttpResult answer;
    answer.status = status;
    answer.headers = std::move(headers);
    return answer;
}

struct FreshnessCase {
    const char* name;
    HttpResult answer;
    bool stored;
    std::int64_t lifetime;
};

TEST(TileFreshness, TheAnswersHeadersDecideWhetherAndHowLongATileIsKept) {
    const std::int64_t week = 7 * 24 * 3600;
    const std::vector<FreshnessCase> cases = {
        {"no freshness at all: a week", Answer(200, {{"ETag", "\"a\""}}), true, week},
        {"max-age", Answer(200, {{"Cache-Control", "public, max-age=600"}}), true, 600},
        {"max-age wins over Expires",
         Answer(200, {{"Expires", "Wed, 15 Nov 2023 20:00:00 GMT"},
                      {"cache-control", "max-age=60"},
                      {"Date", kServerDate}}),
         true, 60},
        {"Expires counts from the server's Date",
         Answer(200, {{"Date", kServerDate}, {"Expires", "Tue, 14 Nov 2023 21:00:00 GMT"}}), true,
         3600},
        {"Expires without a Date counts from now",
         Answer(200, {{"Expires", "Tue, 14 Nov 2023 22:23:20 GMT"}}), true, 600},
        {"Expires gone by",
         Answer(200, {{"Date", kServerDate}, {"Expires", "Mon, 13 Nov 2023 20:00:00 GMT"}}), true,
         0},
        {"Expires unreadable means already expired", Answer(200, {{"Expires", "0"}}), true, 0},
        {"no-cache: always revalidated", Answer(200, {{"Cache-Control", "no-cache"}}), true, 0},
        {"max-age unreadable", Answer(200, {{"Cache-Control", "max-age=soon"}}), true, 0},
        {"no-store: never stored",
         Answer(200, {{"Cache-Control", "max-age=600"}, {"Cache-Control", "No-Store"}}), false, 0},
    };
    for (const FreshnessCase& c : cases) {
        const TileFreshness freshness = FreshnessOf(c.answer, kNow);
        EXPECT_EQ(freshness.store, c.stored) << c.name;
        if (c.stored) {
            EXPECT_EQ(freshness.lifetimeSeconds, c.lifetime) << c.name;
        }
    }
}

TEST(TileFreshness, ANotModifiedAnswerKeepsTheStoredLifetimeUnlessItStatesOne) {
    EXPECT_EQ(RefreshedFreshness(Answer(304, {{"ETag", "\"a\""}}), 1234, kNow).lifetimeSeconds,
              1234);
    EXPECT_EQ(RefreshedFreshness(Answer(304, {{"Cache-Control", "max-age=99"}}), 1234, kNow)
                  .lifetimeSeconds,
              99);
    EXPECT_FALSE(
        RefreshedFreshness(Answer(304, {{"Cache-Control", "no-store"}}), 1234, kNow).store);
}

TEST(TileFreshness, HttpDatesOfAllThreeForms) {
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(ParseHttpDate("yesterday"), std::nullopt);
}

TEST(TileCacheSize, MegabytesOrAUnit) {
    const std::vector<std::pair<const char*, std::optional<std::uint64_t>>> cases = {
        {"500", 500 * kMegabyte},
        {"512M", 512 * kMegabyte},
        {"2G", 2048 * kMegabyte},
        {"2gb", 2048 * kMegabyte},
        {"2GiB", 2048 * kMegabyte},
        {"750K", 750 * 1024},
        {"1T", 1024 * 1024 * kMegabyte},
        {"0", 0},
        {"", std::nullopt},
        {"G", std::nullopt},
        {"5Q", std::nullopt},
        {"-1", std::nullopt},
        {"99999999999999999T", std::nullopt},
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(ParseCacheSize(text), bytes) << text;
    }
}

class CacheFolder : public ::testing::Test {
protected:
    // Stores a tile of size bytes for address, as a 200 with no freshness.
    void StoreTile(const std::string& address, std::size_t size) {
        const fs::path body = dir_ / "body";
        std::ofstream(body, std::ios::binary) << std::string(size, 'x');
        cache_.Store(address, body, Answer(200, {{"ETag", "\"" + address + "\""}}));
        fs::remove(body);
    }
    // Makes the entry look last used seconds ago.
    void UsedAgo(const std::string& address, int seconds) {
        const auto entry = cache_.Find(address);
        ASSERT_TRUE(entry);
        fs::last_write_time(entry->entry,
                            fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
    }

    test::TempDir dir_;
    TileCache cache_{dir_ / "tiles", 0};
};

TEST_F(CacheFolder, EntriesKeepTheirAddressValidatorsAndAWholeBody) {
    StoreTile("http://a.localhost/1/2/3.png", 1000);
    const std::optional<CachedTile> tile = cache_.Find("http://a.localhost/1/2/3.png");
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->etag, "\"http://a.localhost/1/2/3.png\"");
    EXPECT_EQ(fs::file_size(tile->body), 1000u);
    EXPECT_TRUE(tile->FreshAt(std::time(nullptr)));
    EXPECT_FALSE(cache_.Find("http://b.localhost/1/2/3.png")); // another source's address
    const TileCache::Usage usage = cache_.Measure();
    EXPECT_EQ(usage.entries, 1u);
    EXPECT_GT(usage.bytes, 1000u);
}

TEST_F(CacheFolder, ANewVersionReplacesTheOldBodyAndNoStoreDropsTheEntry) {
    StoreTile("http://a.localhost/t", 10);
    const fs::path old = cache_.Find("http://a.localhost/t")->body;
    StoreTile("http://a.localhost/t", 20);
    const std::optional<CachedTile> now = cache_.Find("http://a.localhost/t");
    ASSERT_TRUE(now);
    EXPECT_EQ(fs::file_size(now->body), 20u);
    EXPECT_FALSE(fs::exists(old));

    std::ofstream(dir_ / "body") << "y";
    cache_.Store("http://a.localhost/t", dir_ / "body",
                 Answer(200, {{"Cache-Control", "no-store"}}));
    EXPECT_FALSE(cache_.Find("http://a.localhost/t"));
    EXPECT_EQ(cache_.Measure().entries, 0u);
}

TEST_F(CacheFolder, TheCapRemovesTheLeastRecentlyUsedEntriesFirst) {
    for (const char* address : {"http://h/a", "http://h/b", "http://h/c", "http://h/d"}) {
        StoreTile(address, 4000);
    }
    UsedAgo("http://h/a", 400);
    UsedAgo("http://h/b", 300);
    UsedAgo("http://h/c", 200);
    UsedAgo("http://h/d", 100);
    cache_.Touch(*cache_.Find("http://h/a")); // used just now
    const std::uint64_t total = cache_.Measure().bytes;

    const std::uint64_t freed = cache_.Trim(total - 1);
    EXPECT_FALSE(cache_.Find("http://h/b"));
    EXPECT_TRUE(cache_.Find("http://h/a"));
    EXPECT_TRUE(cache_.Find("http://h/c"));
    EXPECT_EQ(cache_.Measure().bytes, total - freed);

    cache_.Trim(9000); // room for two of the three left
    EXPECT_TRUE(cache_.Find("http://h/a"));
    EXPECT_TRUE(cache_.Find("http://h/d"));
    EXPECT_FALSE(cache_.Find("http://h/c"));

    cache_.Clear();
    EXPECT_EQ(cache_.Measure().bytes, 0u);
}

} // namespace
} // namespace quiltara
