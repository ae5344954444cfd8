#include "controls/ScreenFit.h"

#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVariant>
#include <QVBoxLayout>
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

// The property that holds the client size of a window made by fixedClient.
constexpr char kFixedClient[] = "kvxFixedClient";

void fit(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QMargins frame = frameOf(window);
    const QRect available = screen->availableGeometry();
    if (const QVariant fixed = window->property(kFixedClient); fixed.isValid()) {
        const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
        const QSize size = fixedSizeInside(fixed.toSize(), frame, available, bar);
        if (size != window->size() || window->minimumSize() != window->maximumSize())
            window->setFixedSize(size);
    }
    // pos() is the frame's corner, shown or not.
    const QRect client(window->pos() + QPoint(frame.left(), frame.top()), window->size());
    const QRect wanted = fitInside(
        client, frame, window->minimumSizeHint().expandedTo(window->minimumSize()), available);
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

QSize fixedSizeInside(QSize client, const QMargins &frame, const QRect &available, int scrollBar)
{
    const QSize room = available.marginsRemoved(frame).size();
    // A side cut short scrolls; its scroll bar takes room from the other side, which is made
    // that much larger where the screen allows, so that it need not scroll too.
    bool vertical = client.height() > room.height();
    const bool horizontal = client.width() + (vertical ? scrollBar : 0) > room.width();
    vertical = vertical || client.height() + (horizontal ? scrollBar : 0) > room.height();
    const QSize wanted(client.width() + (vertical ? scrollBar : 0),
                       client.height() + (horizontal ? scrollBar : 0));
    // Never so small that the scroll bars themselves would not fit.
    constexpr QSize kSmallest{100, 100};
    return wanted.boundedTo(room).expandedTo(kSmallest);
}

QWidget *fixedClient(QWidget *window, const QString &name, QSize size)
{
    auto *scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("ScrollBox"));
    scroll->setFrameShape(QFrame::NoFrame);
    // Keys belong to the controls: a scroll area with the focus (the first in the window's
    // chain) would take them, the page keys of a tab widget inside it among them.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto *client = new QWidget;
    client->setObjectName(name);
    client->setFixedSize(size);
    scroll->setWidget(client);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    window->setFixedSize(size);
    window->setProperty(kFixedClient, size);
    return client;
}

void keepInsideScreen(QWidget *window)
{
    fit(window);
    window->installEventFilter(new ScreenFitFilter(window));
}

} // namespace kvx
