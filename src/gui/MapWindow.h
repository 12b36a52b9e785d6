#pragma once

class QWidget;

namespace quiltara {

class CQuiltaraView;
class CSelectionOverlay;

// What the control panel needs of the window that shows the map: its map
// view, the selection overlay over it, and a widget to own the panel's
// dialogs. The main frame implements it, so the panel never reaches up into
// the application shell.
class MapWindow {
public:
    // The window's widget, parent of the dialogs the panel opens.
    virtual QWidget* Widget() = 0;

    // The active view when it is the map view, else none.
    virtual CQuiltaraView* GetActiveView() const = 0;

    // The selection overlay of the active map view; the first call makes it.
    // Without a map view they do nothing and GetSelectionOverlay returns none.
    virtual void ShowSelectionOverlay(bool show) = 0;
    virtual CSelectionOverlay* GetSelectionOverlay() = 0;

    // Erases and repaints the map view at once (not at the next event loop pass).
    virtual void RepaintMapView() = 0;

protected:
    ~MapWindow() = default;
};

} // namespace quiltara
