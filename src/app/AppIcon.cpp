#include "app/AppIcon.h"

#include <QColor>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>

namespace quiltara {

QImage AppIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);

    // Three by three tiles in map colours: land, water, parks, roads.
    static const std::array<QColor, 9> kTiles = {
        QColor(0xe8, 0xe0, 0xc8), QColor(0xa8, 0xd0, 0xe8), QColor(0xc0, 0xdc, 0xa8),
        QColor(0xc0, 0xdc, 0xa8), QColor(0xe8, 0xe0, 0xc8), QColor(0xa8, 0xd0, 0xe8),
        QColor(0xa8, 0xd0, 0xe8), QColor(0xc0, 0xdc, 0xa8), QColor(0xe8, 0xe0, 0xc8)};
    const double margin = size / 16.0;
    const double cell = (size - 2 * margin) / 3.0;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRectF tile(margin + column * cell, margin + row * cell, cell, cell);
            painter.fillRect(tile, kTiles[static_cast<size_t>(row * 3 + column)]);
        }
    }
    painter.setPen(QPen(QColor(0x70, 0x70, 0x70), std::max(1.0, size / 48.0)));
    for (int line = 0; line <= 3; ++line) {
        const double at = margin + line * cell;
        painter.drawLine(QPointF(margin, at), QPointF(size - margin, at));
        painter.drawLine(QPointF(at, margin), QPointF(at, size - margin));
    }
    // The selection a user drags around the wanted area.
    painter.setPen(QPen(QColor(0xd0, 0x20, 0x20), std::max(1.5, size / 14.0)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(margin + cell * 0.5, margin + cell * 0.5, cell * 2, cell * 2));
    painter.end();
    return image;
}

QPixmap AppIconPixmap(int size) {
    return QPixmap::fromImage(AppIconImage(size));
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(AppIconPixmap(size));
    }
    return icon;
}

} // namespace quiltara
