#include "run/ControlPanelState.h"

#include <gtest/gtest.h>

#include "sources/SourceCatalogue.h"
#include "view/SelectionState.h"

namespace quiltara {
namespace {

// Tiles 7 to 8 and 4 to 5 at zoom 4 (list position 4), selected at page zoom 3.
const CTileRect kSelection{2.25, 3.5, 4.25, 2.75};

ControlPanelState Selected(int zoomPosition) {
    ControlPanelState state;
    state.SiteOpened();
    state.ChooseZoom(zoomPosition, true);
    state.SelectionDone(kSelection, 40, 30, "3");
    return state;
}

// The entry that names no zoom leaves nothing to fetch and nothing counted,
// whether it is chosen after a range or stands when a new selection ends.
TEST(ControlPanelState, FirstZoomEntryForgetsTheRangeAndItsCounts) {
    ControlPanelState state = Selected(4);
    ASSERT_EQ(state.TileList().size(), 4u);
    ASSERT_EQ(state.Counts().xImages, "2 (7 to 8)");

    state.ChooseZoom(0, true);
    EXPECT_TRUE(state.TileList().empty());
    EXPECT_EQ(state.Counts(), PanelCounts{});
    EXPECT_EQ(state.OutputZoom(), 0);

    state.ChooseZoom(5, true);
    ASSERT_EQ(state.TileList().size(), 12u);
    state.ChooseZoom(0, true);
    state.ToggleSelectArea(nullptr);
    state.SelectionDone(CTileRect{4.5, 7.0, 7.5, 5.0}, 0, 0, "4");
    EXPECT_TRUE(state.TileList().empty());
    EXPECT_EQ(state.Counts(), PanelCounts{});
}

// "4. Create Map Image" with nothing selected does nothing; with a zoom that
// gives no tiles it says why (the zoom list's own cases are the window's test).
TEST(ControlPanelState, CreateMapSaysWhyThereIsNothingToFetch) {
    EXPECT_EQ(ControlPanelState().CreateMapRefusal(), std::string());
    EXPECT_EQ(Selected(4).CreateMapRefusal(), std::nullopt);
    ControlPanelState unmeasured = Selected(4);
    unmeasured.SelectionDone(CTileRect{-1.0, -1.0, -1.0, -1.0}, 0, 0, "3");
    EXPECT_EQ(unmeasured.CreateMapRefusal(),
              "There are no tiles to fetch at this zoom (No area measured). Make a smaller "
              "selection or choose another zoom.");

    // A catalogue source on show bounds the output zoom by its deepest one.
    TileSource mine;
    mine.name = "My Tiles";
    mine.maxZoom = 3;
    EXPECT_EQ(Selected(4).CreateMapRefusal(&mine),
              "Choose a zoom no higher than 3 in the zoom list: My Tiles has no tiles deeper "
              "than zoom 3.");
    mine.maxZoom = 4;
    EXPECT_EQ(Selected(4).CreateMapRefusal(&mine), std::nullopt);
}

// The button Enter presses follows the user through the steps, and "3. Done"
// without a drag leaves the overlay unarmed, so the next drag pans the map.
TEST(ControlPanelState, DefaultButtonFollowsTheStepsAndDoneDisarmsTheOverlay) {
    ControlPanelState state;
    SelectionState overlay;
    EXPECT_EQ(state.DefaultButton(), PanelControl::GotoSite);
    state.SiteOpened();
    EXPECT_EQ(state.DefaultButton(), PanelControl::SelectArea);
    EXPECT_TRUE(state.ToggleSelectArea(&overlay));
    EXPECT_FALSE(overlay.inactive);
    EXPECT_FALSE(state.ToggleSelectArea(&overlay));
    EXPECT_FALSE(overlay.BeginDrag(10, 10));
    EXPECT_FALSE(state.DetailsShown());

    state.ToggleSelectArea(&overlay);
    ASSERT_TRUE(overlay.BeginDrag(10, 10));
    state.SelectionDone(kSelection, 10, 10, "3");
    EXPECT_EQ(state.DefaultButton(), PanelControl::CreateMap);
    state.NewLocation(&overlay);
    EXPECT_TRUE(overlay.inactive);
    EXPECT_EQ(state.DefaultButton(), PanelControl::SelectArea);
}

} // namespace
} // namespace quiltara
