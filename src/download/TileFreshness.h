#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/HttpClient.h"

namespace quiltara {

// How long a tile stays fresh when its server says nothing about it: tiles
// change seldom, and a run over an area fetched last week should not ask
// again for every tile.
inline constexpr std::int64_t kDefaultTileLifetimeSeconds = 7 * 24 * 60 * 60;

// What an answer says about keeping its tile: whether it may be stored at
// all, and for how long it may then be used without asking the server.
struct TileFreshness {
    bool store = true; // false: Cache-Control no-store
    // Seconds from now; 0 when every use must be revalidated (no-cache, an
    // Expires in the past or unreadable, max-age=0).
    std::int64_t lifetimeSeconds = kDefaultTileLifetimeSeconds;
    bool stated = false; // the answer said something about its freshness
};

// Reads Cache-Control (no-store, no-cache, max-age, which wins over
// Expires), Expires and Date (Expires counts from the server's Date when it
// gives one, from now otherwise). now: the time the answer arrived.
TileFreshness FreshnessOf(const HttpResult& answer, std::time_t now);

// A 304 answer refreshes the entry: with the answer's own freshness when it
// states one, with the lifetime the entry had otherwise.
TileFreshness RefreshedFreshness(const HttpResult& notModified, std::int64_t storedLifetime,
                                 std::time_t now);

// Reads an HTTP date (the IMF fixdate "Sun, 06 Nov 1994 08:49:37 GMT", the
// obsolete RFC 850 and asctime forms); nothing when it is none of them.
std::optional<std::time_t> ParseHttpDate(std::string_view text);

} // namespace quiltara
