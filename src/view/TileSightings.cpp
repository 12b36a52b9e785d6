#include "view/TileSightings.h"

namespace quiltara {

void TileSightings::PageLoaded(bool watched) {
    watched_ = watched;
    seen_ = false;
    firstMove_.reset();
}

bool TileSightings::Moved(Clock::time_point now, bool readableTile) {
    if (!watched_ || seen_) {
        return false;
    }
    if (readableTile) {
        seen_ = true;
        return false;
    }
    if (!firstMove_) {
        firstMove_ = now;
    }
    if (now - *firstMove_ < kPatience) {
        return false;
    }
    seen_ = true;
    return true;
}

} // namespace quiltara
