#include "sources/SourceFields.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// Zoom levels past this have no tile indices that fit an int.
constexpr int kDeepestNamedZoom = 30;

// What may stand in an address unencoded in place of a zoom: the letters,
// digits and marks of a URL's path segments and query values, less the ones
// that would end either ('/', '?', '&', '#').
bool AddressSafe(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || std::strchr("-._~:@!$'()*+,;=%", c) != nullptr;
    });
}

} // namespace

std::optional<std::vector<std::string>> ReadZoomNames(const nlohmann::json& names,
                                                      std::string& error) {
    if (!names.is_object() || names.empty()) {
        error = "\"zoomNames\" must be {\"ZOOM\": \"NAME\", ...}";
        return std::nullopt;
    }
    std::vector<std::string> byZoom;
    for (const auto& [key, value] : names.items()) {
        int zoom = -1;
        const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), zoom);
        if (ec != std::errc() || end != key.data() + key.size() || zoom < 0 ||
            zoom > kDeepestNamedZoom) {
            error = FormatText("\"zoomNames\" has \"%s\", which is no zoom from 0 to %i",
                               key.c_str(), kDeepestNamedZoom);
            return std::nullopt;
        }
        if (!value.is_string() || !AddressSafe(value.get<std::string>())) {
            error = "\"zoomNames\" gives zoom " + key + " " + value.dump() +
                    ", which cannot stand in an address as it is";
            return std::nullopt;
        }
        if (byZoom.size() <= static_cast<std::size_t>(zoom)) {
            byZoom.resize(static_cast<std::size_t>(zoom) + 1);
        }
        byZoom[static_cast<std::size_t>(zoom)] = value.get<std::string>();
    }
    return byZoom;
}

std::optional<double> ReadRequestRate(const nlohmann::json& rate, std::string& error) {
    if (!rate.is_number() || !std::isfinite(rate.get<double>()) || rate.get<double>() <= 0.0 ||
        rate.get<double>() > kFastestSourceRate) {
        error =
            FormatText("\"rate\" must be the most requests per second, above 0 and at most %.0f",
                       kFastestSourceRate);
        return std::nullopt;
    }
    return rate.get<double>();
}

} // namespace quiltara
