#pragma once

#include <QIcon>
#include <QPixmap>

namespace quiltara {

// The application's icon: a quilt of map tiles with a selection drawn over it.
QPixmap AppIconPixmap(int size);
QIcon AppIcon();

} // namespace quiltara
