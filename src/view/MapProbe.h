#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/PageDocument.h"
#include "tiles/TileGrid.h"
#include "view/PanelValues.h"

namespace quiltara {

class Prompts;
struct TileSource;

// Tile column and row under a point; -1 where no tile lies.
struct TileIndex {
    int column = -1;
    int row = -1;

    bool operator==(const TileIndex&) const = default;
};

// Where a scan stopped: the coordinate along its axis, and whether it stopped
// because no tile was there (rather than on a neighbouring tile).
struct TileEdge {
    int edge = 0;
    bool failed = false;

    bool operator==(const TileEdge&) const = default;
};

extern const char* const kProbeWiderMessage;
extern const char* const kProbeHigherMessage;

// Overwrites value with the integer after the first "NAME=" anywhere in the
// URL (names and URL compared in upper case); keeps it when the name is absent.
void GetUrlParamInt(std::string_view url, std::string_view name, int& value);

// Overwrites value with the upper-cased text after the first "NAME=" up to the
// next "&"; keeps it when the name is absent or no "&" follows.
void GetUrlParamText(std::string_view url, std::string_view name, std::string& value);

// The tile an element stands for: an image (any case of "img") whose src
// carries x and y, or, when that finds neither, whose src is the address of a
// tile of the source on show (if any). Without a control panel nothing counts
// as a tile.
TileIndex TileOfElement(const std::optional<PageElement>& element, bool panelExists,
                        const TileSource* source = nullptr);

// The location readout for the element under the client point (x, y): the
// panel's values as the readout leaves them, or nothing when the element is
// not an image and the panel keeps what it shows.
std::optional<PanelValues> ReadLocation(const std::optional<PageElement>& element, int x, int y,
                                        const PanelValues& current,
                                        const TileSource* source = nullptr);

// Finds which tile, and which pixel of it, lies under a point of the page by
// asking the page what is there. Points are the view's client pixels; the
// view's size tells how far a scan may run before it leaves the page.
class MapProbe {
public:
    // page may be none (no page loaded yet): then no tile is ever found.
    // source: the catalogue source on show, whose tile addresses are read
    // when they carry no x and y parameters; none for the map service.
    MapProbe(PageDocument* page, bool panelExists, int viewWidth, int viewHeight,
             const TileSource* source = nullptr);

    TileIndex GetTileAt(int x, int y) const;

    // Steps one pixel at a time from (x, y) along the axis ("x" horizontal,
    // anything else vertical) in the direction of step until the step lands
    // where no tile is (failed) or on another tile along that axis. The page
    // is asked for the whole run to the view's edge at once.
    TileEdge ScanToTileEdge(int x, int y, std::string_view axis, int step) const;

    // The fractional tile position of the point; (-1, -1) when none is found.
    // When a neighbouring tile cannot be reached on either side of an axis,
    // prompts (if any) shows the wider or higher message.
    CTilePoint GetTilePosition(int x, int y, Prompts* prompts) const;

    // The selection from the top-left and bottom-right corners.
    CTileRect GetTileRect(int x1, int y1, int x2, int y2, Prompts* prompts) const;

private:
    PageDocument* page_;
    bool panelExists_;
    int viewWidth_;
    int viewHeight_;
    const TileSource* source_;
};

} // namespace quiltara
