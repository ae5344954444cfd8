// Every caption, label, group title, tab and list item of every window, readable in full in
// the font the program uses here, at the positions of the layouts; the windows' pages are held
// to it as they are added. The measuring is tests/common/TextFit.h's. And every hint of every
// window shown by the main window's balloon hints, within their width and time.

#include "app/ProgramLook.h"
#include "common/AppFixture.h"
#include "common/TextFit.h"

#include <QLabel>
#include <QMap>
#include <QTest>

using namespace kvx;

class TestCaptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextFits_data();
    void everyTextFits();
    void everyHintIsABalloon_data() { everyTextFits_data(); }
    void everyHintIsABalloon();
    void everyFieldHasItsOwnName_data() { everyTextFits_data(); }
    void everyFieldHasItsOwnName();
};

void TestCaptions::initTestCase()
{
    applyProgramLook();
    qInfo("font: %s %g pt", qPrintable(QApplication::font().family()),
          QApplication::font().pointSizeF());
}

void TestCaptions::everyTextFits_data()
{
    QTest::addColumn<int>("window");
    QTest::newRow("main window") << 0;
    QTest::newRow("register editor") << 1;
    QTest::newRow("graphic display") << 2;
    QTest::newRow("warning") << 3;
    QTest::newRow("traffic view") << 4;
}

void TestCaptions::everyTextFits()
{
    QFETCH(int, window);
    AppFixture app;
    app.createWindows();
    QWidget *const windows[] = {&app.main(), &app.advanced(), &app.graphics(), &app.warning(),
                                &app.traffic()};
    QWidget *w = windows[window];
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // Each of the longest texts the status lines show, in turn.
    for (const QString &text : {QStringLiteral("KVX310 evaluation board detected!"),
                                QStringLiteral("Please check the cable and power.")}) {
        app.main().StaticInfo2->setText(text);
        const QStringList clipped = textfit::clippedTexts(w);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1String("\n"))));
    }
}

void TestCaptions::everyHintIsABalloon()
{
    QFETCH(int, window);
    AppFixture app;
    app.createWindows();
    QWidget *const windows[] = {&app.main(), &app.advanced(), &app.graphics(), &app.warning(),
                                &app.traffic()};
    QWidget *w = windows[window];
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    THint95 &hints = *app.main().Hint95;
    int hinted = 0;
    for (QWidget *c : w->findChildren<QWidget *>()) {
        if (c->toolTip().isEmpty())
            continue;
        ++hinted;
        // No control keeps a time of its own.
        QVERIFY2(c->toolTipDuration() < 0, qPrintable(c->objectName()));
        QVERIFY2(hints.showHint(c, c->mapToGlobal(QPoint(2, 2))), qPrintable(c->objectName()));
        QCOMPARE(hints.hintWindow()->text(), c->toolTip());
        QVERIFY2(hints.hintWindow()->width() <= 200, qPrintable(c->objectName()));
    }
    QVERIFY(hinted > 0 || window == 3);
}

void TestCaptions::everyFieldHasItsOwnName()
{
    // A screen reader tells a window's display fields and lamps apart by their names only.
    QFETCH(int, window);
    AppFixture app;
    app.createWindows();
    QWidget *const windows[] = {&app.main(), &app.advanced(), &app.graphics(), &app.warning(),
                                &app.traffic()};
    QMap<QString, QString> named; // accessible name -> object name
    for (const QWidget *w : windows[window]->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(w);
        if (!(label && label->frameShape() != QFrame::NoFrame) && !w->inherits("kvx::TLuLedLittle"))
            continue;
        const QString name = w->accessibleName();
        QVERIFY2(!name.isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(!named.contains(name), qPrintable(name + QStringLiteral(": ") + named.value(name) +
                                                   QStringLiteral(", ") + w->objectName()));
        named.insert(name, w->objectName());
    }
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
