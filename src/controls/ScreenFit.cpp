#include "controls/ScreenFit.h"

#include <QEvent>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace kvx {

namespace {

QMargins frameOf(const QWidget *window)
{
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    if (outer != inner)
        return {inner.left() - outer.left(), inner.top() - outer.top(),
                outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return {border, title + border, border, border};
}

void fit(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QMargins frame = frameOf(window);
    // pos() is the frame's corner, shown or not.
    const QRect client(window->pos() + QPoint(frame.left(), frame.top()), window->size());
    const QRect wanted =
        fitInside(client, frame, window->minimumSizeHint().expandedTo(window->minimumSize()),
                  screen->availableGeometry());
    if (wanted.size() != window->size())
        window->resize(wanted.size());
    const QPoint corner = wanted.topLeft() - QPoint(frame.left(), frame.top());
    if (corner != window->pos())
        window->move(corner);
}

class ScreenFitFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            fit(static_cast<QWidget *>(watched));
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

QRect fitInside(const QRect &geometry, const QMargins &frame, const QSize &minimum,
                const QRect &available)
{
    const QRect room = available.marginsRemoved(frame);
    QSize size = geometry.size().boundedTo(room.size()).expandedTo(minimum);
    size = size.boundedTo(geometry.size()); // never larger than it was
    QRect r(geometry.topLeft(), size);
    // Into the room from the right and the bottom first, then from the left and the top, so
    // that what does not fit hangs off the right or bottom, never the title bar.
    r.moveRight(std::min(r.right(), room.right()));
    r.moveBottom(std::min(r.bottom(), room.bottom()));
    r.moveLeft(std::max(r.left(), room.left()));
    r.moveTop(std::max(r.top(), room.top()));
    return r;
}

void keepInsideScreen(QWidget *window)
{
    fit(window);
    window->installEventFilter(new ScreenFitFilter(window));
}

} // namespace kvx
