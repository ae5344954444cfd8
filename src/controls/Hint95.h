#pragma once

// Balloon hints for every window of the program. One THint95, made by the main window, takes
// over the hints of the whole application: Qt's own tool tips never show; instead each
// control's hint text appears in a THintWindow95 after the mouse has rested on the control for
// 500 ms (25 ms when moving on from a hint already shown), word-wrapped within the maximum
// width, just below the cursor image, and disappears after the time-out. The owner's
// OnShowHint sets the width and the time-out of each hint. Geometry rules are free functions
// that tests drive without a screen. User-interface thread only.

#include <QPointer>

#include <optional>
#include <QWidget>

#include <functional>

class QTimer;

namespace kvx {

enum class THintStyle
{
    hsFlat,
    hsOffice97,
    hsWindows95,
};

// What a hint is about to show, as OnShowHint may change it.
struct THintInfo
{
    QWidget *HintControl = nullptr;
    int HintMaxWidth = 0;   // pixels, the margins included; 0: the screen's width
    int HideTimeout = 5000; // ms; 0 or less: the hint stays until the mouse moves on
};

// The margins a style adds around the text, in total: horizontal, vertical.
[[nodiscard]] QSize hintMargins(THintStyle style);
// How far below the cursor's hot spot the lowest row of its image lies: from the image's
// mask or alpha where the cursor has one, otherwise 32 less the hot spot.
[[nodiscard]] int cursorDepth(const QCursor &cursor);
// Where a hint window of `size` goes for a cursor at `cursor` whose image reaches `depth`
// below it: left edge at the cursor, top below the cursor image; moved left to end at the
// screen's right edge; past the bottom edge, above the cursor (Office 97, or a hinted control
// that is a window) or above the hinted control.
[[nodiscard]] QRect placeHint(QSize size, QPoint cursor, int depth, const QRect &screen,
                              const QRect &control, bool controlIsWindow, THintStyle style);

class THintWindow95 : public QWidget
{
    Q_OBJECT

public:
    explicit THintWindow95(THintStyle style, const QFont &font);

    void setHintStyle(THintStyle style) { m_style = style; }
    void setHintFont(const QFont &font);
    // The window's size for `text` word-wrapped within `maxWidth` (margins included), at 0, 0.
    [[nodiscard]] QRect CalcHintRect(int maxWidth, const QString &text) const;
    // Shows `text` in `rect`, topmost, without taking the focus.
    void ActivateHint(const QRect &rect, const QString &text);
    [[nodiscard]] QString text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    THintStyle m_style;
    QString m_text;
};

class THint95 : public QObject
{
    Q_OBJECT

public:
    // The application's hint timing, in ms.
    static constexpr int kHintPause = 500;
    static constexpr int kHintShortPause = 25;
    static constexpr int kHintHidePause = 5000;

    explicit THint95(QObject *parent = nullptr);
    ~THint95() override;

    [[nodiscard]] THintStyle HintStyle() const { return m_style; }
    void setHintStyle(THintStyle style);
    [[nodiscard]] QFont hintFont() const { return m_font; }

    // Called before each hint shows, with its text, whether it may show, and its information.
    std::function<void(QString &hint, bool &canShow, THintInfo &info)> OnShowHint;

    // The hint of `control`, shown at once for a cursor at `cursor` (what the rest of the mouse
    // leads to); false when it has no hint or OnShowHint refused it.
    bool showHint(QWidget *control, QPoint cursor);
    void cancelHint();
    [[nodiscard]] THintWindow95 *hintWindow() const { return m_window; }
    [[nodiscard]] bool hintShown() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The control whose hint covers `w`: itself or the nearest parent in its window with one.
    [[nodiscard]] static QWidget *hintedControl(QWidget *w);
    void mouseAt(QPoint global);
    // The mouse has left the program's windows: no control is under it any more.
    void forgetControl();
    void readFont();

    THintStyle m_style = THintStyle::hsWindows95;
    QFont m_font;
    THintWindow95 *m_window = nullptr;
    QTimer *m_showTimer = nullptr;
    QTimer *m_hideTimer = nullptr;
    QPointer<QWidget> m_control; // the control under the mouse whose hint is due or shown
    QPoint m_cursor;
    std::optional<QPoint> m_lastMove; // where mouseAt last looked
};

} // namespace kvx
