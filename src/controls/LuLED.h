#pragma once

// TLuLedLittle: the 16 x 16 lamp the windows use for single-bit status and register flags
// (set bit lcCyan, clear bit lcDarkCyan, not yet read lcBlack). It owns its blink timer and
// shows one of fourteen shared read-only pictures; it lives on the GUI thread. The picture
// functions below are pure and safe from any thread.

#include <QImage>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <string_view>

class QTimer;

namespace kvx {

// Callers store and compare the ordinals, so the order is fixed.
enum class TLedLittleColor : std::uint8_t
{
    lcBlack,
    lcDarkGray,
    lcRed,
    lcDarkRed,
    lcGreen,
    lcDarkGreen,
    lcYellow,
    lcDarkYellow,
    lcBlue,
    lcDarkBlue,
    lcPurple,
    lcDarkPurple,
    lcCyan,
    lcDarkCyan,
};

inline constexpr int kLedColorCount = 14;

// How a lamp shows one bit: cyan when it is set, dark cyan when it is clear.
[[nodiscard]] constexpr TLedLittleColor bitLedColor(bool set)
{
    return set ? TLedLittleColor::lcCyan : TLedLittleColor::lcDarkCyan;
}
inline constexpr int kLedSize = 16;
inline constexpr std::chrono::milliseconds kDefaultBlinkInterval{250};

// A value cast from an ordinal outside 0..13 is not a colour; the functions below and the
// lamp's setters reject it instead of indexing past their tables.
[[nodiscard]] constexpr bool isLedColor(TLedLittleColor color)
{
    return static_cast<int>(color) < kLedColorCount;
}

// Resource name of the colour's picture ("CYANLED"); empty for a value that is not a colour.
[[nodiscard]] std::string_view ledPictureName(TLedLittleColor color);

// Colour of the lit disc; black for a value that is not a colour.
[[nodiscard]] QRgb ledDiscColor(TLedLittleColor color);

// The 16 x 16 picture of the colour, drawn once and then shared; a null image for a value
// that is not a colour.
[[nodiscard]] QImage ledPicture(TLedLittleColor color);

class TLuLedLittle : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(kvx::TLedLittleColor LedColor READ LedColor WRITE setLedColor)
    Q_PROPERTY(kvx::TLedLittleColor ClicLedColor READ ClicLedColor WRITE setClicLedColor)
    Q_PROPERTY(int Interval READ Interval WRITE setInterval)
    Q_PROPERTY(bool Blink READ Blink WRITE setBlink)

public:
    explicit TLuLedLittle(QWidget *parent = nullptr);

    [[nodiscard]] TLedLittleColor LedColor() const { return m_ledColor; }
    void setLedColor(TLedLittleColor color);

    // Shown while pressed and as the second blink colour; storing it never changes the
    // picture on screen.
    [[nodiscard]] TLedLittleColor ClicLedColor() const { return m_clicLedColor; }
    void setClicLedColor(TLedLittleColor color);

    // Milliseconds per blink phase; 0 or less keeps the lamp still even with Blink on.
    [[nodiscard]] int Interval() const { return m_interval; }
    void setInterval(int milliseconds);

    [[nodiscard]] bool Blink() const { return m_blink; }
    void setBlink(bool on);

    // True while the blink timer runs (Blink on and a positive Interval).
    [[nodiscard]] bool isBlinking() const;

    // The picture currently shown, and how often one has been loaded since construction;
    // the count lets a caller see that an unchanged colour costs no reload.
    [[nodiscard]] const QImage &picture() const { return m_picture; }
    [[nodiscard]] int pictureLoads() const { return m_pictureLoads; }

    [[nodiscard]] QSize sizeHint() const override { return {kLedSize, kLedSize}; }

public slots:
    // Runs on every expiry of the blink timer; public so that a test can step the phases
    // without waiting. Does nothing while the timer is stopped, so a stray call cannot leave
    // the lamp in the second phase with nothing to bring it back.
    void blinkPhaseChange();

signals:
    void OnBlink(kvx::TLuLedLittle *sender);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void loadPicture();
    void startBlinkTimer();
    void stopBlinkTimer();
    void endPress();

    TLedLittleColor m_ledColor = TLedLittleColor::lcBlack;
    TLedLittleColor m_clicLedColor = TLedLittleColor::lcDarkGray;
    int m_interval = static_cast<int>(kDefaultBlinkInterval.count());
    bool m_blink = false;

    QTimer *m_blinkTimer = nullptr;
    bool m_ownPhase = true; // false while ClicLedColor stands in during blinking
    TLedLittleColor m_blinkSavedColor = TLedLittleColor::lcBlack;

    bool m_pressed = false; // a press has darkened the lamp and its release is still due
    TLedLittleColor m_pressSavedColor = TLedLittleColor::lcBlack;

    QImage m_picture;
    int m_pictureLoads = 0;
};

} // namespace kvx
