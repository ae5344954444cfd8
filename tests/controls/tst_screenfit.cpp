// Windows kept inside the screen: the geometry rule at the scales users run (a 1600 x 1200
// screen at 100 %, 150 % and 200 % holds 1600 x 1200, 1066 x 800 and 800 x 600 logical pixels),
// and a window shown on the offscreen screen. Which windows the program fits is its entry's.

#include "controls/ScreenFit.h"

#include <QScreen>
#include <QTest>
#include <QWidget>

using namespace kvx;

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void fitInside_data();
    void fitInside();
    void shownWindowLiesInside();
    void fixedClientScrollsOnlyWhereCut_data();
    void fixedClientScrollsOnlyWhereCut();
};

void TestScreenFit::fitInside_data()
{
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");

    // Frames of 4 pixels with a 20-pixel title bar; client areas as the layouts have them.
    const QRect main(307, 153, 628, 743);
    const QRect editor(196, 131, 863, 490);
    const QRect graphics(365, 225, 657, 566);
    const QSize scrolls(100, 100);
    const QRect at100(0, 0, 1600, 1200);
    const QRect at150(0, 0, 1066, 800);
    const QRect at200(0, 0, 800, 600);
    QTest::newRow("100 %: where the layout puts it") << main << scrolls << at100 << main;
    QTest::newRow("150 %: main window moved up")
        << main << scrolls << at150 << QRect(307, 53, 628, 743);
    QTest::newRow("200 %: main window moved and cut, it scrolls")
        << main << scrolls << at200 << QRect(168, 24, 628, 572);
    QTest::newRow("150 %: editor fits") << editor << scrolls << at150 << QRect(196, 131, 863, 490);
    QTest::newRow("200 %: editor cut to the width, it scrolls")
        << editor << scrolls << at200 << QRect(4, 106, 792, 490);
    QTest::newRow("200 %: fixed window moved whole")
        << graphics << graphics.size() << at200 << QRect(139, 30, 657, 566);
    QTest::newRow("larger than the screen: the title bar stays on it")
        << QRect(100, 100, 900, 700) << QSize(900, 700) << at200 << QRect(4, 24, 900, 700);
    QTest::newRow("a panel at the top, a second screen on the right")
        << QRect(10, 10, 300, 200) << QSize(300, 200) << QRect(1600, 30, 1600, 1170)
        << QRect(1604, 54, 300, 200);
}

void TestScreenFit::fitInside()
{
    QFETCH(QRect, geometry);
    QFETCH(QSize, minimum);
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    QCOMPARE(kvx::fitInside(geometry, QMargins(4, 24, 4, 4), minimum, available), expected);
}

void TestScreenFit::shownWindowLiesInside()
{
    QWidget window;
    const QRect available = window.screen()->availableGeometry();
    window.setMinimumSize(100, 100);
    window.resize(available.width() + 300, available.height() + 200);
    window.move(available.topLeft() + QPoint(303, 129));
    keepInsideScreen(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY2(available.contains(window.frameGeometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(window.frameGeometry().x())
                            .arg(window.frameGeometry().y())
                            .arg(window.frameGeometry().width())
                            .arg(window.frameGeometry().height())));
}

void TestScreenFit::fixedClientScrollsOnlyWhereCut_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QSize>("expected");
    // Frames of 4 pixels with a 20-pixel title bar, scroll bars 16 wide.
    const QSize graphics(657, 566);
    QTest::newRow("100 %: the whole layout") << graphics << QRect(0, 0, 1920, 1050) << graphics;
    QTest::newRow("200 %: cut in height, a vertical bar beside it")
        << graphics << QRect(0, 0, 960, 520) << QSize(673, 492);
    QTest::newRow("cut in width: a bar below, which cuts the height too")
        << QSize(863, 490) << QRect(0, 0, 768, 520) << QSize(760, 492);
    QTest::newRow("a bar below that the height still holds")
        << QSize(863, 490) << QRect(0, 0, 768, 600) << QSize(760, 506);
    QTest::newRow("never below 100 x 100") << graphics << QRect(0, 0, 80, 90) << QSize(100, 100);
}

void TestScreenFit::fixedClientScrollsOnlyWhereCut()
{
    QFETCH(QSize, client);
    QFETCH(QRect, available);
    QFETCH(QSize, expected);
    QCOMPARE(fixedSizeInside(client, QMargins(4, 24, 4, 4), available, 16), expected);
}

QTEST_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
