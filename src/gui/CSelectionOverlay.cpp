#include "gui/CSelectionOverlay.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace quiltara {

namespace {

// Drawn as a path of four corners so that right and bottom edges land on the
// pixels named, as line drawing does (a QRect's outline would stop one short).
void DrawOutline(QPainter& painter, int left, int top, int right, int bottom) {
    const QPoint corners[] = {
        {left, top}, {left, bottom}, {right, bottom}, {right, top}, {left, top}};
    painter.drawPolyline(corners, 5);
}

// A cell's outline coordinate truncated toward zero; values no int can hold
// (a far-off cell of a huge selection) are pinned well outside any screen.
int ToPixel(double value) {
    constexpr double kFarOff = 1e7;
    if (!(value > -kFarOff)) {
        return static_cast<int>(-kFarOff);
    }
    return static_cast<int>(std::min(value, kFarOff));
}

} // namespace

CSelectionOverlay::CSelectionOverlay(QWidget* view) : QWidget(view) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("SelectionOverlay"));
    hide();
}

void CSelectionOverlay::BeginDrag(QPoint point) {
    if (state_.BeginDrag(point.x(), point.y())) {
        update();
    }
}

void CSelectionOverlay::EndDrag(QPoint point) {
    if (!state_.EndDrag(point.x(), point.y())) {
        return;
    }
    update();
    emit SelectionDone();
    state_.passOne = true;
}

void CSelectionOverlay::TrackDrag(QPoint point) {
    if (state_.TrackDrag(point.x(), point.y())) {
        update();
    }
}

void CSelectionOverlay::DrawTileOutlines(const std::vector<CTileCell>& cells) {
    // The page is repainted clean first; the outlines then go over it.
    if (QWidget* view = parentWidget()) {
        view->repaint();
    }
    pendingCells_ = &cells;
    update();
}

void CSelectionOverlay::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    DrawOutline(painter, 0, 0, width() - 1, height() - 1);

    const SelectionState& s = state_;
    if (s.dragging) {
        // A rubber band that shows on any map colour: black dashes over white.
        painter.setPen(QPen(Qt::white, 1));
        DrawOutline(painter, s.left, s.top, s.right, s.bottom);
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        DrawOutline(painter, s.left, s.top, s.right, s.bottom);
    } else if (s.locked) {
        painter.setPen(QPen(Qt::black, 1));
        DrawOutline(painter, s.left, s.top, s.right, s.bottom);
        // A cross at the selection's centre.
        const int mx = (s.left + s.right) / 2;
        const int my = (s.top + s.bottom) / 2;
        painter.drawLine(mx, my - 3, mx, my + 3);
        painter.drawLine(mx - 3, my, mx + 3, my);
    }

    if (pendingCells_ != nullptr) {
        painter.setPen(QPen(Qt::black, 1));
        for (const CTileCell& cell : *pendingCells_) {
            DrawOutline(painter, ToPixel(cell.left), ToPixel(cell.top), ToPixel(cell.right),
                        ToPixel(cell.bottom));
        }
        pendingCells_ = nullptr;
    }
}

} // namespace quiltara
