#include <gtest/gtest.h>

#include <array>

#include "view/SelectionState.h"

namespace quiltara {
namespace {

// Runs one event through the view's filter rules the way the view does.
struct Filter {
    SelectionState overlay;
    bool passThrough = true;

    Delivery Send(InputEvent event, int x = 0, int y = 0) {
        if (event == InputEvent::MouseMove) {
            passThrough = true;
            overlay.TrackDrag(x, y);
            if (overlay.HoldsPageInput()) {
                passThrough = false;
            }
        } else if (event == InputEvent::LeftButtonDown) {
            overlay.BeginDrag(x, y);
        } else if (event == InputEvent::LeftButtonUp && overlay.EndDrag(x, y)) {
            overlay.locked = true; // what the panel's selection-done handler does
            overlay.passOne = true;
        }
        return overlay.Deliver(event, passThrough);
    }
};

TEST(SelectionStateTest, DragsEitherWayGiveTheSameNormalisedRectangle) {
    for (const bool backwards : {false, true}) {
        SelectionState state;
        state.inactive = false;
        const int x1 = backwards ? 300 : 20, y1 = backwards ? 200 : 40;
        const int x2 = backwards ? 20 : 300, y2 = backwards ? 40 : 200;
        ASSERT_TRUE(state.BeginDrag(x1, y1));
        EXPECT_TRUE(state.TrackDrag(150, 10));
        EXPECT_EQ(state.right, 150);
        ASSERT_TRUE(state.EndDrag(x2, y2));
        EXPECT_FALSE(state.dragging);
        EXPECT_EQ(state.left, 20);
        EXPECT_EQ(state.top, 40);
        EXPECT_EQ(state.right, 300);
        EXPECT_EQ(state.bottom, 200);
        EXPECT_FALSE(state.TrackDrag(1, 1));
    }
}

TEST(SelectionStateTest, ButtonsAreIgnoredWhileInactiveOrLocked) {
    SelectionState state; // inactive at creation
    EXPECT_FALSE(state.BeginDrag(5, 5));
    EXPECT_FALSE(state.EndDrag(5, 5));
    EXPECT_FALSE(state.dragging);
    state.inactive = false;
    state.locked = true;
    EXPECT_FALSE(state.BeginDrag(5, 5));
    EXPECT_FALSE(state.EndDrag(9, 9));
    EXPECT_EQ(state.right, 0);
    // A button-up with no button-down while armed normalises from the old anchor.
    state.locked = false;
    state.left = 50;
    state.top = 60;
    EXPECT_TRUE(state.EndDrag(10, 70));
    EXPECT_EQ((std::array{state.left, state.top, state.right, state.bottom}),
              (std::array{10, 60, 50, 70}));
}

TEST(SelectionStateTest, ADragReachesThePageOnlyWithItsButtonDownAndUp) {
    Filter filter;
    EXPECT_EQ(filter.Send(InputEvent::MouseMove, 5, 5), Delivery::PassThrough); // idle
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonDown, 5, 5), Delivery::PassThrough);
    EXPECT_FALSE(filter.overlay.dragging);
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonUp, 5, 5), Delivery::PassThrough);

    filter.overlay.inactive = false; // armed
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonDown, 10, 10), Delivery::PassThrough);
    EXPECT_EQ(filter.Send(InputEvent::MouseMove, 50, 50), Delivery::Withheld);
    EXPECT_EQ(filter.Send(InputEvent::OtherInput), Delivery::Withheld);
    EXPECT_EQ(filter.Send(InputEvent::Paint), Delivery::PassThrough);
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonUp, 60, 70), Delivery::PassOne);
    EXPECT_FALSE(filter.overlay.passOne);
    // Locked: nothing but paint reaches the page.
    EXPECT_EQ(filter.Send(InputEvent::MouseMove, 80, 80), Delivery::Withheld);
    EXPECT_EQ(filter.Send(InputEvent::OtherInput), Delivery::Withheld);
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonDown, 80, 80), Delivery::Withheld);
    EXPECT_EQ(filter.Send(InputEvent::Paint), Delivery::PassThrough);

    // Unlocked by the panel ("New Location"): everything flows again.
    filter.overlay.locked = false;
    filter.overlay.inactive = true;
    filter.passThrough = true;
    EXPECT_EQ(filter.Send(InputEvent::OtherInput), Delivery::PassThrough);
}

TEST(SelectionStateTest, AClickWithoutMovementLocksTheMapAtOnce) {
    Filter filter;
    filter.overlay.inactive = false;
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonDown, 30, 30), Delivery::PassThrough);
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonUp, 30, 30), Delivery::PassOne);
    EXPECT_EQ(filter.overlay.left, filter.overlay.right);
    // No mouse move has cleared the pass-through flag, yet wheel and keys stop here.
    EXPECT_TRUE(filter.passThrough);
    EXPECT_EQ(filter.Send(InputEvent::OtherInput), Delivery::Withheld);
}

TEST(SelectionStateTest, WithoutAnOverlayThePassThroughFlagAloneDecides) {
    EXPECT_EQ(DecideDelivery(InputEvent::OtherInput, true, nullptr), Delivery::PassThrough);
    EXPECT_EQ(DecideDelivery(InputEvent::OtherInput, false, nullptr), Delivery::Withheld);
    EXPECT_EQ(DecideDelivery(InputEvent::Paint, false, nullptr), Delivery::PassThrough);
}

} // namespace
} // namespace quiltara
