#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace quiltara {

// The application's icon: a quilt of map tiles with a selection drawn over it.
// The image needs no display, so the build can install it as files too.
QImage AppIconImage(int size);
QPixmap AppIconPixmap(int size);
// Every size the icon is drawn at; set once for the whole application.
QIcon AppIcon();

} // namespace quiltara
