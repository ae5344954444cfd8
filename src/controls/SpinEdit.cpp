#include "controls/SpinEdit.h"

#include <QLineEdit>

#include <algorithm>
#include <limits>

namespace kvx {

TSpinEdit::TSpinEdit(QWidget *parent)
    : QSpinBox(parent)
{
    // The widget itself admits any int so that an out-of-range entry can stand while typed;
    // the editing range is ours.
    QSpinBox::setRange(std::numeric_limits<int>::min() / 2, std::numeric_limits<int>::max() / 2);
    setKeyboardTracking(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { emit valueEdited(Value()); });
    connect(this, &QSpinBox::valueChanged, this, [this] { emit valueEdited(Value()); });
    QSpinBox::setValue(0);
}

void TSpinEdit::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    setValue(QSpinBox::value());
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const qlonglong v = text().trimmed().toLongLong(&ok);
    if (!ok)
        return m_minimum;
    return int(std::clamp<qlonglong>(v, std::numeric_limits<int>::min() / 2,
                                     std::numeric_limits<int>::max() / 2));
}

void TSpinEdit::setValue(int value)
{
    QSpinBox::setValue(std::clamp(value, m_minimum, m_maximum));
}

void TSpinEdit::stepBy(int steps)
{
    setValue(int(std::clamp<qlonglong>(qlonglong(Value()) + steps, m_minimum, m_maximum)));
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    const int v = Value();
    StepEnabled e = StepNone;
    if (v < m_maximum)
        e |= StepUpEnabled;
    if (v > m_minimum)
        e |= StepDownEnabled;
    return e;
}

void TSpinEdit::commit()
{
    // The spin box already holds the clamped value while the typed text still stands, so
    // bringing the text into range changes no value of Qt's: say so ourselves.
    const int typed = Value();
    const int clamped = std::clamp(typed, m_minimum, m_maximum);
    setValue(clamped);
    if (typed != clamped)
        emit valueEdited(clamped);
}

void TSpinEdit::commitAll(const QWidget *root)
{
    for (TSpinEdit *spin : root->findChildren<TSpinEdit *>())
        spin->commit();
}

void TSpinEdit::focusOutEvent(QFocusEvent *event)
{
    commit();
    QSpinBox::focusOutEvent(event);
}

QValidator::State TSpinEdit::validate(QString &input, int &) const
{
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+"))
        return QValidator::Intermediate;
    bool ok = false;
    t.toLongLong(&ok);
    return ok ? QValidator::Acceptable : QValidator::Invalid;
}

int TSpinEdit::valueFromText(const QString &text) const
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return m_minimum;
    return int(std::clamp<qlonglong>(v, m_minimum, m_maximum));
}

void TSpinEdit::fixup(QString &input) const
{
    input = QString::number(valueFromText(input));
}

} // namespace kvx
