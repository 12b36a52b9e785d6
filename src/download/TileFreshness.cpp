#include "download/TileFreshness.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

namespace quiltara {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

struct Directives {
    bool noStore = false;
    bool noCache = false;
    std::optional<std::int64_t> maxAge;
};

// Cache-Control's comma-separated directives; the ones a private cache of
// images has no use for (public, private, must-revalidate, s-maxage...) are
// passed over.
Directives ReadCacheControl(const std::string& field) {
    Directives directives;
    std::string_view rest = field;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string directive = Lower(Trimmed(rest.substr(0, comma)));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (directive == "no-store") {
            directives.noStore = true;
        } else if (directive == "no-cache" || directive.starts_with("no-cache=")) {
            directives.noCache = true;
        } else if (directive.starts_with("max-age=")) {
            std::string_view number = std::string_view(directive).substr(8);
            if (number.size() >= 2 && number.front() == '"' && number.back() == '"') {
                number = number.substr(1, number.size() - 2);
            }
            std::int64_t seconds = 0;
            const auto [end, error] =
                std::from_chars(number.data(), number.data() + number.size(), seconds);
            if (error == std::errc() && end == number.data() + number.size() && seconds >= 0) {
                directives.maxAge = seconds;
            } else if (error == std::errc::result_out_of_range) {
                directives.maxAge = kDefaultTileLifetimeSeconds * 1000; // "for ever"
            } else {
                directives.maxAge = 0; // unreadable: as good as stale
            }
        }
    }
    return directives;
}

} // namespace

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
    const std::string date(Trimmed(text));
    for (const char* format :
         {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %e %H:%M:%S %Y"}) {
        std::tm parts{};
        const char* end = ::strptime(date.c_str(), format, &parts);
        if (end != nullptr && *end == '\0') {
            return ::timegm(&parts);
        }
    }
    return std::nullopt;
}

TileFreshness FreshnessOf(const HttpResult& answer, std::time_t now) {
    TileFreshness freshness;
    const std::string control = answer.Header("Cache-Control");
    const Directives directives = ReadCacheControl(control);
    const std::string expires = answer.Header("Expires");
    freshness.store = !directives.noStore;
    freshness.stated = directives.noStore || directives.noCache || directives.maxAge.has_value() ||
                       !expires.empty();
    if (directives.noCache) {
        freshness.lifetimeSeconds = 0;
    } else if (directives.maxAge) {
        freshness.lifetimeSeconds = *directives.maxAge;
    } else if (!expires.empty()) {
        const std::optional<std::time_t> until = ParseHttpDate(expires);
        const std::optional<std::time_t> sent = ParseHttpDate(answer.Header("Date"));
        // Counted from the server's own clock, so a client whose clock is off
        // keeps the tile as long as the server meant.
        freshness.lifetimeSeconds =
            until ? std::max<std::int64_t>(0, *until - sent.value_or(now)) : 0;
    }
    return freshness;
}

TileFreshness RefreshedFreshness(const HttpResult& notModified, std::int64_t storedLifetime,
                                 std::time_t now) {
    TileFreshness freshness = FreshnessOf(notModified, now);
    if (!freshness.stated) {
        freshness.lifetimeSeconds = storedLifetime;
    }
    return freshness;
}

} // namespace quiltara
