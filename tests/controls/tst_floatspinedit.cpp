// The floating-point spin edit as a user meets it: steps that re-read the text, typing with
// its refusals, normalising on Enter and on leaving, read-only and editor-disabled fields,
// and the limits' rule.

#include "controls/Dialogs.h"
#include "controls/FloatSpinEdit.h"

#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>

using namespace kvx;

class TestFloatSpinEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); } // the separator is a point
    void init();
    void cleanup();
    void steps();
    void typing_data();
    void typing();
    void typingWhereTheSeparatorIsAComma_data();
    void typingWhereTheSeparatorIsAComma();
    void readOnlyAndEditorDisabled();
    void limits_data();
    void limits();
    void heightFitsTheFont();

private:
    // The Sigma field of the shape group: -1 to 1 in steps of 0.1.
    void makeSigma();

    std::unique_ptr<QWidget> m_window;
    TFloatSpinEdit *m_edit = nullptr;
    QLineEdit *m_other = nullptr;
    int m_beeps = 0;
};

void TestFloatSpinEdit::init()
{
    m_beeps = 0;
    Dialogs::setBeepHandler([this] { ++m_beeps; });
    makeSigma();
}

void TestFloatSpinEdit::cleanup()
{
    m_window.reset();
    Dialogs::setBeepHandler({});
}

void TestFloatSpinEdit::makeSigma()
{
    m_window = std::make_unique<QWidget>();
    m_edit = new TFloatSpinEdit(m_window.get());
    m_edit->setGeometry(10, 10, 121, 22);
    m_edit->setIncrement(0.1);
    m_edit->setMinValue(-1);
    m_edit->setMaxValue(1);
    m_edit->setValue(-1);
    m_other = new QLineEdit(m_window.get());
    m_other->move(10, 50);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestFloatSpinEdit::steps()
{
    QCOMPARE(m_edit->text(), QStringLiteral("-1"));
    m_edit->DownClick();
    QCOMPARE(m_edit->text(), QStringLiteral("-1"));
    const QStringList expected{"-0.9", "-0.8", "-0.7", "-0.6", "-0.5", "-0.4", "-0.3",
                               "-0.2", "-0.1", "0",    "0.1",  "0.2",  "0.3",  "0.4",
                               "0.5",  "0.6",  "0.7",  "0.8",  "0.9",  "1",    "1"};
    for (int i = 0; i < expected.size(); ++i) {
        // Buttons and the Up key alike.
        if (i % 2)
            m_edit->upButton()->click();
        else
            QTest::keyClick(m_edit->lineEdit(), Qt::Key_Up);
        QCOMPARE(m_edit->text(), expected[i]);
    }
    QCOMPARE(m_edit->Value(), 1.0);
    QTest::keyClick(m_edit->lineEdit(), Qt::Key_Down);
    QCOMPARE(m_edit->text(), QStringLiteral("0.9"));
    QCOMPARE(m_beeps, 0);
}

void TestFloatSpinEdit::typing_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("enter"); // Enter, or else the focus leaves
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("beeps");
    QTest::newRow("0.75 kept") << "0.75" << false << "0.75" << 0;
    QTest::newRow("5 and Enter") << "5" << true << "1" << 0;
    QTest::newRow("1- is no number") << "1-" << false << "-1" << 0;
    QTest::newRow("+.5") << "+.5" << true << "0.5" << 0;
    QTest::newRow("letters, blank, exponent") << "a0 e.2x" << false << "0.2" << 4;
    QTest::newRow("a comma is no separator here") << "0,5" << false << "1" << 1; // 05
}

void TestFloatSpinEdit::typingWhereTheSeparatorIsAComma_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("beeps");
    // The user's own separator, as in every field of theirs; the point is refused as a key.
    QTest::newRow("0,75 kept") << "0,75"
                               << "0,75" << 0.75 << 0;
    QTest::newRow("a point is no separator here") << "0.5"
                                                  << "1" << 1.0 << 1; // 05
    QTest::newRow("-,25") << "-,25"
                          << "-0,25" << -0.25 << 0;
}

void TestFloatSpinEdit::typingWhereTheSeparatorIsAComma()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(double, value);
    QFETCH(int, beeps);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    QLineEdit *line = m_edit->lineEdit();
    line->setFocus();
    line->selectAll();
    QTest::keyClick(line, Qt::Key_Delete);
    QTest::keyClicks(line, keys);
    m_other->setFocus();
    QCOMPARE(m_edit->text(), shown);
    QCOMPARE(m_edit->Value(), value);
    QCOMPARE(m_beeps, beeps);
}

void TestFloatSpinEdit::typing()
{
    QFETCH(QString, keys);
    QFETCH(bool, enter);
    QFETCH(QString, shown);
    QFETCH(int, beeps);
    QLineEdit *line = m_edit->lineEdit();
    line->setFocus();
    line->selectAll();
    QTest::keyClick(line, Qt::Key_Delete);
    QTest::keyClicks(line, keys);
    if (enter)
        QTest::keyClick(line, Qt::Key_Return);
    else
        m_other->setFocus();
    QCOMPARE(m_edit->text(), shown);
    QCOMPARE(m_beeps, beeps);
}

void TestFloatSpinEdit::readOnlyAndEditorDisabled()
{
    m_edit->setReadOnly(true);
    m_edit->UpClick();
    QTest::keyClick(m_edit->lineEdit(), Qt::Key_Up);
    QCOMPARE(m_edit->text(), QStringLiteral("-1"));
    QCOMPARE(m_beeps, 2);

    // Without the editor the arrows still step, but nothing can be typed.
    m_edit->setReadOnly(false);
    m_edit->setEditorEnabled(false);
    m_edit->lineEdit()->setFocus();
    m_edit->lineEdit()->end(false);
    QTest::keyClicks(m_edit->lineEdit(), QStringLiteral("5"));
    QTest::keyClick(m_edit->lineEdit(), Qt::Key_Backspace);
    QCOMPARE(m_edit->text(), QStringLiteral("-1"));
    QCOMPARE(m_beeps, 4);
    m_edit->UpClick();
    QCOMPARE(m_edit->text(), QStringLiteral("-0.9"));
}

void TestFloatSpinEdit::limits_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("equal limits: none") << 0.0 << 0.0 << -12345.5 << "-12345.5";
    QTest::newRow("below") << -1.0 << 1.0 << -3.0 << "-1";
    QTest::newRow("above") << -1.0 << 1.0 << 2.0 << "1";
    QTest::newRow("15 digits") << 0.0 << 0.0 << 1.0 / 3.0 << "0.333333333333333";
}

void TestFloatSpinEdit::limits()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, value);
    QFETCH(QString, shown);
    m_edit->setMinValue(minimum);
    m_edit->setMaxValue(maximum);
    m_edit->setValue(value);
    QCOMPARE(m_edit->text(), shown);
    // Text that is no number reads as the minimum; so does "nan".
    for (const char *text : {"x", "nan", ""}) {
        m_edit->setText(QLatin1String(text));
        QCOMPARE(m_edit->Value(), minimum);
    }
}

void TestFloatSpinEdit::heightFitsTheFont()
{
    QFont big = m_edit->font();
    big.setPixelSize(30);
    m_edit->setFont(big);
    m_edit->resize(121, 10);
    QVERIFY(m_edit->height() >= QFontMetrics(big).height() + 4);
    // The arrows stay inside the field, right of the text.
    QCOMPARE(m_edit->upButton()->geometry().right(), m_edit->width() - 3);
    QVERIFY(m_edit->lineEdit()->textMargins().right() >= TFloatSpinEdit::kButtonWidth + 2);
}

QTEST_MAIN(TestFloatSpinEdit)
#include "tst_floatspinedit.moc"
