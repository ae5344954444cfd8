#include "controls/Hint95.h"

#include <QApplication>
#include <QBitmap>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace kvx {

QSize hintMargins(THintStyle style)
{
    switch (style) {
    case THintStyle::hsFlat:
        return {6, 4};
    case THintStyle::hsOffice97:
        return {6, 6};
    case THintStyle::hsWindows95:
        break;
    }
    return {8, 4};
}

int cursorDepth(const QCursor &cursor)
{
    const int hot = cursor.hotSpot().y();
    const QPixmap pixmap = cursor.pixmap();
    if (!pixmap.isNull()) {
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = image.height() - 1; y >= 0; --y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(image.pixel(x, y)) > 0)
                    return y - hot;
            }
        }
    }
    const QBitmap mask = cursor.mask();
    if (!mask.isNull()) {
        const QImage image = mask.toImage().convertToFormat(QImage::Format_Mono);
        for (int y = image.height() - 1; y >= 0; --y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelIndex(x, y) == Qt::color1)
                    return y - hot;
            }
        }
    }
    // The system's own cursors show no image here: taken as a full 32 x 32 one.
    return 32 - hot;
}

QRect placeHint(QSize size, QPoint cursor, int depth, const QRect &screen, const QRect &control,
                bool controlIsWindow, THintStyle style)
{
    QRect r(QPoint(cursor.x(), cursor.y() + depth), size);
    if (r.right() > screen.right())
        r.moveRight(screen.right());
    if (r.bottom() > screen.bottom()) {
        // Edges as the hint's outer edges: its last row lies just above them.
        if (style == THintStyle::hsOffice97 || controlIsWindow)
            r.moveBottom(cursor.y() - 2 - 1);
        else
            r.moveBottom(control.top() - 1);
        // A control taller than the room above it: the hint stays on the screen all the same.
        if (r.top() < screen.top())
            r.moveTop(screen.top());
    }
    return r;
}

THintWindow95::THintWindow95(THintStyle style, const QFont &font)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnTopHint)
    , m_style(style)
{
    setObjectName(QStringLiteral("THintWindow95"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(font);
}

void THintWindow95::setHintFont(const QFont &font)
{
    setFont(font);
}

QRect THintWindow95::CalcHintRect(int maxWidth, const QString &text) const
{
    const QSize margins = hintMargins(m_style);
    const QRect block = fontMetrics().boundingRect(
        QRect(0, 0, std::max(1, maxWidth - margins.width()), 1 << 20), Qt::TextWordWrap, text);
    return {0, 0, block.width() + margins.width(), block.height() + margins.height()};
}

void THintWindow95::ActivateHint(const QRect &rect, const QString &text)
{
    m_text = text;
    setGeometry(rect);
    show();
    update();
}

void THintWindow95::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, palette().color(QPalette::ToolTipBase));
    if (m_style == THintStyle::hsFlat) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    } else {
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(QPalette::Shadow));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
    }
    // In the width the text was measured in, so that it wraps the same way.
    const QSize m = hintMargins(m_style);
    const QRect text = r.adjusted(m.width() / 2, m.height() / 2, -(m.width() - m.width() / 2),
                                  -(m.height() - m.height() / 2));
    p.setPen(palette().color(QPalette::ToolTipText));
    p.drawText(text, Qt::AlignCenter | Qt::TextWordWrap, m_text);
}

THint95::THint95(QObject *parent)
    : QObject(parent)
    , m_showTimer(new QTimer(this))
    , m_hideTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("Hint95"));
    readFont();
    m_window = new THintWindow95(m_style, m_font);
    m_showTimer->setSingleShot(true);
    m_hideTimer->setSingleShot(true);
    // A coarse timer may fire 5 % early: a 5 s hint went after 4.75 s.
    m_showTimer->setTimerType(Qt::PreciseTimer);
    m_hideTimer->setTimerType(Qt::PreciseTimer);
    m_hideTimer->setObjectName(QStringLiteral("HideTimer"));
    connect(m_showTimer, &QTimer::timeout, this, [this] {
        if (m_control && m_control->isVisible())
            showHint(m_control, m_cursor);
    });
    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        // Not again until the mouse moves on to another control.
        m_window->hide();
    });
    connect(qApp, &QGuiApplication::fontDatabaseChanged, this, &THint95::readFont);
    qApp->installEventFilter(this);
}

THint95::~THint95()
{
    qApp->removeEventFilter(this);
    delete m_window;
}

void THint95::setHintStyle(THintStyle style)
{
    m_style = style;
    readFont();
    m_window->setHintStyle(style);
}

void THint95::readFont()
{
    // The status bar's font where the platform names one, else the program's.
    m_font = QApplication::font("QStatusBar");
    if (m_style == THintStyle::hsOffice97 && m_font.family() == QLatin1String("MS Sans Serif") &&
        QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        m_font.setFamily(QStringLiteral("Tahoma"));
    if (m_window)
        m_window->setHintFont(m_font);
}

bool THint95::hintShown() const
{
    return m_window->isVisible();
}

QWidget *THint95::hintedControl(QWidget *w)
{
    for (; w; w = w->parentWidget()) {
        if (!w->toolTip().isEmpty())
            return w;
        if (w->isWindow())
            break;
    }
    return nullptr;
}

bool THint95::showHint(QWidget *control, QPoint cursor)
{
    if (!control)
        return false;
    QString text = control->toolTip();
    THintInfo info{control, 0, kHintHidePause};
    bool canShow = true;
    if (OnShowHint)
        OnShowHint(text, canShow, info);
    if (!canShow || text.isEmpty())
        return false;
    const QScreen *screen = QGuiApplication::screenAt(cursor);
    if (!screen)
        screen = control->screen();
    const QRect screenRect = screen->geometry();
    const int maxWidth = info.HintMaxWidth > 0 ? info.HintMaxWidth : screenRect.width();
    const QRect size = m_window->CalcHintRect(maxWidth, text);
    const QRect controlRect(control->mapToGlobal(QPoint(0, 0)), control->size());
    m_window->ActivateHint(placeHint(size.size(), cursor, cursorDepth(control->cursor()),
                                     screenRect, controlRect, control->isWindow(), m_style),
                           text);
    m_control = control;
    m_cursor = cursor;
    m_showTimer->stop();
    m_hideTimer->stop();
    if (info.HideTimeout > 0)
        m_hideTimer->start(info.HideTimeout);
    return true;
}

void THint95::cancelHint()
{
    m_showTimer->stop();
    m_hideTimer->stop();
    m_window->hide();
}

void THint95::forgetControl()
{
    cancelHint();
    m_control = nullptr;
    // Coming back to the very pixel it left from is a move like any other.
    m_lastMove.reset();
}

void THint95::mouseAt(QPoint global)
{
    // One move of the mouse reaches the filter once for its window and once for each widget it
    // passes up through; finding the widget under it once is enough.
    if (m_lastMove == global)
        return;
    m_lastMove = global;
    QWidget *under = QApplication::widgetAt(global);
    if (under && under->window() == m_window)
        under = nullptr;
    QWidget *control = hintedControl(under);
    m_cursor = global;
    if (control == m_control)
        return; // its hint stays due, shown or spent
    const bool wasShown = hintShown();
    cancelHint();
    m_control = control;
    if (control)
        m_showTimer->start(wasShown ? kHintShortPause : kHintPause);
}

bool THint95::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ToolTip:
        return true; // the balloon instead
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->buttons() == Qt::NoButton)
            mouseAt(mouse->globalPosition().toPoint());
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        // A click or a key ends the hint; resting again on the control does not bring it back.
        cancelHint();
        break;
    case QEvent::Leave:
        if (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
            forgetControl();
        break;
    case QEvent::ApplicationDeactivate:
        forgetControl();
        break;
    case QEvent::ApplicationFontChange:
        if (watched == qApp)
            readFont();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kvx
