#include "download/CacheEstimate.h"

#include <ctime>

namespace quiltara {
namespace {

// Stands in for the downloader: notes whether the first address a tile's
// retries try is in the cache, and answers as a server that has the tile,
// so the retries stop there and remember the number as a real run would.
class CacheProbe : public TileUrlFetcher {
public:
    explicit CacheProbe(const TileCache& cache) : cache_(cache) {}

    TileFileResult FetchUrlToFile(const std::filesystem::path& /*tilePath*/,
                                  const std::string& url) override {
        const std::optional<CachedTile> tile = cache_.Find(url);
        found = tile && (cache_.Offline() || tile->FreshAt(now_));
        return true;
    }

    bool found = false;

private:
    const TileCache& cache_;
    std::time_t now_ = std::time(nullptr);
};

} // namespace

std::size_t CountCachedTiles(const TileCache& cache, const TileRequestStyle& style,
                             std::span<const TileFetchJob> jobs, const std::string& languageCode,
                             RememberedServerNumber remembered) {
    CacheProbe probe(cache);
    std::size_t count = 0;
    for (const TileFetchJob& job : jobs) {
        probe.found = false;
        FetchTileOfSource(style, job.sourceUrl, job.column, job.row, job.zoom, job.tilePath,
                          languageCode, remembered, probe);
        count += probe.found ? 1 : 0;
    }
    return count;
}

} // namespace quiltara
