#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace quiltara {

// A dialog frame with a caption and a system menu: a title and a close box,
// and no minimise or maximise buttons.
inline constexpr Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                                Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                Qt::WindowCloseButtonHint;

// Dialog layouts are given in dialog units, which scale with the dialog's
// font: one horizontal unit is a quarter of the font's average character
// width, one vertical unit an eighth of its character height. Every dialog
// converts through this one helper.
class DialogUnits {
public:
    // Base units measured from the font.
    explicit DialogUnits(const QFont& font);
    // Given base units (average character width and character height in pixels).
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    // Units to pixels, rounded to the nearest pixel.
    int X(int units) const;
    int Y(int units) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }
    QRect Rect(int x, int y, int width, int height) const {
        return {X(x), Y(y), X(width), Y(height)};
    }

    // Places a control where its template puts it.
    void Place(QWidget* control, int x, int y, int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

} // namespace quiltara
