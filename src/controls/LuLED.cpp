#include "controls/LuLED.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <array>

namespace kvx {

namespace {

struct LedColorInfo
{
    std::string_view pictureName;
    QRgb disc;
};

// Indexed by ordinal.
constexpr std::array<LedColorInfo, kLedColorCount> kColorTable{{
    {"BLACKLED", qRgb(0, 0, 0)},
    {"DARKGRAYLED", qRgb(128, 128, 128)},
    {"REDLED", qRgb(255, 0, 0)},
    {"DARKREDLED", qRgb(128, 0, 0)},
    {"GREENLED", qRgb(0, 255, 0)},
    {"DARKGREENLED", qRgb(0, 128, 0)},
    {"YELLOWLED", qRgb(255, 255, 0)},
    {"DARKYELLOWLED", qRgb(128, 128, 0)},
    {"BLUELED", qRgb(0, 0, 255)},
    {"DARKBLUELED", qRgb(0, 0, 128)},
    {"PURPLELED", qRgb(255, 0, 255)},
    {"DARKPURPLELED", qRgb(128, 0, 128)},
    {"CYANLED", qRgb(0, 255, 255)},
    {"DARKCYANLED", qRgb(0, 128, 128)},
}};

constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kDarkGray = qRgb(128, 128, 128);
constexpr QRgb kLightGray = qRgb(192, 192, 192);

// One horizontal run of pixels, both ends included.
struct Span
{
    int row;
    int first;
    int last;
};

constexpr std::array<Span, 11> kDisc{{
    {3, 5, 10},
    {4, 4, 11},
    {5, 3, 12},
    {6, 2, 13},
    {7, 2, 13},
    {8, 2, 13},
    {9, 2, 13},
    {10, 2, 13},
    {11, 3, 12},
    {12, 4, 11},
    {13, 5, 10},
}};

// The reflection at the upper left that makes the disc look domed.
constexpr std::array<Span, 4> kHighlight{{
    {6, 7, 9},
    {7, 6, 8},
    {8, 6, 7},
    {9, 6, 6},
}};

void fillSpans(QImage &image, const auto &spans, QRgb color)
{
    for (const Span &span : spans) {
        for (int x = span.first; x <= span.last; ++x) {
            image.setPixel(x, span.row, color);
        }
    }
}

QImage drawPicture(QRgb disc)
{
    constexpr int last = kLedSize - 1;
    QImage image(kLedSize, kLedSize, QImage::Format_RGB32);
    image.fill(kLightGray);
    // Lit from the upper left: white on the top and left edges, dark grey opposite; the two
    // corners where they meet belong to the shadow.
    for (int i = 0; i < last; ++i) {
        image.setPixel(i, 0, kWhite);
        image.setPixel(0, i, kWhite);
    }
    for (int i = 0; i <= last; ++i) {
        image.setPixel(i, last, kDarkGray);
        image.setPixel(last, i, kDarkGray);
    }
    fillSpans(image, kDisc, disc);
    fillSpans(image, kHighlight, kWhite);
    return image;
}

// Drawn on first use and never changed, so handing out shallow copies is safe on any thread.
const std::array<QImage, kLedColorCount> &pictures()
{
    static const std::array<QImage, kLedColorCount> cache = [] {
        std::array<QImage, kLedColorCount> images;
        for (int i = 0; i < kLedColorCount; ++i) {
            images[static_cast<std::size_t>(i)] =
                drawPicture(kColorTable[static_cast<std::size_t>(i)].disc);
        }
        return images;
    }();
    return cache;
}

[[nodiscard]] std::size_t indexOf(TLedLittleColor color)
{
    return static_cast<std::size_t>(color);
}

} // namespace

std::string_view ledPictureName(TLedLittleColor color)
{
    return isLedColor(color) ? kColorTable[indexOf(color)].pictureName : std::string_view{};
}

QRgb ledDiscColor(TLedLittleColor color)
{
    return isLedColor(color) ? kColorTable[indexOf(color)].disc : qRgb(0, 0, 0);
}

QImage ledPicture(TLedLittleColor color)
{
    return isLedColor(color) ? pictures()[indexOf(color)] : QImage{};
}

TLuLedLittle::TLuLedLittle(QWidget *parent)
    : QWidget(parent)
    , m_blinkTimer(new QTimer(this))
{
    setFixedSize(kLedSize, kLedSize);
    m_blinkTimer->setObjectName(QStringLiteral("blinkTimer"));
    connect(m_blinkTimer, &QTimer::timeout, this, &TLuLedLittle::blinkPhaseChange);
    loadPicture();
}

void TLuLedLittle::setLedColor(TLedLittleColor color)
{
    if (color == m_ledColor || !isLedColor(color)) {
        return;
    }
    m_ledColor = color;
    loadPicture();
}

void TLuLedLittle::setClicLedColor(TLedLittleColor color)
{
    if (isLedColor(color)) {
        m_clicLedColor = color;
    }
}

void TLuLedLittle::setInterval(int milliseconds)
{
    if (milliseconds == m_interval) {
        return;
    }
    stopBlinkTimer();
    m_interval = milliseconds;
    if (m_blink) {
        startBlinkTimer();
    }
}

void TLuLedLittle::setBlink(bool on)
{
    if (on == m_blink) {
        return;
    }
    m_blink = on;
    if (on) {
        // Otherwise the darkened colour would be saved as the lamp's own colour by the first
        // phase change, and the release, which leaves a blinking lamp alone, would never put
        // the real one back.
        endPress();
        startBlinkTimer();
    } else {
        stopBlinkTimer();
    }
}

bool TLuLedLittle::isBlinking() const
{
    return m_blinkTimer->isActive();
}

void TLuLedLittle::blinkPhaseChange()
{
    if (!m_blinkTimer->isActive()) {
        return;
    }
    m_ownPhase = !m_ownPhase;
    if (m_ownPhase) {
        m_ledColor = m_blinkSavedColor;
    } else {
        m_blinkSavedColor = m_ledColor;
        m_ledColor = m_clicLedColor;
    }
    // Assigned directly, not through the setter: the phase has changed even when both colours
    // are the same, and the picture follows the phase.
    loadPicture();
    emit OnBlink(this);
}

void TLuLedLittle::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
}

void TLuLedLittle::mousePressEvent(QMouseEvent *event)
{
    // Only the first of several held buttons remembers the colour; a second press would
    // otherwise remember the darkened one and leave the lamp dark after release.
    if (!m_blink && !m_pressed) {
        m_pressed = true;
        m_pressSavedColor = m_ledColor;
        setLedColor(m_clicLedColor);
    }
    QWidget::mousePressEvent(event);
}

void TLuLedLittle::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    // Restore only what a press of this lamp saved, once the last button is up: a release
    // whose press came while blinking has nothing to put back.
    if (event->buttons() == Qt::NoButton) {
        endPress();
    }
}

void TLuLedLittle::loadPicture()
{
    m_picture = ledPicture(m_ledColor);
    ++m_pictureLoads;
    update();
}

void TLuLedLittle::startBlinkTimer()
{
    if (m_interval > 0) {
        m_blinkTimer->start(m_interval);
    }
}

void TLuLedLittle::stopBlinkTimer()
{
    m_blinkTimer->stop();
    if (!m_ownPhase) {
        m_ownPhase = true;
        setLedColor(m_blinkSavedColor);
    }
}

void TLuLedLittle::endPress()
{
    if (!m_pressed) {
        return;
    }
    m_pressed = false;
    // Deliberately overwrites any colour the program wrote while the button was held; the
    // next status update brings the lamp current again.
    setLedColor(m_pressSavedColor);
}

} // namespace kvx
