#pragma once

// An integer spin edit with the program's editing rules: text that is not a number reads as
// the minimum, a value typed outside the range is brought to the nearest bound when the edit
// loses the focus, and a value set by the program is brought into range at once.

#include <QSpinBox>

#include <algorithm>

namespace kvx {

class TSpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    void setRange(int minimum, int maximum);
    // The value as typed so far: out-of-range values stand until the focus leaves.
    [[nodiscard]] int Value() const;
    // The value brought into range, for whatever goes to the chip: a command started by a
    // keyboard shortcut leaves the focus, and with it the typed text, where it was.
    [[nodiscard]] int boundedValue() const { return std::clamp(Value(), m_minimum, m_maximum); }
    void setValue(int value);
    void stepBy(int steps) override;
    // Brings a value typed outside the range to its bound now, as leaving the field does, and
    // says so: whatever writes to the chip sends what the field will hold, never the typed
    // text wrapped to the register's width.
    void commit();
    // commit() for every spin edit in `root`, before a command reads them.
    static void commitAll(const QWidget *root);

signals:
    // Every change of the text, as typed, with the value it reads as.
    void valueEdited(int value);

protected:
    void focusOutEvent(QFocusEvent *event) override;
    [[nodiscard]] StepEnabled stepEnabled() const override;
    [[nodiscard]] QValidator::State validate(QString &input, int &pos) const override;
    [[nodiscard]] int valueFromText(const QString &text) const override;
    void fixup(QString &input) const override;

private:
    int m_minimum = 0;
    int m_maximum = 0;
};

} // namespace kvx
