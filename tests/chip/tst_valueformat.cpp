// Display texts of register reads and the poll table's value codes, SignExtend's unmasked rule,
// and the bit strings of the flag fields. Field layouts are tst_registermap's; what a message
// shows of a text from outside, tst_snapshot's, tst_kvx310's and fuzz_snapshot's.

#include "chip/ValueFormat.h"

#include <QTest>

using namespace kvx;

class TestValueFormat : public QObject
{
    Q_OBJECT

private slots:
    void signExtend_data();
    void signExtend();
    void pollText_data();
    void pollText();
    void readTextByClass_data();
    void readTextByClass();
    void intToBin_data();
    void intToBin();
    void binToInt_data();
    void binToInt();
    void hexTextHasAtLeastTwoDigits();
};

void TestValueFormat::signExtend_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("signBit");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("below sign") << qint64(2047) << 11 << qint64(2047);
    QTest::newRow("sign set") << qint64(0x800) << 11 << qint64(-2048);
    QTest::newRow("all twelve set") << qint64(0xFFF) << 11 << qint64(-1);
    QTest::newRow("bit 12 set is not masked") << qint64(0x1000) << 11 << qint64(0);
    QTest::newRow("24-bit min") << qint64(0x800000) << 23 << qint64(-8388608);
    QTest::newRow("24-bit -1") << qint64(0xFFFFFF) << 23 << qint64(-1);
    QTest::newRow("sign bit 0 leaves value") << qint64(1) << 0 << qint64(1);
    QTest::newRow("negative code leaves value") << qint64(0xFFFFFF) << -6 << qint64(0xFFFFFF);
}

void TestValueFormat::signExtend()
{
    QFETCH(qint64, value);
    QFETCH(int, signBit);
    QFETCH(qint64, expected);
    QCOMPARE(SignExtend(value, signBit), expected);
}

void TestValueFormat::pollText_data()
{
    QTest::addColumn<uint>("data");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("V_ACTUAL 00 0F FF") << 0x000FFFu << 11 << "-1";
    QTest::newRow("X_ACTUAL 80 00 00") << 0x800000u << 23 << "-8388608";
    QTest::newRow("X_ACTUAL 7F FF FF") << 0x7FFFFFu << 23 << "8388607";
    QTest::newRow("SPI low 00 01 2A") << 0x00012Au << -6 << "00012A";
    QTest::newRow("hex upper case") << 0xABCDEFu << -6 << "ABCDEF";
    QTest::newRow("A_ACTUAL 00 10 00") << 0x001000u << 11 << "0";
    QTest::newRow("unsigned") << 0x0007FFu << 0 << "2047";
    QTest::newRow("zero") << 0u << 23 << "0";
}

void TestValueFormat::pollText()
{
    QFETCH(uint, data);
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(kvx::pollText(data, code), text);
}

void TestValueFormat::readTextByClass_data()
{
    QTest::addColumn<uint>("data");
    QTest::addColumn<int>("cls");
    QTest::addColumn<QString>("text");
    QTest::newRow("V_TARGET 00 08 00") << 0x000800u << int(ValueClass::Signed11) << "-2048";
    QTest::newRow("V_MIN 2047") << 0x0007FFu << int(ValueClass::Unsigned) << "2047";
    QTest::newRow("cover telegram") << 0x00000Fu << int(ValueClass::Hex6) << "00000F";
    QTest::newRow("X_LATCHED -5") << 0xFFFFFBu << int(ValueClass::Signed23) << "-5";
}

void TestValueFormat::readTextByClass()
{
    QFETCH(uint, data);
    QFETCH(int, cls);
    QFETCH(QString, text);
    QCOMPARE(readText(data, ValueClass(cls)), text);
}

void TestValueFormat::intToBin_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("bits");
    QTest::newRow("SOFT_STOP alone") << 0b0100u << 4 << "0100";
    QTest::newRow("MASK_STOP_RIGHT_HIGH") << 0x80u << 8 << "10000000";
    QTest::newRow("INT_POS_END") << 0x01u << 8 << "00000001";
    QTest::newRow("bits above width dropped") << 0x1Fu << 4 << "1111";
    QTest::newRow("zero width") << 5u << 0 << "";
}

void TestValueFormat::intToBin()
{
    QFETCH(uint, value);
    QFETCH(int, width);
    QFETCH(QString, bits);
    QCOMPARE(IntToBin(value, width), bits);
}

void TestValueFormat::binToInt_data()
{
    QTest::addColumn<QString>("bits");
    QTest::addColumn<uint>("value");
    QTest::newRow("plain") << "0100" << 0b0100u;
    QTest::newRow("eight") << "10000001" << 0x81u;
    QTest::newRow("blanks at both ends") << "  0011  " << 0b0011u;
    QTest::newRow("stops at inner blank") << "11 01" << 0b01u;
    QTest::newRow("empty") << "" << 0u;
    QTest::newRow("other characters clear") << "1x1" << 0b101u;
}

void TestValueFormat::binToInt()
{
    QFETCH(QString, bits);
    QFETCH(uint, value);
    QCOMPARE(BinToInt(bits), std::uint32_t(value));
}

void TestValueFormat::hexTextHasAtLeastTwoDigits()
{
    QCOMPARE(hexText(0x5), QStringLiteral("05"));
    QCOMPARE(hexText(0x1AB), QStringLiteral("1AB"));
}

QTEST_APPLESS_MAIN(TestValueFormat)
#include "tst_valueformat.moc"
