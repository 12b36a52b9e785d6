#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quiltara {

// Where a tile address points on the tile grid.
struct TileMatch {
    int column = -1;
    int row = -1;
    int zoom = -1;

    bool operator==(const TileMatch&) const = default;
};

// A tile URL template of any tile service. It takes the map service's
// bracketed placeholders ([SRVINDEX], [X], [Y], [Z], [HL], [SERVER]) and the
// braced ones tile services document: {x}, {y}, {z}, {s} (a subdomain) and
// {-y} (the row counted from the bottom of the grid, as TMS services count).
// Any other name in braces is refused, so a typing error in a source file is
// reported rather than sent to a server on every request.
class TileTemplate {
public:
    // Nothing, with the reason in error, when the text cannot be a template.
    static std::optional<TileTemplate> Parse(std::string_view text, std::string& error);

    const std::string& Text() const { return text_; }

    // What a source's template needs besides parsing: column, row (either
    // form) and zoom, so that every tile gets its own address, and
    // subdomains when it has {s}. Nothing when it has all it needs.
    std::optional<std::string> MissingPart(bool hasSubdomains) const;

    // The address of one tile. [SRVINDEX] and [SERVER] take the first
    // server ("0" and "G"), [HL] the language code ("en" while it is empty).
    std::string Expand(int column, int row, int zoom, std::string_view subdomain,
                       std::string_view languageCode = {}) const;

    // Reads column, row and zoom back out of a tile address made from this
    // template; nothing when the address is not one of its tiles. Letters
    // compare without case (browsers lower-case host names); {s} matches one
    // of subdomains, or any host label when there are none.
    std::optional<TileMatch> Match(std::string_view url,
                                   const std::vector<std::string>& subdomains) const;

    // The template in the placeholder syntax of the map page's tile layer:
    // {x} {y} {z} {-y} {s} {hl}; the server placeholders as in Expand. With
    // zoom names the zoom is {zn}, which the page fills from ZoomNames().
    std::string PageForm() const;

    // Services that name their zoom levels ("EPSG:3857:5", "05") rather
    // than number them: names[z] stands for zoom z wherever {z} stands, in
    // the addresses made and in those read back; a zoom without a name (an
    // empty entry, or beyond the list) is its number.
    void SetZoomNames(std::vector<std::string> names) { zoomNames_ = std::move(names); }
    const std::vector<std::string>& ZoomNames() const { return zoomNames_; }
    // What {z} becomes at zoom.
    std::string ZoomText(int zoom) const;

private:
    enum class Kind {
        Literal,
        Column,
        Row,
        RowFromBottom,
        Zoom,
        Subdomain,
        ServerIndex,
        Language,
        ServerWord
    };
    struct Piece {
        Kind kind = Kind::Literal;
        std::string literal;
    };
    struct MatchState;

    bool Has(Kind kind) const;
    bool MatchFrom(std::size_t piece, std::string_view url, std::size_t at,
                   const std::vector<std::string>& subdomains, MatchState& state) const;

    bool NamedZoom(int zoom) const;
    bool MatchZoomName(std::size_t piece, std::string_view url, std::size_t at,
                       const std::vector<std::string>& subdomains, MatchState& state) const;

    std::string text_;
    std::vector<Piece> pieces_;
    std::vector<std::string> zoomNames_;
};

} // namespace quiltara
