#include "view/SelectionState.h"

#include <algorithm>

namespace quiltara {

bool SelectionState::BeginDrag(int x, int y) {
    if (locked || inactive) {
        return false;
    }
    dragging = true;
    left = right = x;
    top = bottom = y;
    return true;
}

bool SelectionState::EndDrag(int x, int y) {
    if (locked || inactive) {
        return false;
    }
    dragging = false;
    // A button-up without its button-down normalises from whatever anchor is held.
    const int anchorX = left;
    const int anchorY = top;
    left = std::min(anchorX, x);
    top = std::min(anchorY, y);
    right = std::max(anchorX, x);
    bottom = std::max(anchorY, y);
    return true;
}

bool SelectionState::TrackDrag(int x, int y) {
    if (!dragging) {
        return false;
    }
    right = x;
    bottom = y;
    return true;
}

Delivery SelectionState::Deliver(InputEvent event, bool passThrough) {
    if (event == InputEvent::Paint) {
        return Delivery::PassThrough;
    }
    // The pass-through flag follows the mouse moves; a selection locked by a
    // click without any move would otherwise leave wheel and keys reaching the
    // page until the mouse moves again.
    if (passThrough && !locked) {
        return Delivery::PassThrough;
    }
    if (passOne) {
        passOne = false;
        return Delivery::PassOne;
    }
    return Delivery::Withheld;
}

Delivery DecideDelivery(InputEvent event, bool passThrough, SelectionState* overlay) {
    if (overlay != nullptr) {
        return overlay->Deliver(event, passThrough);
    }
    if (event == InputEvent::Paint || passThrough) {
        return Delivery::PassThrough;
    }
    return Delivery::Withheld;
}

} // namespace quiltara
