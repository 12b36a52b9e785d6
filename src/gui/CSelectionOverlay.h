#pragma once

#include <QPoint>
#include <QWidget>

#include <vector>

#include "tiles/TileGrid.h"
#include "view/SelectionState.h"

namespace quiltara {

// A transparent widget laid over the whole map view. It takes no mouse input
// of its own (the view's input filter feeds it the mouse), remembers the
// selection, and draws a frame along its edges, the rubber band while
// dragging, the locked selection, and on request the outlines of the tiles
// that will be downloaded.
class CSelectionOverlay : public QWidget {
    Q_OBJECT

public:
    // Created hidden, as a child of the map view.
    explicit CSelectionOverlay(QWidget* view);

    // The flags and the rectangle; the control panel reads and sets them directly.
    SelectionState& State() { return state_; }
    const SelectionState& State() const { return state_; }

    // Points are the overlay's client pixels, which are the view's.
    void BeginDrag(QPoint point);
    // Ends the drag, reports the normalised selection and lets the event that
    // ended it reach the page.
    void EndDrag(QPoint point);
    void TrackDrag(QPoint point);

    // Draws the cells' outlines with the next paint only. The list belongs to
    // the caller and must stay alive until then.
    void DrawTileOutlines(const std::vector<CTileCell>& cells);
    bool OutlinesPending() const { return pendingCells_ != nullptr; }

signals:
    // A drag has ended; the rectangle is normalised.
    void SelectionDone();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SelectionState state_;
    const std::vector<CTileCell>* pendingCells_ = nullptr;
};

} // namespace quiltara
