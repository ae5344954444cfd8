#include "controls/CheckComboBin.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace kvx {

namespace {

// The arrow's picture: a black triangle pointing down, 9 pixels wide at its top, on white.
QPixmap arrowPicture()
{
    QPixmap p(16, 16);
    p.fill(Qt::white);
    QPainter painter(&p);
    painter.setPen(Qt::black);
    for (int row = 0; row < 5; ++row)
        painter.drawLine(4 + row, 6 + row, 12 - row, 6 + row);
    return p;
}

// Contrast ratio of two colours by their relative luminance, 1 (none) to 21 (black on white).
double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The background is fixed (white unless the owner says otherwise); the text colour is the
// palette's. A dark palette's light text vanishes on white, so then the palette colour that
// stands out most from the background takes its place.
QColor readableText(const QPalette &palette, QPalette::ColorGroup group, const QColor &background)
{
    constexpr double kReadable = 4.5;
    QColor best = palette.color(group, QPalette::Text);
    if (contrast(best, background) >= kReadable)
        return best;
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Base,
                                     QPalette::Window, QPalette::Dark, QPalette::Shadow}) {
        const QColor c = palette.color(group, role);
        if (contrast(c, background) > contrast(best, background))
            best = c;
    }
    return best;
}

// `theme` is the palette the control was given, before its own colours.
void setBackground(QWidget *w, const QPalette &theme, const QColor &color)
{
    QPalette palette = w->palette();
    palette.setColor(QPalette::Base, color);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Text, readableText(theme, group, color));
    w->setPalette(palette);
}

} // namespace

TCheckedComboBinary::TCheckedComboBinary(QWidget *parent)
    : QFrame(parent)
    , CapSelectAll(tr("&Select All"))
    , CapDeSelectAll(tr("&DeSelect All"))
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);

    TextBox = new QLineEdit(this);
    TextBox->setObjectName(QStringLiteral("TextBox"));
    TextBox->setReadOnly(true);
    setBackground(TextBox, palette(), Qt::white);
    TextBox->installEventFilter(this);

    ArrowButton = new QToolButton(this);
    ArrowButton->setObjectName(QStringLiteral("ArrowButton"));
    ArrowButton->setAutoRaise(true);
    ArrowButton->setIcon(arrowPicture());
    ArrowButton->setFocusPolicy(Qt::NoFocus);
    connect(ArrowButton, &QToolButton::clicked, this, &TCheckedComboBinary::ArrowClick);

    // A borderless pop-up that closes when the user clicks anywhere outside it.
    DropDown = new QFrame(this, Qt::Popup | Qt::FramelessWindowHint);
    DropDown->setObjectName(QStringLiteral("DropDown"));
    DropDown->setBackgroundRole(QPalette::Window);
    DropDown->setAutoFillBackground(true);
    DropDown->installEventFilter(this);
    CheckList = new QListWidget(DropDown);
    CheckList->setObjectName(QStringLiteral("CheckList"));
    CheckList->setFrameShape(QFrame::NoFrame);
    CheckList->setFlow(QListView::TopToBottom);
    connect(CheckList, &QListWidget::itemChanged, this, &TCheckedComboBinary::markFromCheckList);

    ContextMenu = new QMenu(CheckList);
    ContextMenu->setObjectName(QStringLiteral("ContextMenu"));
    ContextMenu->addAction(CapSelectAll, this, &TCheckedComboBinary::SelectAll);
    ContextMenu->addAction(CapDeSelectAll, this, &TCheckedComboBinary::DeSelectAll);
    CheckList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(CheckList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { ContextMenu->popup(CheckList->mapToGlobal(at)); });

    resize(121, 24);
    layoutParts();
    render();
}

TCheckedComboBinary::~TCheckedComboBinary() = default;

void TCheckedComboBinary::setItems(const QStringList &items)
{
    m_items = items;
    if (m_sorted)
        m_items.sort();
    fillCheckList();
}

void TCheckedComboBinary::setSorted(bool sorted)
{
    if (sorted == m_sorted)
        return;
    m_sorted = sorted;
    if (m_sorted) {
        // The order of the items, and so of the bits, becomes the sorted one.
        m_items.sort();
        fillCheckList();
    }
}

void TCheckedComboBinary::setColumns(int columns)
{
    if (columns == m_columns)
        return;
    m_columns = columns;
    CheckList->setWrapping(m_columns > 1);
}

void TCheckedComboBinary::setDropDownLines(int lines)
{
    if (lines >= kMinDropDownLines && lines <= kMaxDropDownLines)
        m_dropDownLines = lines;
}

void TCheckedComboBinary::setNotFocusColor(const QColor &color)
{
    if (color == m_notFocusColor)
        return;
    m_notFocusColor = color;
    if (!TextBox->hasFocus())
        setBackground(TextBox, palette(), m_notFocusColor);
}

QString TCheckedComboBinary::BitText() const
{
    const int n = CheckList->count();
    QString bits(n, QLatin1Char('0'));
    for (int i = 0; i < n; ++i) {
        if (CheckList->item(i)->checkState() == Qt::Checked)
            bits[n - 1 - i] = QLatin1Char('1');
    }
    return bits;
}

bool TCheckedComboBinary::isChecked(int index) const
{
    return index >= 0 && index < CheckList->count() &&
           CheckList->item(index)->checkState() == Qt::Checked;
}

void TCheckedComboBinary::SetChecked(int index, bool checked)
{
    if (index < 0 || index >= CheckList->count())
        return;
    m_filling = true;
    CheckList->item(index)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    m_filling = false;
    render();
    emit OnChange();
}

void TCheckedComboBinary::SelectAll()
{
    setAll(true);
}

void TCheckedComboBinary::DeSelectAll()
{
    setAll(false);
}

void TCheckedComboBinary::setAll(bool checked)
{
    m_filling = true;
    for (int i = 0; i < CheckList->count(); ++i)
        CheckList->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    m_filling = false;
    render();
    emit OnChange(); // once, whatever the number of items
}

void TCheckedComboBinary::fillCheckList()
{
    m_filling = true;
    CheckList->clear();
    for (const QString &name : std::as_const(m_items)) {
        auto *item = new QListWidgetItem(name, CheckList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    m_filling = false;
    render();
}

void TCheckedComboBinary::markFromCheckList(QListWidgetItem *)
{
    if (m_filling)
        return;
    render();
    emit OnChange();
}

void TCheckedComboBinary::render()
{
    TextBox->setText(BitText());
}

int TCheckedComboBinary::longestItem() const
{
    int longest = 0;
    for (int i = 1; i < m_items.size(); ++i) {
        if (m_items[i].size() > m_items[longest].size())
            longest = i;
    }
    return longest;
}

bool TCheckedComboBinary::isDroppedDown() const
{
    return DropDown->isVisible();
}

void TCheckedComboBinary::closeDropDown()
{
    DropDown->hide();
}

void TCheckedComboBinary::ArrowClick()
{
    // The click that closed the drop-down never gets here (see eventFilter): every click on
    // the arrow opens it.
    emit OnClick();
    if (m_columns > 1)
        m_dropDownLines = int(m_items.size()) / m_columns + 1;
    m_dropDownLines = std::clamp(m_dropDownLines, kMinDropDownLines, kMaxDropDownLines);

    QPoint at = mapToGlobal(QPoint(0, height()));
    ContextMenu->actions().at(0)->setText(CapSelectAll);
    ContextMenu->actions().at(1)->setText(CapDeSelectAll);
    DropDown->setFont(font());
    CheckList->setFont(font());
    const QFontMetrics metrics(font());
    // The longest item whole, its check box and margins as the style draws them, and room for
    // the scroll bar when not every item fits: never less than the text and 25 pixels.
    const int itemHeight = CheckList->count() > 0 ? CheckList->sizeHintForRow(0) : metrics.height();
    const int textWidth = m_items.isEmpty() ? 0 : metrics.horizontalAdvance(m_items[longestItem()]);
    const bool scrolls = m_columns <= 1 && m_items.size() > m_dropDownLines;
    const int itemWidth = std::max(textWidth + 25, CheckList->sizeHintForColumn(0) + 4);
    const int width =
        (m_columns > 1 ? itemWidth * m_columns : itemWidth) +
        (scrolls ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) : 0);
    const int height = itemHeight * m_dropDownLines + 4;
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    // Near the bottom of the screen it opens above the control instead.
    if (screen && at.y() + height > screen->geometry().bottom() + 1 - 20)
        at.setY(at.y() - height - this->height());
    if (m_columns > 1)
        CheckList->setGridSize(QSize(std::max(1, width / m_columns), itemHeight));
    else
        CheckList->setGridSize(QSize());
    DropDown->setGeometry(at.x(), at.y(), width, height);
    CheckList->setGeometry(0, 0, width, height); // the list fills the drop-down
    DropDown->show();
    DropDown->activateWindow();
    CheckList->setFocus();
}

bool TCheckedComboBinary::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == DropDown && event->type() == QEvent::MouseButtonPress) {
        // A press outside the drop-down closes it. On the arrow button it must not reach the
        // button afterwards and open the list again. Whether the system passes such a press on
        // differs (X11 does not, so a mark set for it used to swallow the next click): here
        // it never does.
        const auto *press = static_cast<QMouseEvent *>(event);
        const QPoint global = press->globalPosition().toPoint();
        if (!DropDown->geometry().contains(global) &&
            ArrowButton->rect().contains(ArrowButton->mapFromGlobal(global)))
            DropDown->setAttribute(Qt::WA_NoMouseReplay);
    } else if (watched == TextBox && event->type() == QEvent::KeyPress) {
        // The keys that open a drop-down list in every combo box.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F4 ||
            (key->key() == Qt::Key_Down && key->modifiers().testFlag(Qt::AltModifier))) {
            ArrowClick();
            return true;
        }
    } else if (watched == TextBox && event->type() == QEvent::FocusIn) {
        setBackground(TextBox, palette(), Qt::white);
        emit OnEnter();
    } else if (watched == TextBox && event->type() == QEvent::FocusOut) {
        setBackground(TextBox, palette(), m_notFocusColor);
        emit OnExit();
    }
    return QFrame::eventFilter(watched, event);
}

void TCheckedComboBinary::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layoutParts();
}

void TCheckedComboBinary::changeEvent(QEvent *event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        layoutParts();
        update();
    } else if (event->type() == QEvent::PaletteChange) {
        setBackground(TextBox, palette(),
                      TextBox->hasFocus() ? QColor(Qt::white) : m_notFocusColor);
    }
}

void TCheckedComboBinary::layoutParts()
{
    // As high as a single-line edit box in the control's font, whatever it is given.
    const int h = fontMetrics().height() + 8;
    if (height() != h)
        resize(width(), h); // a hidden control gets its resize event only when shown
    const int textWidth = std::max(0, width() - kArrowWidth - 3);
    TextBox->setGeometry(0, 0, textWidth, h);
    ArrowButton->setGeometry(textWidth + 1, 2, kArrowWidth, h - 2);
}

} // namespace kvx
