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

TEST(SelectionStateTest, AClickWithoutMovementLocksTheMapAtOnce) {
    Filter filter;
    filter.overlay.inactive = false;
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonDown, 30, 30), Delivery::PassThrough);
    EXPECT_EQ(filter.Send(InputEvent::LeftButtonUp, 30, 30), Delivery::PassOne);
    EXPECT_EQ(filter.overlay.left, filter.overlay.right);
    // No mouse move has cleared the pass-through flag, yet wheel and keys stop here.
    EXPECT_TRUE(filter.passThrough);
    EXPECT_EQ(filter.Send(InputEvent::OtherInput), Delivery::Withheld);
    EXPECT_EQ(filter.Send(InputEvent::Paint), Delivery::PassThrough);
}

TEST(SelectionStateTest, WithoutAnOverlayThePassThroughFlagAloneDecides) {
    EXPECT_EQ(DecideDelivery(InputEvent::OtherInput, true, nullptr), Delivery::PassThrough);
    EXPECT_EQ(DecideDelivery(InputEvent::OtherInput, false, nullptr), Delivery::Withheld);
    EXPECT_EQ(DecideDelivery(InputEvent::Paint, false, nullptr), Delivery::PassThrough);
}

} // namespace
} // namespace quiltara
