#include "run/ControlPanelState.h"

#include "sources/SourceCatalogue.h"
#include "tiles/TextFormat.h"
#include "view/SelectionState.h"

namespace quiltara {
namespace {

constexpr const char* kCustomMarker = "custom";

std::vector<std::string> InitialZoomEntries() {
    std::vector<std::string> entries{"(enter zoom)"};
    for (int zoom = 1; zoom <= 19; ++zoom) {
        entries.push_back(std::to_string(zoom));
    }
    entries.emplace_back("(custom)...");
    return entries;
}

} // namespace

ControlPanelState::ControlPanelState() : zoomEntries_(InitialZoomEntries()) {}

void ControlPanelState::SiteOpened() {
    siteOpen_ = true;
    chooserOffered_ = false;
}

void ControlPanelState::OfferSiteChooser(std::string hint) {
    chooserOffered_ = siteOpen_;
    hint_ = std::move(hint);
}

bool ControlPanelState::ToggleSelectArea(SelectionState* overlay) {
    if (!selecting_) {
        selecting_ = true;
        selectionStands_ = false;
        if (overlay != nullptr) {
            overlay->locked = false;
            overlay->inactive = false;
        }
        newLocationEnabled_ = false;
        selectAreaText_ = kDoneText;
        hint_ = kDrawSelectionHint;
        return true;
    }
    // Stopped without a drag: the overlay goes quiet again, so that the next
    // drag pans the map instead of making a selection nobody asked for.
    if (overlay != nullptr) {
        overlay->inactive = true;
        overlay->dragging = false;
    }
    newLocationEnabled_ = true;
    selectAreaText_ = kSelectAreaText;
    selecting_ = false;
    hint_ = kSelectionMadeHint;
    return false;
}

void ControlPanelState::NewLocation(SelectionState* overlay) {
    newLocationEnabled_ = false;
    selectionStands_ = false;
    if (overlay != nullptr) {
        overlay->locked = false;
        overlay->dragging = false;
        overlay->inactive = true;
    }
    hint_ = kNewLocationHint;
}

void ControlPanelState::SelectionDone(const std::optional<CTileRect>& measured, int originX,
                                      int originY, const std::string& zoomText) {
    selectAreaText_ = kSelectAreaText;
    newLocationEnabled_ = true;
    selecting_ = false;
    selectionStands_ = true;
    detailsShown_ = true;
    if (measured) {
        selection_ = *measured;
        originX_ = originX;
        originY_ = originY;
    }
    pageZoom_ = ReadLeadingInt(zoomText);
    hint_ = kSelectionMadeHint;
    ChooseZoom(zoomIndex_, measured.has_value());
}

std::string ControlPanelState::SelectionXText() const {
    return FormatText("%.3f to %.3f", selection_.left, selection_.right);
}

std::string ControlPanelState::SelectionYText() const {
    return FormatText("%.3f to %.3f", selection_.top, selection_.bottom);
}

ControlPanelState::ZoomStep ControlPanelState::ChooseZoom(int position, bool mapView) {
    if (position < 0 || position >= static_cast<int>(zoomEntries_.size())) {
        return ZoomStep::Shown; // a rebuilt list with nothing chosen yet
    }
    zoomIndex_ = position;
    const std::string& text = zoomEntries_[static_cast<size_t>(position)];
    if (text.find(kCustomMarker) != std::string::npos) {
        return ZoomStep::AskCustom;
    }
    chosenZoomIndex_ = position;
    if (position == 0) {
        // The first entry names no zoom (or the shallowest of a custom list
        // that the range rules skip): a tile list left from another entry
        // would be fetched at the wrong zoom.
        ForgetRange();
        return ZoomStep::Shown;
    }
    if (mapView) {
        ApplyRange(
            ComputeRange(selection_, pageZoom_, ZoomChoice{position, text}, originX_, originY_));
    }
    return ZoomStep::Shown;
}

ControlPanelState::CustomZoom ControlPanelState::EnterCustomZoom(
    const std::optional<std::string>& entered) {
    // When the entry changes nothing, the list goes back to the zoom it had,
    // so that "(custom)..." never stands as the output zoom of a run.
    if (!entered) {
        zoomIndex_ = chosenZoomIndex_;
        return CustomZoom::Unchanged;
    }
    const int deepest = ReadLeadingInt(*entered);
    if (deepest < 1 || deepest >= 50) {
        zoomIndex_ = chosenZoomIndex_;
        return CustomZoom::Refused;
    }
    const std::string customText = zoomEntries_[static_cast<size_t>(zoomIndex_)];
    zoomEntries_.clear();
    for (int zoom = 1; zoom <= deepest; ++zoom) {
        zoomEntries_.push_back(std::to_string(zoom));
    }
    zoomEntries_.push_back(customText);
    zoomIndex_ = -1;
    chosenZoomIndex_ = -1;
    ForgetRange();
    return CustomZoom::Rebuilt;
}

void ControlPanelState::ApplyRange(const RangeUpdate& update) {
    if (!update.changesAnything) {
        return;
    }
    if (update.replacesTileList) {
        tiles_ = update.tiles;
    }
    if (update.range) {
        range_ = *update.range;
    }
    const auto take = [](std::string& shown, const std::optional<std::string>& text) {
        if (text) {
            shown = *text;
        }
    };
    take(counts_.xImages, update.xImagesText);
    take(counts_.yImages, update.yImagesText);
    take(counts_.totImages, update.totImagesText);
    take(counts_.longText, update.longText);
    take(counts_.latText, update.latText);
}

void ControlPanelState::ForgetRange() {
    tiles_.clear();
    range_ = TileRange{};
    counts_ = PanelCounts{};
}

int ControlPanelState::OutputZoom() const {
    if (zoomIndex_ < 0 || zoomIndex_ >= static_cast<int>(zoomEntries_.size())) {
        return 0;
    }
    return ReadLeadingInt(zoomEntries_[static_cast<size_t>(zoomIndex_)]);
}

std::optional<std::string> ControlPanelState::CreateMapRefusal(const TileSource* shown) const {
    if (shown != nullptr && detailsShown_ && OutputZoom() > shown->maxZoom) {
        // Its server has no tiles there: every request of the run would fail.
        return FormatText(
            "Choose a zoom no higher than %i in the zoom list: %s has no tiles deeper than "
            "zoom %i.",
            shown->maxZoom, shown->name.c_str(), shown->maxZoom);
    }
    if (!tiles_.empty()) {
        return std::nullopt;
    }
    if (!detailsShown_) {
        return std::string(); // the button is not even shown yet
    }
    if (OutputZoom() <= 0) {
        return std::string(kChooseZoomMessage);
    }
    if (OutputZoom() <= pageZoom_) {
        return FormatText(
            "Choose a zoom higher than %i in the zoom list: the map image is made of "
            "tiles deeper than the page shows.",
            pageZoom_);
    }
    // A range that could not be listed: its counts say why.
    const std::string& why = counts_.totImages != "Unknown" ? counts_.totImages : counts_.xImages;
    return "There are no tiles to fetch at this zoom (" + why +
           "). Make a smaller selection or choose another zoom.";
}

bool ControlPanelState::Enabled(PanelControl control) const {
    if (running_) {
        return false; // the panel takes no input during a run
    }
    switch (control) {
        case PanelControl::SelectArea:
            return siteOpen_;
        case PanelControl::NewLocation:
            return newLocationEnabled_;
        default:
            return true;
    }
}

PanelControl ControlPanelState::DefaultButton() const {
    if (selectionStands_ && detailsShown_ && !selecting_) {
        return PanelControl::CreateMap;
    }
    return siteOpen_ ? PanelControl::SelectArea : PanelControl::GotoSite;
}

} // namespace quiltara
