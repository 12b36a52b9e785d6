#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace quiltara {

// How far the downloads of a run have got, with the rate so far and the time
// left at that rate. Times are given by the caller, so a front end decides
// when to look and a test can set the clock.
class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;

    // The downloads of total tiles start now.
    void Start(std::size_t total, Clock::time_point now);
    // done tiles (all layers of each) are finished.
    void SetDone(std::size_t done) { done_ = done; }
    // fromCache tile files (of any layer) came from the tile cache so far.
    void SetFromCache(std::size_t fromCache) { fromCache_ = fromCache; }
    std::size_t FromCache() const { return fromCache_; }
    // The run goes no faster than this many tiles a second (its source's
    // rate); 0: no limit. The time left never counts on more.
    void LimitRate(double tilesPerSecond) { rateLimit_ = tilesPerSecond; }

    std::size_t Done() const { return done_; }
    std::size_t Total() const { return total_; }
    // Tiles per second since the start; nothing before the first tile is done.
    std::optional<double> Rate(Clock::time_point now) const;
    // At that rate; nothing while there is no rate.
    std::optional<std::chrono::seconds> TimeLeft(Clock::time_point now) const;

    // "3.4 tiles/s, 0:32 left"; empty while there is no rate.
    std::string SpeedText(Clock::time_point now) const;
    // "Downloading: 12 of 120 tiles, 3.4 tiles/s, 0:32 left", with ", 9 from
    // the cache" once the tile cache has served any
    std::string DownloadText(Clock::time_point now) const;

private:
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    std::size_t fromCache_ = 0;
    double rateLimit_ = 0.0;
    Clock::time_point start_{};
};

// "0:07", "12:05", "3:02:01"
std::string DurationText(std::chrono::seconds duration);

// "Stitching layer 2 of 3 (satellite)"
std::string StitchText(int layerNumber, int layerCount, const std::string& layerName);

} // namespace quiltara
