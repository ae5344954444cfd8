// The balloon hints: where a hint window goes (below the cursor image, kept on the screen),
// how a long hint wraps within the width, and the hint of a control under a resting mouse
// appearing, replacing Qt's tool tip, and going after its time-out.

#include "controls/Hint95.h"

#include <QBitmap>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace kvx;

class TestHint95 : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void cursorDepthFromItsImage();
    void longHintWraps();
    void restingMouseShowsTheHint();
    void comingBackToTheSamePixelShowsTheHint();
    void everyHintHidesAfterFiveSeconds_data();
    void everyHintHidesAfterFiveSeconds();
};

void TestHint95::placement_data()
{
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<bool>("controlIsWindow");
    QTest::addColumn<int>("style");
    QTest::addColumn<QRect>("placed");
    QTest::addColumn<QRect>("control");
    // A 100 x 30 hint, a cursor image 20 deep, a 1024 x 768 screen, the control at y 700..719.
    const auto win95 = int(THintStyle::hsWindows95);
    const QRect control(0, 700, 300, 20);
    QTest::newRow("below the cursor")
        << QPoint(100, 100) << false << win95 << QRect(100, 120, 100, 30) << control;
    QTest::newRow("at the right edge")
        << QPoint(1000, 100) << false << win95 << QRect(924, 120, 100, 30) << control;
    QTest::newRow("at the bottom: above the control")
        << QPoint(100, 740) << false << win95 << QRect(100, 670, 100, 30) << control;
    QTest::newRow("at the bottom: a window, above the cursor")
        << QPoint(100, 740) << true << win95 << QRect(100, 708, 100, 30) << control;
    QTest::newRow("at the bottom: Office 97, above the cursor")
        << QPoint(100, 740) << false << int(THintStyle::hsOffice97) << QRect(100, 708, 100, 30)
        << control;
    QTest::newRow("bottom right corner")
        << QPoint(1020, 760) << false << win95 << QRect(924, 670, 100, 30) << control;
    // No room above a tall control: the hint stays on the screen.
    QTest::newRow("at the bottom: a tall control")
        << QPoint(100, 760) << false << win95 << QRect(100, 0, 100, 30) << QRect(0, 10, 300, 758);
}

void TestHint95::placement()
{
    QFETCH(QPoint, cursor);
    QFETCH(bool, controlIsWindow);
    QFETCH(int, style);
    QFETCH(QRect, placed);
    QFETCH(QRect, control);
    QCOMPARE(placeHint({100, 30}, cursor, 20, QRect(0, 0, 1024, 768), control, controlIsWindow,
                       THintStyle(style)),
             placed);
}

void TestHint95::cursorDepthFromItsImage()
{
    // An arrow 19 rows high in a 32 x 32 image, its hot spot 2 rows down.
    QPixmap image(32, 32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(0, 0, 8, 19, Qt::black);
    QCOMPARE(cursorDepth(QCursor(image, 0, 2)), 16);
    QBitmap bits(32, 32);
    bits.clear();
    QBitmap mask(32, 32);
    mask.clear();
    QPainter(&mask).fillRect(0, 0, 4, 11, Qt::color1);
    QCOMPARE(cursorDepth(QCursor(bits, mask, 0, 0)), 10);
    QCOMPARE(cursorDepth(QCursor(Qt::ArrowCursor)), 32 - QCursor(Qt::ArrowCursor).hotSpot().y());
}

void TestHint95::longHintWraps()
{
    THintWindow95 window(THintStyle::hsWindows95, QFont());
    const QString longHint = QStringLiteral(
        "Click this button to read the contents of the KVX310 RAM (driver configuration and "
        "microstepping) into the editor");
    const QRect wrapped = window.CalcHintRect(200, longHint);
    const QRect single = window.CalcHintRect(200, QStringLiteral("Short"));
    QVERIFY(wrapped.width() <= 200); // the text within 192, the margins 8
    QVERIFY(wrapped.height() >= 2 * (single.height() - 4) + 4);
    const int text = window.fontMetrics().horizontalAdvance(QStringLiteral("Short"));
    QVERIFY(qAbs(single.width() - (text + 8)) <= 1);
}

void TestHint95::restingMouseShowsTheHint()
{
    THint95 hints;
    int asked = 0;
    hints.OnShowHint = [&asked](QString &, bool &, THintInfo &info) {
        ++asked;
        info.HintMaxWidth = 200;
        info.HideTimeout = 100; // stands for the program's 5 s
    };
    QWidget window;
    window.resize(300, 200);
    auto *button = new QPushButton(QStringLiteral("Go"), &window);
    button->setGeometry(20, 20, 100, 30);
    button->setToolTip(QStringLiteral("Start the motor."));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Qt's own tool tip never shows.
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
    QVERIFY(QApplication::sendEvent(button, &help));
    QVERIFY(!QToolTip::isVisible());

    QTest::mouseMove(button, QPoint(10, 10));
    QVERIFY(!hints.hintShown()); // not before the mouse has rested
    QTRY_VERIFY_WITH_TIMEOUT(hints.hintShown(), 2000);
    QCOMPARE(hints.hintWindow()->text(), QStringLiteral("Start the motor."));
    QVERIFY(hints.hintWindow()->geometry().top() > button->mapToGlobal(QPoint(10, 10)).y());
    QTRY_VERIFY_WITH_TIMEOUT(!hints.hintShown(), 2000);
    QCOMPARE(asked, 1);
    // Resting on the same control does not bring it back.
    QTest::mouseMove(button, QPoint(12, 12));
    QTest::qWait(THint95::kHintPause + 100);
    QVERIFY(!hints.hintShown());
}

void TestHint95::comingBackToTheSamePixelShowsTheHint()
{
    THint95 hints;
    hints.OnShowHint = [](QString &, bool &, THintInfo &info) { info.HideTimeout = 5000; };
    QWidget window;
    window.resize(300, 200);
    auto *button = new QPushButton(QStringLiteral("Go"), &window);
    button->setGeometry(20, 20, 100, 30);
    button->setToolTip(QStringLiteral("Start the motor."));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(button, QPoint(10, 10));
    QTRY_VERIFY_WITH_TIMEOUT(hints.hintShown(), 2000);
    // Hidden after the time asked, on a timer that may not fire early.
    const auto *hide = hints.findChild<QTimer *>(QStringLiteral("HideTimer"));
    QVERIFY(hide && hide->isActive());
    QCOMPARE(hide->interval(), 5000);
    QCOMPARE(hide->timerType(), Qt::PreciseTimer);
    // The mouse leaves the program's windows and comes back to the same pixel.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&window, &leave);
    QVERIFY(!hints.hintShown());
    QMouseEvent back(QEvent::MouseMove, QPointF(10, 10), button->mapToGlobal(QPointF(10, 10)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &back);
    QTRY_VERIFY_WITH_TIMEOUT(hints.hintShown(), 2000);
}

void TestHint95::everyHintHidesAfterFiveSeconds_data()
{
    QTest::addColumn<bool>("handler"); // an OnShowHint that leaves the time as it is
    QTest::newRow("the component's own time") << false;
    QTest::newRow("a handler that sets the width only") << true;
}

void TestHint95::everyHintHidesAfterFiveSeconds()
{
    // The program's own time, not one the test sets (60 s passed the suite).
    QFETCH(bool, handler);
    THint95 hints;
    if (handler)
        hints.OnShowHint = [](QString &, bool &, THintInfo &info) { info.HintMaxWidth = 200; };
    QPushButton button(QStringLiteral("Go"));
    button.setToolTip(QStringLiteral("Start the motor."));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QVERIFY(hints.showHint(&button, button.mapToGlobal(QPoint(5, 5))));
    const auto *hide = hints.findChild<QTimer *>(QStringLiteral("HideTimer"));
    QVERIFY(hide && hide->isActive());
    QCOMPARE(hide->interval(), 5000);
}

QTEST_MAIN(TestHint95)
#include "tst_hint95.moc"
