// The command-line names and values of the register map: what a name stands for, how a value
// typed is read and range-checked, and that what is shown reads back as the same value. The
// snapshot file that holds them is tst_snapshot's.

#include "records/RegisterNames.h"

#include <QSet>
#include <QTest>

using namespace kvx;

class TestRegisterNames : public QObject
{
    Q_OBJECT

private slots:
    void namesAreUnique();
    void values_data();
    void values();
};

void TestRegisterNames::namesAreUnique()
{
    QSet<QString> seen;
    for (const Item &item : allItems()) {
        QVERIFY2(!seen.contains(item.name.toUpper()), qPrintable(item.name));
        seen.insert(item.name.toUpper());
        const std::vector<Item> found = findItems(item.name.toLower(), nullptr);
        QCOMPARE(found.size(), std::size_t(1));
        QCOMPARE(found[0].name, item.name);
    }
}

void TestRegisterNames::values_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qint64>("value"); // -999999999: refused
    QTest::addColumn<QString>("shown");
    QTest::addColumn<uint>("data"); // the register's bits with only this value set
    constexpr qint64 refused = -999999999;
    QTest::newRow("signed 24") << "X_TARGET"
                               << "-5" << qint64(-5) << "-5" << 0xFFFFFBu;
    QTest::newRow("24 bits, top") << "x_actual"
                                  << "8388607" << qint64(8388607) << "8388607" << 0x7FFFFFu;
    QTest::newRow("24 bits, over") << "X_TARGET"
                                   << "8388608" << refused << "" << 0u;
    QTest::newRow("signed 12") << "V_TARGET"
                               << "-2048" << qint64(-2048) << "-2048" << 0x800u;
    QTest::newRow("hex typed") << "V_MAX"
                               << "0x7FF" << qint64(2047) << "2047" << 0x7FFu;
    QTest::newRow("unsigned, negative") << "V_MIN"
                                        << "-1" << refused << "" << 0u;
    QTest::newRow("editor's range") << "P_MUL"
                                    << "127" << refused << "" << 0u;
    QTest::newRow("field in place") << "P_MUL"
                                    << "200" << qint64(200) << "200" << 0xC800u;
    QTest::newRow("register.field") << "REF_CONF.RAMP_MODE"
                                    << "velocity" << qint64(2) << "VELOCITY" << 0x2u;
    QTest::newRow("ramp mode by number") << "RAMP_MODE"
                                         << "3" << qint64(3) << "HOLD" << 0x3u;
    QTest::newRow("flags by name") << "REF_CONF"
                                   << "SOFT_STOP|REF_RnL" << qint64(12) << "1100" << 0xC00u;
    QTest::newRow("flags as shown") << "INTERRUPT_MASK"
                                    << "10000001" << qint64(0x81) << "10000001" << 0x8100u;
    QTest::newRow("flags, short digits are refused") << "INTERRUPT_MASK"
                                                     << "11" << refused << "" << 0u;
    QTest::newRow("flags in hex") << "INTERRUPT_MASK"
                                  << "0x0B" << qint64(11) << "00001011" << 0xB00u;
    QTest::newRow("unknown flag") << "REF_CONF"
                                  << "SOFT_STOP|NOPE_X" << refused << "" << 0u;
    QTest::newRow("hex field") << "SPI_COVER_TELEGRAM"
                               << "12ab3f" << qint64(0x12AB3F) << "12AB3F" << 0x12AB3Fu;
    QTest::newRow("micro sign") << "µSTEP_RES"
                                << "5" << qint64(5) << "5" << 0x5u;
    QTest::newRow("dividers") << "PULSDIV"
                              << "13" << qint64(13) << "13" << 0xD000u;
    QTest::newRow("dividers, over") << "RAMPDIV"
                                    << "14" << refused << "" << 0u;
    QTest::newRow("global bit") << "M1R_REF"
                                << "1" << qint64(1) << "1" << 0x200000u;
    QTest::newRow("latch takes zero only") << "X_LATCHED"
                                           << "1" << refused << "" << 0u;
    QTest::newRow("not a number") << "V_MAX"
                                  << "12a" << refused << "" << 0u;
    QTest::newRow("two signs") << "X_TARGET"
                               << "--5" << refused << "" << 0u;
    QTest::newRow("sign after the prefix") << "X_TARGET"
                                           << "-0x-5" << refused << "" << 0u;
}

void TestRegisterNames::values()
{
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(qint64, value);
    QFETCH(QString, shown);
    QFETCH(uint, data);
    const std::vector<Item> items = findItems(name, nullptr);
    QCOMPARE(items.size(), std::size_t(1));
    QString error;
    const std::optional<std::int64_t> v = parseValue(items[0], typed, &error);
    if (value == -999999999) {
        QVERIFY(!v);
        QVERIFY(!error.isEmpty());
        return;
    }
    QVERIFY2(v, qPrintable(error));
    QCOMPARE(*v, value);
    const std::uint32_t bits = withValue(items[0], 0, *v);
    QCOMPARE(bits, std::uint32_t(data));
    QCOMPARE(valueText(items[0], bits), shown);
    // What is shown is typed back as the same value.
    QCOMPARE(parseValue(items[0], shown, &error), v);
    // A field set into a register keeps the other fields as the board holds them; the
    // fields the chip keeps for itself go as 0.
    std::uint32_t writable = 0;
    for (const FieldDef &f : items[0].reg->fields)
        writable |= f.readOnly ? 0u : f.mask();
    QCOMPARE(withValue(items[0], 0xFFFFFF, *v) | items[0].def().mask(), writable);
}

QTEST_GUILESS_MAIN(TestRegisterNames)
#include "tst_registernames.moc"
