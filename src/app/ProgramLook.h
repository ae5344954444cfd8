#pragma once

// The look the windows were laid out for: the classic Windows style and an 8-point sans serif
// that keeps every caption whole at the positions of the layouts. A style the user chose
// (-style, QT_STYLE_OVERRIDE) is kept, and the colours stay the platform theme's. Set once at
// program start, and by tests that measure what users see. User-interface thread only.

#include <QFont>

namespace kvx {

// MS Sans Serif 8 where it is installed, else the closest narrow sans serif.
[[nodiscard]] QFont programFont();
// Sets the font, and the style unless `userChoseStyle`, for the whole application.
void applyProgramLook(bool userChoseStyle = false);

} // namespace kvx
