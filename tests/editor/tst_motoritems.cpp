// The motor pages' rules without a window: the telegram each item composes from its fields'
// values, the texts a polled register shows field by field, and the marks "Copy" reads from a
// bit string. The page that shows and edits them is tst_formadvanced's.

#include "common/TelegramText.h"
#include "editor/MotorItems.h"

#include <QTest>

using namespace kvx;

using test::telegramText;

class TestMotorItems : public QObject
{
    Q_OBJECT

private slots:
    void compose_data();
    void compose();
    void fieldTexts_data();
    void fieldTexts();
    void copiedFlags_data();
    void copiedFlags();
};

void TestMotorItems::compose_data()
{
    QTest::addColumn<int>("motor");
    QTest::addColumn<int>("item");
    QTest::addColumn<QList<qint64>>("values"); // in the register's field order
    QTest::addColumn<QString>("telegram");
    QTest::newRow("X_TARGET -1") << 0 << 0 << QList<qint64>{-1} << "00 FF FF FF";
    QTest::newRow("X_TARGET while only \"-\" is typed")
        << 0 << 0 << QList<qint64>{-8388608} << "00 80 00 00";
    QTest::newRow("V_MAX 3000 while typed") << 0 << 3 << QList<qint64>{3000} << "06 00 0B B8";
    QTest::newRow("V_TARGET -1 on page 3") << 2 << 4 << QList<qint64>{-1} << "48 00 0F FF";
    QTest::newRow("I_S_ fields and A_THRESHOLD")
        << 0 << 7 << QList<qint64>{7, 3, 5, 2047} << "10 73 57 FF";
    QTest::newRow("P_MUL 200, P_DIV 5") << 0 << 8 << QList<qint64>{200, 5} << "12 00 C8 05";
    QTest::newRow("REF_CONF 0101, RAMP_MODE 2; LP is never sent")
        << 1 << 9 << QList<qint64>{1, 5, 2} << "34 00 05 02";
    QTest::newRow("INTERRUPT_MASK bit 7, INTERRUPT_FLAGS bit 0")
        << 0 << 10 << QList<qint64>{0x80, 0x01} << "16 00 80 01";
    QTest::newRow("PULSDIV 3, RAMPDIV 7, uSTEP_RES 5")
        << 0 << 11 << QList<qint64>{3, 7, 5} << "18 00 37 05";
    QTest::newRow("DX_REF_TOLERANCE 4095") << 0 << 12 << QList<qint64>{4095} << "1A 00 0F FF";
    QTest::newRow("X_LATCHED on page 2") << 1 << 13 << QList<qint64>{} << "3C 00 00 00";
}

void TestMotorItems::compose()
{
    QFETCH(int, motor);
    QFETCH(int, item);
    QFETCH(QList<qint64>, values);
    QFETCH(QString, telegram);
    const std::vector<std::int64_t> v(values.begin(), values.end());
    QCOMPARE(telegramText(composeMotorItem(motor, item, v)), telegram);
}

void TestMotorItems::fieldTexts_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<uint>("data");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("index 8: nibbles and 11 bits")
        << 7 << 0x7357FFu << QStringList{"7", "3", "5", "2047"};
    QTest::newRow("index 9") << 8 << 0x00C805u << QStringList{"200", "5"};
    QTest::newRow("index 10: LP, REF_CONF, RAMP_MODE")
        << 9 << 0x010402u << QStringList{"1", "0100", "2"};
    QTest::newRow("index 11: two bit strings")
        << 10 << 0x008001u << QStringList{"10000000", "00000001"};
    QTest::newRow("index 12") << 11 << 0x00D707u << QStringList{"13", "7", "7"};
}

void TestMotorItems::fieldTexts()
{
    QFETCH(int, item);
    QFETCH(uint, data);
    QFETCH(QStringList, texts);
    QCOMPARE(kvx::fieldTexts(motorItemDef(item), DataBytes::fromValue(data)), texts);
}

void TestMotorItems::copiedFlags_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("flags");
    QTest::newRow("0101: DISABLE_STOP_L and SOFT_STOP") << "0101" << 0x5u;
    QTest::newRow("before the first poll: nothing") << "0" << 0u;
    QTest::newRow("a short text: its characters from the left") << "1" << 0x8u;
}

void TestMotorItems::copiedFlags()
{
    QFETCH(QString, text);
    QFETCH(uint, flags);
    QCOMPARE(kvx::copiedFlags(text, 4), flags);
}

QTEST_APPLESS_MAIN(TestMotorItems)
#include "tst_motoritems.moc"
