// The LED lamp: its colour table and pictures checked pixel by pixel against a hand-drawn map,
// reload avoidance, blinking (stepped by hand, plus one run on the real timer) and the
// press-and-release darkening. How windows map status bits to colours is left to their tests.

#include "controls/LuLED.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <array>
#include <memory>

using namespace kvx;
using namespace std::chrono_literals;

using Color = TLedLittleColor;

namespace {

// W white, D dark grey, . light grey, o the disc colour.
constexpr std::array<const char *, kLedSize> kLayout{
    "WWWWWWWWWWWWWWWD", //
    "W..............D", //
    "W..............D", //
    "W....oooooo....D", //
    "W...oooooooo...D", //
    "W..oooooooooo..D", //
    "W.oooooWWWoooo.D", //
    "W.ooooWWWooooo.D", //
    "W.ooooWWoooooo.D", //
    "W.ooooWooooooo.D", //
    "W.oooooooooooo.D", //
    "W..oooooooooo..D", //
    "W...oooooooo...D", //
    "W....oooooo....D", //
    "W..............D", //
    "DDDDDDDDDDDDDDDD", //
};

// Upper bound for the real blink timer to expire; only reached when a test fails.
constexpr auto kTimerWait = 10000ms; // only reached when a test fails

QRgb layoutColor(char cell, QRgb disc)
{
    switch (cell) {
    case 'W':
        return qRgb(255, 255, 255);
    case 'D':
        return qRgb(128, 128, 128);
    case '.':
        return qRgb(192, 192, 192);
    default:
        return disc;
    }
}

// What the lamp actually painted, in the pictures' format.
QImage shown(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestLuLed : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void colorTable_data();
    void colorTable();
    void pictureMatchesLayout_data();
    void pictureMatchesLayout();
    void notAColorIsRejected();

    void defaults();
    void paintsPictureOfColor();
    void sameColorDoesNotReload();
    void clicColorOnlyStores();

    void zeroIntervalDoesNotBlink_data();
    void zeroIntervalDoesNotBlink();
    void phasesAlternateAndNotify();
    void blinkOffRestoresOwnColor_data();
    void blinkOffRestoresOwnColor();
    void intervalChangeRestartsTimer();
    void realTimerChangesPhase();

    void pressShowsClicColorUntilRelease_data();
    void pressShowsClicColorUntilRelease();
    void colorWrittenWhilePressedIsReplacedAtRelease();
    void pressWhileBlinkingChangesNothing();
    void secondButtonKeepsRememberedColor();
    void releaseAfterPressWhileBlinkingRestoresNothing();
    void blinkStartedWhilePressedKeepsOwnColor();

private:
    std::unique_ptr<QWidget> m_window;
    TLuLedLittle *m_led = nullptr;
};

void TestLuLed::init()
{
    // A parent window, as in the program, so mouse events travel the usual way.
    m_window = std::make_unique<QWidget>();
    m_window->resize(64, 64);
    m_led = new TLuLedLittle(m_window.get());
    m_led->move(8, 8);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestLuLed::cleanup()
{
    m_window.reset();
    m_led = nullptr;
}

void TestLuLed::colorTable_data()
{
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<Color>("color");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRgb>("disc");
    QTest::newRow("black") << 0 << Color::lcBlack << "BLACKLED" << qRgb(0, 0, 0);
    QTest::newRow("dark gray") << 1 << Color::lcDarkGray << "DARKGRAYLED" << qRgb(128, 128, 128);
    QTest::newRow("red") << 2 << Color::lcRed << "REDLED" << qRgb(255, 0, 0);
    QTest::newRow("dark red") << 3 << Color::lcDarkRed << "DARKREDLED" << qRgb(128, 0, 0);
    QTest::newRow("green") << 4 << Color::lcGreen << "GREENLED" << qRgb(0, 255, 0);
    QTest::newRow("dark green") << 5 << Color::lcDarkGreen << "DARKGREENLED" << qRgb(0, 128, 0);
    QTest::newRow("yellow") << 6 << Color::lcYellow << "YELLOWLED" << qRgb(255, 255, 0);
    QTest::newRow("dark yellow") << 7 << Color::lcDarkYellow << "DARKYELLOWLED"
                                 << qRgb(128, 128, 0);
    QTest::newRow("blue") << 8 << Color::lcBlue << "BLUELED" << qRgb(0, 0, 255);
    QTest::newRow("dark blue") << 9 << Color::lcDarkBlue << "DARKBLUELED" << qRgb(0, 0, 128);
    QTest::newRow("purple") << 10 << Color::lcPurple << "PURPLELED" << qRgb(255, 0, 255);
    QTest::newRow("dark purple") << 11 << Color::lcDarkPurple << "DARKPURPLELED"
                                 << qRgb(128, 0, 128);
    QTest::newRow("cyan") << 12 << Color::lcCyan << "CYANLED" << qRgb(0, 255, 255);
    QTest::newRow("dark cyan") << 13 << Color::lcDarkCyan << "DARKCYANLED" << qRgb(0, 128, 128);
}

void TestLuLed::colorTable()
{
    QFETCH(int, ordinal);
    QFETCH(Color, color);
    QFETCH(QString, name);
    QFETCH(QRgb, disc);
    QCOMPARE(static_cast<int>(color), ordinal);
    QVERIFY(isLedColor(color));
    QCOMPARE(QString::fromLatin1(ledPictureName(color)), name);
    QCOMPARE(ledDiscColor(color), disc);
}

void TestLuLed::pictureMatchesLayout_data()
{
    QTest::addColumn<Color>("color");
    QTest::addColumn<QRgb>("disc");
    QTest::newRow("black") << Color::lcBlack << qRgb(0, 0, 0);
    QTest::newRow("dark gray, same as the shadow") << Color::lcDarkGray << qRgb(128, 128, 128);
    QTest::newRow("red") << Color::lcRed << qRgb(255, 0, 0);
    QTest::newRow("dark yellow") << Color::lcDarkYellow << qRgb(128, 128, 0);
    QTest::newRow("cyan") << Color::lcCyan << qRgb(0, 255, 255);
    QTest::newRow("dark cyan") << Color::lcDarkCyan << qRgb(0, 128, 128);
}

void TestLuLed::pictureMatchesLayout()
{
    QFETCH(Color, color);
    QFETCH(QRgb, disc);
    const QImage picture = ledPicture(color);
    QCOMPARE(picture.size(), QSize(kLedSize, kLedSize));
    for (int y = 0; y < kLedSize; ++y) {
        for (int x = 0; x < kLedSize; ++x) {
            const QRgb expected = layoutColor(kLayout[static_cast<std::size_t>(y)][x], disc);
            if (picture.pixel(x, y) != expected) {
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(picture.pixel(x, y), 8, 16)
                                     .arg(expected, 8, 16)));
            }
        }
    }
}

void TestLuLed::notAColorIsRejected()
{
    // Ordinals come from callers' code; one past the table must not read past it.
    const auto bad = static_cast<Color>(kLedColorCount);
    QVERIFY(!isLedColor(bad));
    QVERIFY(ledPicture(bad).isNull());
    QVERIFY(ledPictureName(bad).empty());

    m_led->setLedColor(Color::lcCyan);
    const int loads = m_led->pictureLoads();
    m_led->setLedColor(bad);
    m_led->setClicLedColor(bad);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QCOMPARE(m_led->ClicLedColor(), Color::lcDarkGray);
    QCOMPARE(m_led->pictureLoads(), loads);
}

void TestLuLed::defaults()
{
    QCOMPARE(m_led->LedColor(), Color::lcBlack);
    QCOMPARE(m_led->ClicLedColor(), Color::lcDarkGray);
    QCOMPARE(m_led->Interval(), 250);
    QVERIFY(!m_led->Blink());
    QVERIFY(!m_led->isBlinking());
    QCOMPARE(m_led->minimumSize(), QSize(16, 16));
    QCOMPARE(m_led->maximumSize(), QSize(16, 16));
    QCOMPARE(m_led->picture(), ledPicture(Color::lcBlack));
}

void TestLuLed::paintsPictureOfColor()
{
    QCOMPARE(shown(*m_led), ledPicture(Color::lcBlack));
    m_led->setLedColor(Color::lcGreen);
    QCOMPARE(shown(*m_led), ledPicture(Color::lcGreen));
}

void TestLuLed::sameColorDoesNotReload()
{
    const int loads = m_led->pictureLoads();
    m_led->setLedColor(Color::lcBlack);
    QCOMPARE(m_led->pictureLoads(), loads);
    m_led->setLedColor(Color::lcCyan);
    QCOMPARE(m_led->pictureLoads(), loads + 1);
    m_led->setLedColor(Color::lcCyan);
    QCOMPARE(m_led->pictureLoads(), loads + 1);
    QCOMPARE(m_led->picture(), ledPicture(Color::lcCyan));
}

void TestLuLed::clicColorOnlyStores()
{
    const int loads = m_led->pictureLoads();
    m_led->setClicLedColor(Color::lcRed);
    QCOMPARE(m_led->ClicLedColor(), Color::lcRed);
    QCOMPARE(m_led->LedColor(), Color::lcBlack);
    QCOMPARE(m_led->pictureLoads(), loads);
}

void TestLuLed::zeroIntervalDoesNotBlink_data()
{
    QTest::addColumn<int>("interval");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
}

void TestLuLed::zeroIntervalDoesNotBlink()
{
    QFETCH(int, interval);
    QSignalSpy blinked(m_led, &TLuLedLittle::OnBlink);
    m_led->setLedColor(Color::lcCyan);
    m_led->setInterval(interval);
    m_led->setBlink(true);
    QVERIFY(!m_led->isBlinking());
    m_led->blinkPhaseChange();
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QCOMPARE(blinked.count(), 0);

    m_led->setInterval(100);
    QVERIFY(m_led->isBlinking());
    QCOMPARE(m_led->findChild<QTimer *>(QStringLiteral("blinkTimer"))->interval(), 100);
}

void TestLuLed::phasesAlternateAndNotify()
{
    QSignalSpy blinked(m_led, &TLuLedLittle::OnBlink);
    m_led->setLedColor(Color::lcCyan);
    m_led->setClicLedColor(Color::lcRed);
    m_led->setBlink(true);
    QVERIFY(m_led->isBlinking());
    QCOMPARE(m_led->findChild<QTimer *>(QStringLiteral("blinkTimer"))->interval(), 250);

    const int loads = m_led->pictureLoads();
    m_led->blinkPhaseChange();
    QCOMPARE(m_led->LedColor(), Color::lcRed);
    QCOMPARE(shown(*m_led), ledPicture(Color::lcRed));
    QCOMPARE(blinked.count(), 1);
    QCOMPARE(blinked.at(0).at(0).value<TLuLedLittle *>(), m_led);

    m_led->blinkPhaseChange();
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QCOMPARE(blinked.count(), 2);
    QCOMPARE(m_led->pictureLoads(), loads + 2);
}

void TestLuLed::blinkOffRestoresOwnColor_data()
{
    QTest::addColumn<int>("phaseChanges");
    QTest::addColumn<int>("reloadsAtOff");
    QTest::newRow("first phase leaves the picture") << 0 << 0;
    QTest::newRow("second phase restores") << 1 << 1;
    QTest::newRow("back in the first phase") << 2 << 0;
}

void TestLuLed::blinkOffRestoresOwnColor()
{
    QFETCH(int, phaseChanges);
    QFETCH(int, reloadsAtOff);
    m_led->setLedColor(Color::lcDarkCyan);
    m_led->setClicLedColor(Color::lcYellow);
    m_led->setBlink(true);
    for (int i = 0; i < phaseChanges; ++i) {
        m_led->blinkPhaseChange();
    }
    const int loads = m_led->pictureLoads();
    m_led->setBlink(false);
    QVERIFY(!m_led->isBlinking());
    QCOMPARE(m_led->LedColor(), Color::lcDarkCyan);
    QCOMPARE(m_led->pictureLoads(), loads + reloadsAtOff);
    QCOMPARE(shown(*m_led), ledPicture(Color::lcDarkCyan));
}

void TestLuLed::intervalChangeRestartsTimer()
{
    auto *timer = m_led->findChild<QTimer *>(QStringLiteral("blinkTimer"));
    m_led->setLedColor(Color::lcCyan);
    m_led->setClicLedColor(Color::lcRed);
    m_led->setBlink(true);
    m_led->blinkPhaseChange();
    QCOMPARE(m_led->LedColor(), Color::lcRed);

    m_led->setInterval(250); // unchanged: the phase goes on
    QCOMPARE(m_led->LedColor(), Color::lcRed);

    m_led->setInterval(100);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 100);
    m_led->blinkPhaseChange(); // starts again from the own colour
    QCOMPARE(m_led->LedColor(), Color::lcRed);

    m_led->setInterval(0);
    QVERIFY(!m_led->isBlinking());
    QVERIFY(m_led->Blink());
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
}

void TestLuLed::realTimerChangesPhase()
{
    QSignalSpy blinked(m_led, &TLuLedLittle::OnBlink);
    m_led->setLedColor(Color::lcGreen);
    m_led->setInterval(1);
    m_led->setBlink(true);
    QVERIFY(blinked.wait(static_cast<int>(kTimerWait.count())));
    QCOMPARE(m_led->LedColor(), Color::lcDarkGray);
}

void TestLuLed::pressShowsClicColorUntilRelease_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void TestLuLed::pressShowsClicColorUntilRelease()
{
    QFETCH(Qt::MouseButton, button);
    m_led->setLedColor(Color::lcCyan);
    QTest::mousePress(m_led, button);
    QCOMPARE(m_led->LedColor(), Color::lcDarkGray);
    QCOMPARE(shown(*m_led), ledPicture(Color::lcDarkGray));
    QTest::mouseRelease(m_led, button);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QCOMPARE(shown(*m_led), ledPicture(Color::lcCyan));
}

void TestLuLed::colorWrittenWhilePressedIsReplacedAtRelease()
{
    m_led->setLedColor(Color::lcCyan);
    QTest::mousePress(m_led, Qt::LeftButton);
    m_led->setLedColor(Color::lcDarkCyan);
    QCOMPARE(m_led->LedColor(), Color::lcDarkCyan);
    QTest::mouseRelease(m_led, Qt::LeftButton);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
}

void TestLuLed::pressWhileBlinkingChangesNothing()
{
    m_led->setLedColor(Color::lcCyan);
    m_led->setBlink(true);
    QTest::mousePress(m_led, Qt::LeftButton);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QTest::mouseRelease(m_led, Qt::LeftButton);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
}

void TestLuLed::secondButtonKeepsRememberedColor()
{
    // Catches a second press remembering the darkened colour and leaving the lamp dark.
    m_led->setLedColor(Color::lcCyan);
    QTest::mousePress(m_led, Qt::LeftButton);
    QTest::mousePress(m_led, Qt::RightButton);
    QTest::mouseRelease(m_led, Qt::RightButton);
    QCOMPARE(m_led->LedColor(), Color::lcDarkGray);
    QTest::mouseRelease(m_led, Qt::LeftButton);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
}

void TestLuLed::releaseAfterPressWhileBlinkingRestoresNothing()
{
    // Catches a release putting back a colour no press saved (the initial black).
    m_led->setLedColor(Color::lcCyan);
    m_led->setBlink(true);
    QTest::mousePress(m_led, Qt::LeftButton);
    m_led->setBlink(false);
    QTest::mouseRelease(m_led, Qt::LeftButton);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
}

void TestLuLed::blinkStartedWhilePressedKeepsOwnColor()
{
    // Catches the darkened colour becoming the blink's own colour for good.
    m_led->setLedColor(Color::lcCyan);
    m_led->setClicLedColor(Color::lcRed);
    QTest::mousePress(m_led, Qt::LeftButton);
    QCOMPARE(m_led->LedColor(), Color::lcRed);
    m_led->setBlink(true);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    m_led->blinkPhaseChange();
    m_led->blinkPhaseChange();
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
    QTest::mouseRelease(m_led, Qt::LeftButton);
    m_led->setBlink(false);
    QCOMPARE(m_led->LedColor(), Color::lcCyan);
}

QTEST_MAIN(TestLuLed)
#include "tst_luled.moc"
