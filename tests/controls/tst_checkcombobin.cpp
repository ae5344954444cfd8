// The bit-flag combo control: the bit string and its order, which changes fire OnChange, the
// drop-down's lines and columns, where it opens, the click that closes it, the enabled state
// of its parts, and its text on light and dark palettes. The register pages that use it are
// tests/editor's.

#include "controls/CheckComboBin.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace kvx;

namespace {
const QStringList kRefConf = {"DISABLE_STOP_L", "DISABLE_STOP_R", "SOFT_STOP", "REF_RnL"};
const QStringList kEight = {"A", "B", "C", "D", "E", "F", "G", "H"};
} // namespace

class TestCheckComboBin : public QObject
{
    Q_OBJECT

private slots:
    void marks_data();
    void marks();
    void dropDownLines_data();
    void dropDownLines();
    void opensAboveNearTheScreenBottom();
    void theClosingClickDoesNotReopen();
    void disablingDisablesItsParts();
    void textStaysReadableOnThePalette_data();
    void textStaysReadableOnThePalette();
};

void TestCheckComboBin::marks_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QList<int>>("checked"); // SetChecked(i, true) in this order
    QTest::addColumn<QString>("bits");
    QTest::addColumn<int>("changes");
    QTest::newRow("items 0 and 2 of four") << kRefConf << QList<int>{0, 2} << "0101" << 2;
    QTest::newRow("none of eight") << kEight << QList<int>{} << "00000000" << 0;
    QTest::newRow("a mark it already has still reports")
        << kRefConf << QList<int>{3, 3} << "1000" << 2;
    QTest::newRow("an index past the items is ignored")
        << kRefConf << QList<int>{4, -1} << "0000" << 0;
}

void TestCheckComboBin::marks()
{
    QFETCH(QStringList, items);
    QFETCH(QList<int>, checked);
    QFETCH(QString, bits);
    QFETCH(int, changes);
    TCheckedComboBinary combo;
    combo.setItems(items);
    QSignalSpy changed(&combo, &TCheckedComboBinary::OnChange);
    for (int i : checked)
        combo.SetChecked(i, true);
    QCOMPARE(combo.BitText(), bits);
    QCOMPARE(combo.TextBox->text(), bits);
    QCOMPARE(changed.count(), changes);

    // Select All once, one report; new items clear every mark without one.
    combo.SelectAll();
    QCOMPARE(combo.BitText(), QString(items.size(), QLatin1Char('1')));
    QCOMPARE(changed.count(), changes + 1);
    combo.setItems(items);
    QCOMPARE(combo.BitText(), QString(items.size(), QLatin1Char('0')));
    QCOMPARE(changed.count(), changes + 1);
}

void TestCheckComboBin::dropDownLines_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("lines"); // when it opens, with eight items
    QTest::newRow("9 lines") << 9 << 0 << 9;
    QTest::newRow("1 is refused") << 1 << 0 << 2;
    QTest::newRow("11 is refused") << 11 << 1 << 2;
    QTest::newRow("three columns take 8 div 3 + 1 lines") << 9 << 3 << 3;
}

void TestCheckComboBin::dropDownLines()
{
    QFETCH(int, set);
    QFETCH(int, columns);
    QFETCH(int, lines);
    QWidget window;
    auto *combo = new TCheckedComboBinary(&window);
    combo->setItems(kEight);
    combo->setDropDownLines(set);
    combo->setColumns(columns);
    window.show();
    combo->ArrowClick();
    QVERIFY(combo->isDroppedDown());
    QCOMPARE(combo->DropDownLines(), lines);
    QCOMPARE(combo->DropDown->height(), combo->CheckList->sizeHintForRow(0) * lines + 4);
    combo->closeDropDown();
}

void TestCheckComboBin::opensAboveNearTheScreenBottom()
{
    QWidget window;
    auto *combo = new TCheckedComboBinary(&window);
    combo->setItems(kEight);
    combo->setDropDownLines(9);
    window.show();
    const int bottom = QGuiApplication::primaryScreen()->geometry().bottom();
    window.move(0, bottom - combo->height() - 10);
    combo->ArrowClick();
    const QPoint below = combo->mapToGlobal(QPoint(0, combo->height()));
    QCOMPARE(combo->DropDown->geometry().bottom() + 1, below.y() - combo->height());
    combo->closeDropDown();
}

void TestCheckComboBin::theClosingClickDoesNotReopen()
{
    QWidget window;
    auto *combo = new TCheckedComboBinary(&window);
    combo->setItems(kRefConf);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QSignalSpy clicks(combo, &TCheckedComboBinary::OnClick);
    // Real presses through the window, as the user's reach the pop-up that has the mouse.
    const QPoint arrow = combo->ArrowButton->mapTo(&window, combo->ArrowButton->rect().center());
    auto click = [&] { QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, arrow); };
    click();
    QTRY_VERIFY(combo->isDroppedDown());
    click(); // closes it, and does not open it again
    QTRY_VERIFY(!combo->isDroppedDown());
    QTest::qWait(50);
    QVERIFY(!combo->isDroppedDown());
    // The next click opens it: it used to be swallowed where the closing press was not passed
    // on to the button (X11).
    click();
    QTRY_VERIFY(combo->isDroppedDown());
    // Escape with the pointer on the arrow closes it; the next click opens it again.
    QTest::keyClick(combo->CheckList, Qt::Key_Escape);
    QTRY_VERIFY(!combo->isDroppedDown());
    click();
    QTRY_VERIFY(combo->isDroppedDown());
    QCOMPARE(clicks.count(), 3);
    combo->closeDropDown();
    // F4 and Alt+Down in the text box open it too.
    QTest::keyClick(combo->TextBox, Qt::Key_F4);
    QVERIFY(combo->isDroppedDown());
    combo->closeDropDown();
    QTest::keyClick(combo->TextBox, Qt::Key_Down, Qt::AltModifier);
    QVERIFY(combo->isDroppedDown());
    // The longest name whole, with no horizontal scroll bar ("DISABLE_STOP_R" was cut).
    QVERIFY(!combo->CheckList->horizontalScrollBar()->isVisible());
    QVERIFY(combo->CheckList->visualItemRect(combo->CheckList->item(1)).right() <
            combo->CheckList->viewport()->width());
    combo->closeDropDown();
}

void TestCheckComboBin::disablingDisablesItsParts()
{
    TCheckedComboBinary combo;
    combo.setEnabled(false);
    QVERIFY(!combo.TextBox->isEnabled());
    QVERIFY(!combo.ArrowButton->isEnabled());
    QCOMPARE(combo.height(), combo.fontMetrics().height() + 8);
}

void TestCheckComboBin::textStaysReadableOnThePalette_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<bool>("paletteText"); // the palette's own text colour is kept

    // windowText, button, light, dark, mid, text, base
    const QPalette light(Qt::black, QColor(0xef, 0xef, 0xef), Qt::white, QColor(0x9f, 0x9f, 0x9f),
                         QColor(0xb8, 0xb8, 0xb8), QColor(0x10, 0x10, 0x40), Qt::white);
    const QPalette dark(QColor(0xee, 0xee, 0xee), QColor(0x35, 0x35, 0x35),
                        QColor(0x50, 0x50, 0x50), QColor(0x20, 0x20, 0x20),
                        QColor(0x2a, 0x2a, 0x2a), QColor(0xdd, 0xdd, 0xdd),
                        QColor(0x2a, 0x2a, 0x2a));
    QTest::newRow("light palette: its own text colour") << light << true;
    QTest::newRow("dark palette: a dark colour of it on white") << dark << false;
}

void TestCheckComboBin::textStaysReadableOnThePalette()
{
    QFETCH(QPalette, palette);
    QFETCH(bool, paletteText);
    TCheckedComboBinary combo;
    combo.setItems(kRefConf);
    combo.setPalette(palette);
    for (const QColor &background : {QColor(Qt::white), QColor(0xff, 0xff, 0xc0)}) {
        combo.setNotFocusColor(background);
        const QPalette shown = combo.TextBox->palette();
        QCOMPARE(shown.color(QPalette::Base), background); // fixed, whatever the palette
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            const QColor text = shown.color(group, QPalette::Text);
            QVERIFY2(qGray(text.rgb()) < 100, qPrintable(text.name()));
            if (paletteText)
                QCOMPARE(text, palette.color(group, QPalette::Text));
        }
    }
}

QTEST_MAIN(TestCheckComboBin)
#include "tst_checkcombobin.moc"
