#pragma once

#include <QIcon>
#include <QPixmap>

namespace bv::app {

// The program's icon, drawn rather than shipped: a letter flying out of a
// blue tile.
QPixmap programPixmap(int size);
QIcon programIcon();

} // namespace bv::app
