#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/HttpClient.h"
#include "sources/SourceCatalogue.h"

namespace quiltara {

// The header lines the map page's request for url carries: the same lines a
// download from the source sends, split into name and value, when url goes
// to a host of one of the source's templates (with any of its subdomains);
// none for any other host, which learns nothing of a key or a Referer.
std::vector<std::pair<std::string, std::string>> PageRequestHeaders(const TileSource& source,
                                                                    std::string_view url);

// What one request for a tile of the page, made as a download makes it, got.
struct TileCheck {
    long status = 0;      // 0: no answer at all
    std::string failure;  // why there was none
    bool picture = false; // the body starts as a PNG, JPEG, GIF or WebP file does
    bool webPage = false; // the body is an HTML or XML page
};

// Asks once for url with the source's header lines (the body read no
// further than a tile's size).
TileCheck CheckTileAddress(const TileSource& source, const std::string& url, HttpClient& http);

// The line the page shows over its map when tiles of url do not load: what
// happened (the HTTP status and its name) and what to look at in the source
// file (a key in the template, the header lines, the zoom range, the rate).
// Nothing when url is not an address of one of the source's templates.
std::optional<std::string> TileProblemText(const TileSource& source, const std::string& url,
                                           const TileCheck& check);

} // namespace quiltara
