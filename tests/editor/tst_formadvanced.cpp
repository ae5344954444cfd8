// The register editor window's frame: its pages, the caption of each, and the shown flag and
// active page it reports to the board session's poll cycle. The pages' contents are tested
// with them.

#include "editor/Ev310Registers.h"
#include "session/BoardSession.h"

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
    BoardSession session;
    TFormAdvanced form(session);
    QCOMPARE(form.activePage(), EditorPage::Motor1);
    QCOMPARE(form.windowTitle(), QStringLiteral("KVX310 Register Set (Motor 1)"));
    form.setActivePage(EditorPage(page));
    QCOMPARE(form.PageControl->tabText(page), tab);
    QCOMPARE(form.windowTitle(), caption);
    QCOMPARE(session.scheduler().activePage(), EditorPage(page));
}

void TestFormAdvanced::shownFlag()
{
    BoardSession session;
    TFormAdvanced form(session);
    QVERIFY(!form.EditorShown());
    form.show();
    QVERIFY(form.EditorShown());
    QVERIFY(session.scheduler().editorShown());
    form.close();
    QVERIFY(!form.EditorShown());
    QVERIFY(!session.scheduler().editorShown());
    QVERIFY(form.isHidden());
}

QTEST_MAIN(TestFormAdvanced)
#include "tst_formadvanced.moc"
