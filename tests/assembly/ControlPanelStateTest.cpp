#include "assembly/ControlPanelState.h"

#include <gtest/gtest.h>

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

    // After a custom list the first entry is "1", which is no deeper zoom
    // either; the range goes with it all the same.
    state.ChooseZoom(static_cast<int>(state.ZoomEntries().size()) - 1, true);
    ASSERT_EQ(state.EnterCustomZoom("8"), ControlPanelState::CustomZoom::Rebuilt);
    EXPECT_EQ(state.ZoomIndex(), -1);
    state.ChooseZoom(5, true); // "6"
    ASSERT_FALSE(state.TileList().empty());
    state.ChooseZoom(0, true);
    EXPECT_TRUE(state.TileList().empty());
    EXPECT_EQ(state.Counts(), PanelCounts{});
}

// "4. Create Map Image" without a usable zoom says what to choose.
TEST(ControlPanelState, CreateMapSaysWhatToChooseWhenThereIsNothingToFetch) {
    EXPECT_EQ(ControlPanelState().CreateMapRefusal(), std::string()); // nothing selected: silent
    struct Row {
        int zoomPosition;
        std::optional<std::string> refusal;
    };
    const Row rows[] = {
        {0, kChooseZoomMessage},
        {2,
         "Choose a zoom higher than 3 in the zoom list: the map image is made of tiles "
         "deeper than the page shows."},
        {3,
         "Choose a zoom higher than 3 in the zoom list: the map image is made of tiles "
         "deeper than the page shows."},
        {4, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.zoomPosition);
        EXPECT_EQ(Selected(row.zoomPosition).CreateMapRefusal(), row.refusal);
    }
    ControlPanelState unmeasured = Selected(4);
    unmeasured.SelectionDone(CTileRect{-1.0, -1.0, -1.0, -1.0}, 0, 0, "3");
    EXPECT_EQ(unmeasured.CreateMapRefusal(),
              "There are no tiles to fetch at this zoom (No area measured). Make a smaller "
              "selection or choose another zoom.");
}

// Each step of the walk through the panel: the overlay's flags, the button
// Enter presses and what is enabled.
TEST(ControlPanelState, StepsMoveTheOverlayFlagsAndTheDefaultButton) {
    ControlPanelState state;
    SelectionState overlay;
    EXPECT_EQ(state.DefaultButton(), PanelControl::GotoSite);
    EXPECT_FALSE(state.Enabled(PanelControl::SelectArea));
    EXPECT_TRUE(state.GotoSiteShown());

    state.SiteOpened();
    EXPECT_EQ(state.DefaultButton(), PanelControl::SelectArea);
    EXPECT_TRUE(state.Enabled(PanelControl::SelectArea));
    EXPECT_FALSE(state.GotoSiteShown());

    EXPECT_TRUE(state.ToggleSelectArea(&overlay));
    EXPECT_FALSE(overlay.inactive);
    EXPECT_EQ(state.SelectAreaText(), kDoneText);
    EXPECT_EQ(state.DefaultButton(), PanelControl::SelectArea);
    EXPECT_FALSE(state.Enabled(PanelControl::NewLocation));

    // "3. Done" without a drag: the next drag pans the map again.
    EXPECT_FALSE(state.ToggleSelectArea(&overlay));
    EXPECT_TRUE(overlay.inactive);
    EXPECT_FALSE(overlay.BeginDrag(10, 10));
    EXPECT_EQ(state.Hint(), kSelectionMadeHint);
    EXPECT_FALSE(state.DetailsShown());

    state.ToggleSelectArea(&overlay);
    ASSERT_TRUE(overlay.BeginDrag(10, 10));
    ASSERT_TRUE(overlay.EndDrag(60, 40));
    state.SelectionDone(kSelection, 10, 10, "3");
    state.ChooseZoom(4, true);
    EXPECT_TRUE(state.DetailsShown());
    EXPECT_EQ(state.SelectionXText(), "3.500 to 4.250");
    EXPECT_EQ(state.DefaultButton(), PanelControl::CreateMap);
    EXPECT_TRUE(state.Enabled(PanelControl::NewLocation));

    state.SetRunning(true);
    for (PanelControl control :
         {PanelControl::GotoSite, PanelControl::SelectArea, PanelControl::NewLocation,
          PanelControl::ZoomList, PanelControl::CreateMap, PanelControl::DrawHelper}) {
        EXPECT_FALSE(state.Enabled(control));
    }
    state.SetRunning(false);
    EXPECT_TRUE(state.Enabled(PanelControl::NewLocation));

    overlay.locked = true;
    state.NewLocation(&overlay);
    EXPECT_FALSE(overlay.locked);
    EXPECT_TRUE(overlay.inactive);
    EXPECT_EQ(state.DefaultButton(), PanelControl::SelectArea);
    EXPECT_EQ(state.TileList().size(), 4u); // the details stay
}

} // namespace
} // namespace quiltara
