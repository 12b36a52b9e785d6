#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/HttpClient.h"
#include "sources/SourceCatalogue.h"
#include "sources/WmtsCapabilities.h"

namespace quiltara {

// The largest capabilities document read: the biggest services list
// thousands of layers in a few megabytes.
inline constexpr std::size_t kLargestCapabilities = 64u << 20;

// The text of a capabilities document at location: an http or https
// address (fetched with http, a success status required) or a file.
// Nothing, with the reason in error, when it cannot be had.
std::optional<std::string> ReadCapabilitiesText(const std::string& location, HttpClient& http,
                                                std::string& error);

// Which WMTS layer each of the map layers (Map, Satellite, Terrain, Hybrid)
// is made from (empty: none), and the new source's id (empty: one made from
// the service's title).
struct WmtsChoice {
    std::array<std::string, 4> layers;
    std::string id;
};

// A source of the chosen layers: their templates and zoom names, the zooms
// they share, a start over their common area, the provider as its
// attribution and the provider's site (or location) as its terms. Nothing,
// with the reason in error, when a chosen layer is missing or unusable, or
// the layers share no zoom.
std::optional<TileSource> SourceFromWmts(const WmtsService& service, const WmtsChoice& choice,
                                         const std::string& location, std::string& error);

// An id for a source from a title: its ASCII letters (lower-cased) and
// digits, any run of other characters as one '-' ("Demo WMTS 2" gives
// "demo-wmts-2"); "wmts" when nothing is left.
std::string SourceIdFor(const std::string& title);

// What quiltara-make prints of a service: a line per layer with its id, its
// title and its zooms and tile format, or why it cannot be used.
std::string WmtsListing(const WmtsService& service);

} // namespace quiltara
