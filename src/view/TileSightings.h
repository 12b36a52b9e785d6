#pragma once

#include <chrono>
#include <optional>

namespace quiltara {

// Whether the mouse, moving over a page of the map service, finds tile
// images the probe can read. A site that draws its map some other way (on a
// canvas, say) leaves the readout silent; after kPatience of moves over the
// page without one readable tile, it is time to say so, once per page.
class TileSightings {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kPatience{4};

    // A new page: watched only when it is the map service's (the program's
    // own pages say on the map why their tiles stay away).
    void PageLoaded(bool watched);

    // A mouse move over the page, and whether a readable tile lay under it.
    // True once per page: the moment the page has had kPatience of moves
    // and no readable tile.
    bool Moved(Clock::time_point now, bool readableTile);

private:
    bool watched_ = false;
    bool seen_ = false; // a readable tile, or the page already told of
    std::optional<Clock::time_point> firstMove_;
};

} // namespace quiltara
