#include "run/ProgressMeter.h"

#include <algorithm>
#include <cmath>

#include "tiles/TextFormat.h"

namespace quiltara {

void ProgressMeter::Start(std::size_t total, Clock::time_point now) {
    total_ = total;
    done_ = 0;
    start_ = now;
}

std::optional<double> ProgressMeter::Rate(Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (done_ == 0 || seconds <= 0.0) {
        return std::nullopt;
    }
    return static_cast<double>(done_) / seconds;
}

std::optional<std::chrono::seconds> ProgressMeter::TimeLeft(Clock::time_point now) const {
    std::optional<double> rate = Rate(now);
    if (!rate) {
        return std::nullopt;
    }
    if (rateLimit_ > 0.0) {
        // The first tiles come before the pace shows.
        rate = std::min(*rate, rateLimit_);
    }
    const std::size_t left = total_ > done_ ? total_ - done_ : 0;
    // Rounded up, so "0:00 left" means nothing is left; a crawl is held at
    // a year rather than overflowing.
    const double seconds = std::min(std::ceil(static_cast<double>(left) / *rate), 3.2e7);
    return std::chrono::seconds(static_cast<long long>(seconds));
}

std::string ProgressMeter::SpeedText(Clock::time_point now) const {
    const std::optional<double> rate = Rate(now);
    if (!rate) {
        return {};
    }
    return FormatText("%.1f tiles/s, ", *rate) + DurationText(*TimeLeft(now)) + " left";
}

std::string ProgressMeter::DownloadText(Clock::time_point now) const {
    const std::string speed = SpeedText(now);
    return FormatText("Downloading: %zu of %zu tiles", done_, total_) +
           (speed.empty() ? "" : ", " + speed) +
           (fromCache_ == 0 ? "" : FormatText(", %zu from the cache", fromCache_));
}

std::string DurationText(std::chrono::seconds duration) {
    const long long total = duration.count() < 0 ? 0 : duration.count();
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long seconds = total % 60;
    if (hours > 0) {
        return FormatText("%lld:%02lld:%02lld", hours, minutes, seconds);
    }
    return FormatText("%lld:%02lld", minutes, seconds);
}

std::string StitchText(int layerNumber, int layerCount, const std::string& layerName) {
    return FormatText("Stitching layer %i of %i (%s)", layerNumber, layerCount, layerName.c_str());
}

} // namespace quiltara
