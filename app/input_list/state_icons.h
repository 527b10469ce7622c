// The input list's artwork: the six state icons and the drag cursor, 16 x 16
// bitmaps painted in code on the magenta key (0xFF00FF), which is what
// shows through.
#pragma once

#include <QCursor>
#include <QImage>
#include <QPixmap>

namespace tavrelcut {

inline constexpr QRgb kIconKey = 0xFFFF00FF;

// The keyed bitmap of a state's icon (0-5): the key colour where the icon
// is transparent, never inside it.
QImage stateBitmap(int state);
// The icon of a state with the key transparent, painted once per process.
const QPixmap& stateIcon(int state);
// The cursor a dragged row is carried with; its hot spot is the arrow's tip.
QCursor dragCursor();

}  // namespace tavrelcut
