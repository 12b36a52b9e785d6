#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tiles/TileGrid.h"

namespace quiltara {

struct SelectionState;
struct TileSource;

inline constexpr const char* kCustomZoomPrompt =
    "Please input the new maximum zoom level.  Be aware that, if the images do not exist within "
    "google, errors will be received when you download your images.";
inline constexpr const char* kBadCustomZoomMessage =
    "Sorry, I couldn't interpret the number you input.  Please input a number between 1 and 50.";
inline constexpr const char* kDrawSelectionHint =
    "Please draw a selection around the area on the google map";
inline constexpr const char* kSelectionMadeHint = "Your selection is made, choose the zoom level";
inline constexpr const char* kNewLocationHint = "Choose your new location";
inline constexpr const char* kSelectAreaText = "2. Select Area";
inline constexpr const char* kDoneText = "3. Done";
inline constexpr const char* kNoReadableTilesText =
    "No map tiles that Quiltara can read on this page: the site draws its map in a way the "
    "position probe cannot see. Choose one of the tile sources listed after the sites in "
    "\"1. Goto Google maps...\".";
inline constexpr const char* kNoReadableTilesHint = "Try a tile source: \"1. Goto Google maps...\"";
inline constexpr const char* kTileSourceAddedHint =
    "Tile source added: choose it in \"1. Goto Google maps...\"";
inline constexpr const char* kChooseZoomMessage =
    "Choose the zoom of the map image in the zoom list first.";

// The panel's buttons and list, each of which may be disabled.
enum class PanelControl { GotoSite, SelectArea, NewLocation, ZoomList, CreateMap, DrawHelper };

// The five count and span texts of the selection details.
struct PanelCounts {
    std::string xImages = "Unknown";   // control 1004
    std::string yImages = "Unknown";   // control 1007
    std::string totImages = "Unknown"; // control 1008
    std::string longText = "Unknown";  // control 1022
    std::string latText = "Unknown";   // control 1020

    bool operator==(const PanelCounts&) const = default;
};

// What the "Toolbar" panel holds and the rules that move it: the steps from
// opening a site to a map run, the selection and page zoom, the zoom list and
// its custom entry, the tile list and range with their texts, and which
// control is enabled, shown or the default. The widget shows it and asks the
// user; nothing here draws or waits.
class ControlPanelState {
public:
    enum class ZoomStep { Shown, AskCustom };
    enum class CustomZoom { Unchanged, Refused, Rebuilt };

    ControlPanelState();

    // A map site was opened through "1. Goto Google maps...".
    void SiteOpened();
    // "1. Goto Google maps..." is offered again, with hint, while the page
    // stays usable: the page showed no tile the probe can read, or a tile
    // source was added. Opening a site takes it away again.
    void OfferSiteChooser(std::string hint);
    // "2. Select Area", or "3. Done" while it reads so. overlay: the selection
    // overlay's flags (none without a map view). Whether a selection was armed.
    bool ToggleSelectArea(SelectionState* overlay);
    // "New Location": the map is unlocked, the selection stays.
    void NewLocation(SelectionState* overlay);
    // The end of a drag. measured: the selection at the page zoom, none
    // without a map view (the earlier selection stays); zoomText: the Zoom
    // text the page zoom is read from; origin: the selection's top-left
    // corner in view pixels.
    void SelectionDone(const std::optional<CTileRect>& measured, int originX, int originY,
                       const std::string& zoomText);

    // An entry of the zoom list chosen (-1: none). Without a map view no
    // range is computed.
    ZoomStep ChooseZoom(int position, bool mapView);
    // The custom entry's answer: none when the number input was cancelled.
    CustomZoom EnterCustomZoom(const std::optional<std::string>& entered);

    // Why "4. Create Map Image" cannot run now: none when it can, an empty
    // text when it quietly does nothing (no selection made yet). shown: the
    // catalogue source on show, whose deepest zoom bounds the output zoom.
    std::optional<std::string> CreateMapRefusal(const TileSource* shown = nullptr) const;
    // The zoom of the chosen entry (0 when none is chosen).
    int OutputZoom() const;

    void SetRunning(bool running) { running_ = running; }
    bool Running() const { return running_; }

    bool Enabled(PanelControl control) const;
    // The button Enter presses: the next step the user would take.
    PanelControl DefaultButton() const;
    bool GotoSiteShown() const { return !siteOpen_ || chooserOffered_; }
    bool DetailsShown() const { return detailsShown_; }
    const std::string& SelectAreaText() const { return selectAreaText_; }
    const std::string& Hint() const { return hint_; }
    // The selection's column and row spans, for the X and Y texts.
    std::string SelectionXText() const;
    std::string SelectionYText() const;
    const std::vector<std::string>& ZoomEntries() const { return zoomEntries_; }
    int ZoomIndex() const { return zoomIndex_; }
    const PanelCounts& Counts() const { return counts_; }

    bool Selecting() const { return selecting_; }
    const CTileRect& Selection() const { return selection_; }
    int PageZoom() const { return pageZoom_; }
    const std::vector<CTileCell>& TileList() const { return tiles_; }
    const TileRange& Range() const { return range_; }

private:
    void ApplyRange(const RangeUpdate& update);
    // No entry stands for a zoom: nothing may be fetched, nothing counted.
    void ForgetRange();

    bool siteOpen_ = false;
    bool chooserOffered_ = false;
    bool selecting_ = false;
    bool selectionStands_ = false; // a drag ended and the map is still locked on it
    bool newLocationEnabled_ = false;
    bool detailsShown_ = false;
    bool running_ = false;
    std::string selectAreaText_ = kSelectAreaText;
    std::string hint_;

    CTileRect selection_;
    int originX_ = 0;
    int originY_ = 0;
    int pageZoom_ = -1;

    std::vector<std::string> zoomEntries_;
    int zoomIndex_ = 0;
    int chosenZoomIndex_ = 0; // the entry to go back to when the custom entry changes nothing
    std::vector<CTileCell> tiles_;
    TileRange range_;
    PanelCounts counts_;
};

} // namespace quiltara
