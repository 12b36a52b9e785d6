#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/SettingsStore.h"
#include "sources/SourceCatalogue.h"

namespace quiltara {

// The program's own map page for a catalogue source is served under this URL
// scheme, by the program itself: "quiltara:/map?source=ID", optionally with
// "&lat=..&lon=..&zoom=.." to open at a place.
inline constexpr const char* kSourcePageScheme = "quiltara";

// What an address of the map page asks for.
struct SourcePageRequest {
    std::string sourceId;
    std::optional<MapPosition> position;
};

std::string SourcePageAddress(const std::string& sourceId);
// Whether the address names the program's own map page (any case of the scheme).
bool IsSourcePageAddress(std::string_view address);
// Nothing when the address is not a map page address naming a source.
std::optional<SourcePageRequest> ParseSourcePageAddress(std::string_view address);

// Where the page of a source opens: the position given with the address, else
// where the user last was on it, else where its file says, else the whole world.
MapPosition SourcePageStart(const TileSource& source, const std::optional<MapPosition>& given,
                            SettingsStore& settings);
// Remembers the position the page reports ("quiltara:/remember?source=..&lat=..").
// False when the address is not such a report.
bool RememberSourcePosition(std::string_view address, SettingsStore& settings);

// The text with the characters that mean something in HTML (& < > ") as
// their entities, for a page or a package that takes its texts as HTML.
std::string HtmlEscaped(std::string_view text);

// The page: Leaflet with the source's layers in a switcher, its attribution and
// terms link, whole zoom steps only and tiles at their natural size (no
// retina doubling), so that one screen pixel is one tile pixel for the probe.
std::string SourcePageHtml(const TileSource& source, const MapPosition& start);

// The page asks "quiltara:/tile-problem?source=ID&key=KEY&url=TILE" with a
// script element when a tile of its layer does not load; the answer is this
// script, which shows text over the map for the layer and zoom of key.
inline constexpr const char* kTileProblemPath = "tile-problem";
std::string TileProblemScript(const std::string& key, const std::string& text);

// A small page saying why no map can be shown for the address.
std::string SourcePageErrorHtml(const std::string& message);

} // namespace quiltara
