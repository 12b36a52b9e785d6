#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "download/TileCache.h"
#include "download/TileFetcher.h"
#include "tiles/TileSources.h"

namespace quiltara {

// How many of a run's tile files the cache would serve without asking a
// server (offline: every entry it has, fresh or not), judged at the address
// the run asks first for each tile: the one its retries start with when the
// server answers. Nothing is fetched and no file is written.
std::size_t CountCachedTiles(const TileCache& cache, const TileRequestStyle& style,
                             std::span<const TileFetchJob> jobs, const std::string& languageCode,
                             RememberedServerNumber remembered);

} // namespace quiltara
