#pragma once

// Keeps top-level windows whole inside the screen's available area, whatever the scale: the
// layouts' positions and sizes are in logical pixels, and at 150 % or 200 % a screen holds far
// fewer of them. A window is moved in; one that may be made smaller (it scrolls) is cut to
// what fits. User-interface thread only.

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace kvx {

// The geometry (without frame) a window of `geometry` and the `frame` around it takes so that
// the frame lies inside `available`. The size shrinks to fit, but not below `minimum`; where
// even that does not fit, the top left corner stays on the screen, so the title bar does.
[[nodiscard]] QRect fitInside(const QRect &geometry, const QMargins &frame, const QSize &minimum,
                              const QRect &available);

// Fits `window` now and every time it is shown, on the screen it is on. Until the window
// system has put a frame around it, a title bar of the style's height is assumed.
void keepInsideScreen(QWidget *window);

} // namespace kvx
