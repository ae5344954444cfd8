// The register editor window's frame: its pages, the caption of each, and the shown flag the
// poll scheduler reads. The pages' contents are tested with them.

#include "editor/Ev310Registers.h"

#include <QTabWidget>
#include <QTest>

using namespace kvx;

class TestFormAdvanced : public QObject
{
    Q_OBJECT

private slots:
    void captions_data();
    void captions();
    void shownFlag();
};

void TestFormAdvanced::captions_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Motor 1") << 0 << "Motor 1"
                             << "KVX310 Register Set (Motor 1)";
    QTest::newRow("Motor 2") << 1 << "Motor 2"
                             << "KVX310 Register Set (Motor 2)";
    QTest::newRow("Motor 3") << 2 << "Motor 3"
                             << "KVX310 Register Set (Motor 3)";
    QTest::newRow("Global") << 3 << "Global Parameters"
                            << "KVX310 Register Set (Global Parameters)";
    QTest::newRow("RAM") << 4 << "RAM Table"
                         << "KVX310 Register Set (Configuration & Microstep RAM)";
}

void TestFormAdvanced::captions()
{
    QFETCH(int, page);
    QFETCH(QString, tab);
    QFETCH(QString, caption);
    TFormAdvanced form;
    QCOMPARE(form.activePage(), 0);
    QCOMPARE(form.windowTitle(), QStringLiteral("KVX310 Register Set (Motor 1)"));
    form.setActivePage(page);
    QCOMPARE(form.PageControl->tabText(page), tab);
    QCOMPARE(form.windowTitle(), caption);
}

void TestFormAdvanced::shownFlag()
{
    TFormAdvanced form;
    QVERIFY(!form.EditorShown());
    form.show();
    QVERIFY(form.EditorShown());
    form.close();
    QVERIFY(!form.EditorShown());
    QVERIFY(form.isHidden());
}

QTEST_MAIN(TestFormAdvanced)
#include "tst_formadvanced.moc"
