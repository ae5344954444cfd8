#pragma once

// A one-line numeric field with an up/down arrow pair at its right end, holding a double that
// is stepped by a fractional increment and kept within limits. The text is the only store of
// the value: reading it parses the text (the minimum when it is no number), writing it limits
// the number and writes its shortest form, so steps re-read the text and rounding errors never
// add up (-1 in steps of 0.1 runs -0.9 ... 0 ... 1). Equal limits mean none. Typing admits
// digits, signs and the locale's decimal separator; Enter and leaving the field write the
// value back in its canonical form. User-interface thread only.

#include <QLocale>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace kvx {

class TFloatSpinEdit : public QWidget
{
    Q_OBJECT

public:
    // The arrow pair's width, and the gap between the text and it.
    static constexpr int kButtonWidth = 15;
    static constexpr int kTextGap = 2;
    // Auto-repeat of a held arrow button.
    static constexpr int kRepeatDelay = 400;
    static constexpr int kRepeatInterval = 100;

    explicit TFloatSpinEdit(QWidget *parent = nullptr);

    [[nodiscard]] double Value() const;
    void setValue(double value);
    [[nodiscard]] double MinValue() const { return m_min; }
    void setMinValue(double v) { m_min = v; }
    [[nodiscard]] double MaxValue() const { return m_max; }
    void setMaxValue(double v) { m_max = v; }
    [[nodiscard]] double Increment() const { return m_increment; }
    void setIncrement(double v) { m_increment = v; }
    [[nodiscard]] bool EditorEnabled() const { return m_editorEnabled; }
    void setEditorEnabled(bool enabled);
    [[nodiscard]] bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);
    [[nodiscard]] bool AutoSelect() const { return m_autoSelect; }
    void setAutoSelect(bool on) { m_autoSelect = on; }

    [[nodiscard]] QString text() const;
    void setText(const QString &text);
    [[nodiscard]] QLineEdit *lineEdit() const;
    [[nodiscard]] QToolButton *upButton() const { return m_up; }
    [[nodiscard]] QToolButton *downButton() const { return m_down; }

    // One step up or down; a read-only field only beeps.
    void UpClick();
    void DownClick();

    // The rules, without a widget.
    [[nodiscard]] static double limited(double value, double minimum, double maximum);
    [[nodiscard]] static QString format(double value, const QLocale &locale);
    // The typed character `c` is admitted.
    [[nodiscard]] static bool admits(QChar c, bool editorEnabled, const QLocale &locale);
    // The least height that shows the font: text height, a quarter of the smaller of it and the
    // system font's, four border widths and 2 pixels.
    [[nodiscard]] static int minimumHeightFor(const QFont &font, const QFont &systemFont);

signals:
    void Change();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    [[nodiscard]] QSize sizeHint() const override;

private:
    class Edit;
    friend class Edit;

    void step(double sign);
    // Writes the value back to itself: the canonical form of the limited number.
    void normalise();
    void layoutButtons();
    [[nodiscard]] QLocale numberLocale() const;

    Edit *m_edit = nullptr;
    QToolButton *m_up = nullptr;
    QToolButton *m_down = nullptr;
    double m_min = 0;
    double m_max = 0;
    double m_increment = 1.0;
    bool m_editorEnabled = true;
    bool m_readOnly = false;
    bool m_autoSelect = true;
};

} // namespace kvx
