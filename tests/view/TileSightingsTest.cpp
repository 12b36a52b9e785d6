#include "view/TileSightings.h"

#include <gtest/gtest.h>

namespace quiltara {
namespace {

using Clock = TileSightings::Clock;
constexpr auto kSecond = std::chrono::seconds(1);

TEST(TileSightings, AMapServicePageWithoutReadableTilesIsToldOfOnceAfterAWhile) {
    TileSightings sightings;
    const Clock::time_point start{};
    sightings.PageLoaded(true);
    EXPECT_FALSE(sightings.Moved(start, false));
    EXPECT_FALSE(sightings.Moved(start + 3 * kSecond, false));
    EXPECT_TRUE(sightings.Moved(start + 4 * kSecond, false));
    EXPECT_FALSE(sightings.Moved(start + 9 * kSecond, false)); // once per page

    // One readable tile settles the page; the program's own pages are not watched.
    sightings.PageLoaded(true);
    EXPECT_FALSE(sightings.Moved(start, true));
    EXPECT_FALSE(sightings.Moved(start + 9 * kSecond, false));
    sightings.PageLoaded(false);
    EXPECT_FALSE(sightings.Moved(start, false));
    EXPECT_FALSE(sightings.Moved(start + 9 * kSecond, false));
}

} // namespace
} // namespace quiltara
