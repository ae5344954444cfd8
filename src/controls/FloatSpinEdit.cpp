#include "controls/FloatSpinEdit.h"

#include "controls/Dialogs.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace kvx {

namespace {
constexpr int kBorderWidth = 1;
} // namespace

// The text part: the typing rules, the arrow keys, and normalising on Enter and on leaving.
class TFloatSpinEdit::Edit : public QLineEdit
{
public:
    explicit Edit(TFloatSpinEdit &owner)
        : QLineEdit(&owner)
        , m_owner(owner)
    {}

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
            m_owner.step(event->key() == Qt::Key_Up ? 1 : -1);
            return;
        }
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            QLineEdit::keyPressEvent(event);
            m_owner.normalise();
            return;
        }
        const QString typed = event->text();
        // Shortcuts (paste, cut, select all) type control characters and are left to the
        // field, which refuses to change a text it may not edit.
        if (!typed.isEmpty() && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
            !admits(typed.front(), m_owner.m_editorEnabled, m_owner.numberLocale())) {
            Dialogs::beep();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusInEvent(QFocusEvent *event) override
    {
        QLineEdit::focusInEvent(event);
        const bool keyboard = event->reason() == Qt::TabFocusReason ||
                              event->reason() == Qt::BacktabFocusReason ||
                              event->reason() == Qt::ShortcutFocusReason;
        if (keyboard && m_owner.m_autoSelect)
            selectAll();
        else if (keyboard)
            deselect();
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        QLineEdit::focusOutEvent(event);
        // A context menu or another window taking over is no leaving of the field.
        if (event->reason() != Qt::PopupFocusReason &&
            event->reason() != Qt::ActiveWindowFocusReason)
            m_owner.normalise();
    }

private:
    TFloatSpinEdit &m_owner;
};

TFloatSpinEdit::TFloatSpinEdit(QWidget *parent)
    : QWidget(parent)
    , m_edit(new Edit(*this))
    , m_up(new QToolButton(m_edit))
    , m_down(new QToolButton(m_edit))
{
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);
    m_edit->setText(QStringLiteral("0.0"));
    m_edit->setTextMargins(0, 0, kButtonWidth + kTextGap, 0);
    connect(m_edit, &QLineEdit::textChanged, this, &TFloatSpinEdit::Change);
    for (QToolButton *b : {m_up, m_down}) {
        b->setArrowType(b == m_up ? Qt::UpArrow : Qt::DownArrow);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(kRepeatDelay);
        b->setAutoRepeatInterval(kRepeatInterval);
        b->setCursor(Qt::ArrowCursor);
    }
    connect(m_up, &QToolButton::clicked, this, &TFloatSpinEdit::UpClick);
    connect(m_down, &QToolButton::clicked, this, &TFloatSpinEdit::DownClick);
    setMinimumHeight(
        minimumHeightFor(font(), QFontDatabase::systemFont(QFontDatabase::GeneralFont)));
}

QLineEdit *TFloatSpinEdit::lineEdit() const
{
    return m_edit;
}

QString TFloatSpinEdit::text() const
{
    return m_edit->text();
}

void TFloatSpinEdit::setText(const QString &text)
{
    m_edit->setText(text);
}

QLocale TFloatSpinEdit::numberLocale() const
{
    QLocale l;
    // "1,5" is no number where the separator is a point, not fifteen.
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l;
}

double TFloatSpinEdit::Value() const
{
    bool ok = false;
    const double v = numberLocale().toDouble(m_edit->text(), &ok);
    return ok && !std::isnan(v) ? v : m_min;
}

void TFloatSpinEdit::setValue(double value)
{
    m_edit->setText(format(limited(value, m_min, m_max), numberLocale()));
}

void TFloatSpinEdit::setEditorEnabled(bool enabled)
{
    m_editorEnabled = enabled;
    m_edit->setReadOnly(m_readOnly || !m_editorEnabled);
}

void TFloatSpinEdit::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    m_edit->setReadOnly(m_readOnly || !m_editorEnabled);
}

void TFloatSpinEdit::UpClick()
{
    step(1);
}

void TFloatSpinEdit::DownClick()
{
    step(-1);
}

void TFloatSpinEdit::step(double sign)
{
    if (m_readOnly) {
        Dialogs::beep();
        return;
    }
    setValue(Value() + sign * m_increment);
}

void TFloatSpinEdit::normalise()
{
    setValue(Value());
}

double TFloatSpinEdit::limited(double value, double minimum, double maximum)
{
    if (minimum == maximum)
        return value;
    return value < minimum ? minimum : value > maximum ? maximum : value;
}

QString TFloatSpinEdit::format(double value, const QLocale &locale)
{
    return locale.toString(value, 'g', 15);
}

bool TFloatSpinEdit::admits(QChar c, bool editorEnabled, const QLocale &locale)
{
    const bool control = c.unicode() < 0x20 || c.unicode() == 0x7F;
    if (control)
        return editorEnabled || (c != QChar(8) && c != QChar(13));
    if (!editorEnabled)
        return false;
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
           c == QLatin1Char('-') || locale.decimalPoint() == QString(c);
}

int TFloatSpinEdit::minimumHeightFor(const QFont &font, const QFont &systemFont)
{
    const int text = QFontMetrics(font).height();
    const int system = QFontMetrics(systemFont).height();
    return text + std::min(text, system) / 4 + 4 * kBorderWidth + 2;
}

QSize TFloatSpinEdit::sizeHint() const
{
    return {121, minimumHeight()};
}

void TFloatSpinEdit::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_edit->setGeometry(rect());
    layoutButtons();
}

void TFloatSpinEdit::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        setMinimumHeight(
            minimumHeightFor(font(), QFontDatabase::systemFont(QFontDatabase::GeneralFont)));
}

void TFloatSpinEdit::layoutButtons()
{
    // Inside the field's frame, at its right end.
    const int frame = 2;
    const int inner = height() - 2 * frame;
    const int x = width() - frame - kButtonWidth;
    m_up->setGeometry(x, frame, kButtonWidth, inner / 2);
    m_down->setGeometry(x, frame + inner / 2, kButtonWidth, inner - inner / 2);
}

} // namespace kvx
