#pragma once

// Keeps top-level windows whole inside the screen's available area, whatever the scale: the
// layouts' positions and sizes are in logical pixels, and at 150 % or 200 % a screen holds far
// fewer of them. A window is moved in; one that may be made smaller (it scrolls) is cut to
// what fits, and one of fixed size that scrolls is given what fits. User-interface thread only.

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

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

// The client area of a window laid out at fixed positions, `size` large, in a scroll area that
// fills the window. The window has a fixed size, never one the user can drag: the client's own
// where the screen holds it, else (keepInsideScreen) what the screen holds, and the client
// scrolls there.
[[nodiscard]] QWidget *fixedClient(QWidget *window, const QString &name, QSize size);
// The size a window with a fixed client of `client` size takes inside `available`, with room
// for a scroll bar `scrollBar` pixels wide on a side that scrolls.
[[nodiscard]] QSize fixedSizeInside(QSize client, const QMargins &frame, const QRect &available,
                                    int scrollBar);

} // namespace kvx
