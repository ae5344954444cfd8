// The integer spin edit's editing rules: text that is not a number reads as the minimum, a typed
// value outside the range stands until the focus leaves, a value set by the program is brought
// into range at once, and stepping stops at the bounds. The LED is tst_luled's.

#include "controls/SpinEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace kvx;

class TestSpinEdit : public QObject
{
    Q_OBJECT

private slots:
    void typedText_data();
    void typedText();
    void programValueIsClamped();
    void focusOutBringsIntoRange();
    void stepsStopAtTheBounds();
};

void TestSpinEdit::typedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("number") << "123" << 123;
    QTest::newRow("beyond the maximum stands while typed") << "3000" << 3000;
    QTest::newRow("minus sign alone") << "-" << -2048;
    QTest::newRow("empty") << "" << -2048;
    QTest::newRow("negative") << "-77" << -77;
}

void TestSpinEdit::typedText()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    TSpinEdit edit;
    edit.setRange(-2048, 2047);
    edit.findChild<QLineEdit *>()->setText(text);
    QCOMPARE(edit.Value(), value);
}

void TestSpinEdit::programValueIsClamped()
{
    TSpinEdit edit;
    edit.setRange(128, 255);
    edit.setValue(5);
    QCOMPARE(edit.Value(), 128);
    edit.setValue(999);
    QCOMPARE(edit.Value(), 255);
}

void TestSpinEdit::focusOutBringsIntoRange()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *edit = new TSpinEdit;
    edit->setRange(0, 2047);
    auto *other = new QPushButton(QStringLiteral("other"));
    layout->addWidget(edit);
    layout->addWidget(other);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    edit->findChild<QLineEdit *>()->selectAll();
    QTest::keyClicks(edit->findChild<QLineEdit *>(), QStringLiteral("3000"));
    QCOMPARE(edit->Value(), 3000);
    QSignalSpy edited(edit, &TSpinEdit::valueEdited);
    other->setFocus();
    QCOMPARE(edit->Value(), 2047);
    QVERIFY(!edited.isEmpty());
    QCOMPARE(edited.last().first().toInt(), 2047);
}

void TestSpinEdit::stepsStopAtTheBounds()
{
    TSpinEdit edit;
    edit.setRange(0, 13);
    edit.setValue(12);
    edit.stepBy(5);
    QCOMPARE(edit.Value(), 13);
    edit.stepBy(-20);
    QCOMPARE(edit.Value(), 0);
}

QTEST_MAIN(TestSpinEdit)
#include "tst_spinedit.moc"
