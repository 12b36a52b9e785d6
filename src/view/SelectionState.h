#pragma once

namespace quiltara {

// The kinds of event the view's input filter tells apart.
enum class InputEvent {
    MouseMove,
    LeftButtonDown,
    LeftButtonUp,
    OtherInput, // other buttons, double clicks, wheel, keys, touch
    Paint,
};

// What the input filter does with one event bound for the page.
enum class Delivery {
    PassThrough, // delivered as usual
    PassOne,     // delivered once although input is held back
    Withheld,
};

// The selection overlay's flags and rectangle, and the rules that move them.
// The control panel reads and sets the fields directly. Points are the map
// view's client pixels.
struct SelectionState {
    bool dragging = false;
    bool locked = false;
    bool inactive = true; // no selection is being asked for: buttons are ignored
    bool passOne = false; // the next event that would be withheld is delivered once
    // While dragging: the anchor in left/top, the current corner in right/bottom.
    // After the drag: normalised.
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    // Starts a drag at the point unless locked or inactive; whether it started.
    bool BeginDrag(int x, int y);

    // Ends the drag at the point and normalises the rectangle from the anchor
    // as it stands, unless locked or inactive; whether it ended. The caller then
    // reports the selection and sets passOne.
    bool EndDrag(int x, int y);

    // Moves the current corner while dragging; whether the overlay must be redrawn.
    bool TrackDrag(int x, int y);

    // Page input is held back from the first move of a drag on and while locked.
    bool HoldsPageInput() const { return dragging || locked; }

    // Decides the delivery of one event given the view's pass-through flag,
    // using up passOne when it lets an event through.
    Delivery Deliver(InputEvent event, bool passThrough);
};

// The same decision for a view that may have no overlay yet.
Delivery DecideDelivery(InputEvent event, bool passThrough, SelectionState* overlay);

} // namespace quiltara
