// Every caption, label, group title, tab and list item of every window, readable in full in
// the font the program uses here, at the positions of the layouts; the windows' pages are held
// to it as they are added. The measuring is tests/common/TextFit.h's.

#include "app/ProgramLook.h"
#include "common/AppFixture.h"
#include "common/TextFit.h"

#include <QLabel>
#include <QTest>

using namespace kvx;

class TestCaptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextFits_data();
    void everyTextFits();
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
}

void TestCaptions::everyTextFits()
{
    QFETCH(int, window);
    AppFixture app;
    app.createWindows();
    QWidget *const windows[] = {&app.main(), &app.advanced(), &app.graphics(), &app.warning()};
    QWidget *w = windows[window];
    // The longest texts the status lines show.
    for (const QString &text : {QStringLiteral("KVX310 evaluation board detected!"),
                                QStringLiteral("Please check the cable and power.")})
        app.main().StaticInfo2->setText(text);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const QStringList clipped = textfit::clippedTexts(w);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1String("\n"))));
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
