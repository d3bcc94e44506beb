// The window's two pictures, drawn in code: the Break button's bitmap and the
// application icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace brisquel::gui {

// 16 x 16: a red stop sign with a white bar.
QPixmap BreakPicture();

// A drive with a chip on it, drawn at any size.
QPixmap ApplicationPicture(int size);

// The same at the usual icon sizes.
QIcon ApplicationIcon();

}  // namespace brisquel::gui
