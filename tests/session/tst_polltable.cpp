// The poll table: its 51 rows as built from the register map, the cycle of rows for each state
// of the register editor, and how a reply reaches fields, decoders and trace values. The
// scheduler that sends the rows is tst_pollscheduler's.

#include "chip/RegisterMap.h"
#include "session/PollTable.h"

#include <QTest>

using namespace kvx;

namespace {

QList<int> range(int from, int to)
{
    QList<int> rows;
    for (int r = from; r <= to; ++r)
        rows << r;
    return rows;
}

const QList<int> kLive2 = {16, 19, 20, 22};
const QList<int> kLive3 = {31, 34, 35, 37};
const QList<int> kLive1 = {1, 4, 5, 7};

// The page of a row as the tables below write it: -1 for every cycle.
int pageNumber(const PollRowDef &row)
{
    return row.bank.value_or(-1);
}

} // namespace

class TestPollTable : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void rowsByRegister_data();
    void rowsByRegister();
    void cycles_data();
    void cycles();
    void identificationRestartsAtRowZero();
    void replyConversions_data();
    void replyConversions();
};

void TestPollTable::rows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("page");
    QTest::newRow("X_TARGET 1") << 0 << 0x01 << 23 << 0;
    QTest::newRow("X_ACTUAL 1") << 1 << 0x03 << 23 << -1;
    QTest::newRow("V_MIN 1") << 2 << 0x05 << 0 << 0;
    QTest::newRow("V_TARGET 1") << 4 << 0x09 << 11 << -1;
    QTest::newRow("V_ACTUAL 1") << 5 << 0x0B << 11 << -1;
    QTest::newRow("A_ACTUAL 1") << 7 << 0x0F << 11 << -1;
    QTest::newRow("index 8 of 1") << 8 << 0x11 << 0 << 0;
    QTest::newRow("X_LATCHED 1") << 14 << 0x1D << 23 << 0;
    QTest::newRow("X_TARGET 2") << 15 << 0x21 << 23 << 1;
    QTest::newRow("X_ACTUAL 2") << 16 << 0x23 << 23 << -1;
    QTest::newRow("index 12 of 3") << 42 << 0x59 << 0 << 2;
    QTest::newRow("X_LATCHED 3") << 44 << 0x5D << 23 << 2;
    QTest::newRow("SPI low") << 45 << 0x61 << -6 << 3;
    QTest::newRow("SPI high") << 46 << 0x63 << -6 << 3;
    QTest::newRow("cover pos/len") << 47 << 0x65 << 0 << 3;
    QTest::newRow("cover telegram") << 48 << 0x67 << -6 << 3;
    QTest::newRow("reference switches") << 49 << 0x7D << 0 << 3;
    QTest::newRow("global parameters") << 50 << 0x7F << 0 << 3;
}

void TestPollTable::rows()
{
    QFETCH(int, row);
    QFETCH(int, address);
    QFETCH(int, code);
    QFETCH(int, page);
    const PollTable table;
    QCOMPARE(int(table.row(row).address), address);
    QCOMPARE(table.row(row).code, code);
    QCOMPARE(pageNumber(table.row(row)), page);
}

void TestPollTable::rowsByRegister_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("expected");
    QTest::newRow("motor 1, X_ACTUAL") << PollTable::motorRow(0, motor::XActual) << 1;
    QTest::newRow("motor 3, X_LATCHED") << PollTable::motorRow(2, motor::XLatched) << 44;
    QTest::newRow("SPI low word") << PollTable::commonRow(common::SpiTelegramLow) << 45;
    QTest::newRow("cover telegram") << PollTable::commonRow(common::SpiCoverTelegram) << 48;
    QTest::newRow("global parameters") << PollTable::commonRow(common::GlobalParameters) << 50;
    QTest::newRow("a common register not polled")
        << PollTable::commonRow(common::SpiCoverTelegram + 1) << -1;
}

void TestPollTable::rowsByRegister()
{
    QFETCH(int, row);
    QFETCH(int, expected);
    QCOMPARE(row, expected);
}

void TestPollTable::cycles_data()
{
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("page");
    QTest::addColumn<QList<int>>("cycle");
    const QList<int> hidden = kLive1 + kLive2 + kLive3;
    QTest::newRow("editor hidden") << false << 0 << hidden;
    QTest::newRow("RAM Table page") << true << 4 << hidden;
    QTest::newRow("Motor 1 page") << true << 0 << range(0, 14) + kLive2 + kLive3;
    QTest::newRow("Motor 2 page") << true << 1 << kLive1 + range(15, 29) + kLive3;
    QTest::newRow("Motor 3 page") << true << 2 << kLive1 + kLive2 + range(30, 44);
    QTest::newRow("Global page") << true << 3 << QList<int>{0} + hidden + range(45, 50);
}

void TestPollTable::cycles()
{
    QFETCH(bool, shown);
    QFETCH(int, page);
    QFETCH(QList<int>, cycle);
    const PollTable table;
    // Start on the cycle's first row and go round twice: the second round must repeat it.
    int row = cycle.first();
    QList<int> seen{row};
    while (seen.size() < 2 * cycle.size())
        seen << (row = PollTable::nextRow(row, false, shown, page, table));
    QCOMPARE(seen.mid(0, cycle.size()), cycle);
    QCOMPARE(seen.mid(cycle.size()), cycle);
}

void TestPollTable::identificationRestartsAtRowZero()
{
    const PollTable table;
    QCOMPARE(PollTable::nextRow(22, true, false, 0, table), 0);
    QCOMPARE(PollTable::nextRow(50, false, false, 0, table), 0);
    QCOMPARE(PollTable::nextRow(0, false, false, 0, table), 1);
}

void TestPollTable::replyConversions_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<uint>("data");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    QTest::newRow("V_ACTUAL -1") << 5 << 0x000FFFu << "-1" << qint64(-1);
    QTest::newRow("X_ACTUAL min") << 1 << 0x800000u << "-8388608" << qint64(-8388608);
    QTest::newRow("SPI low word") << 45 << 0x00012Au << "00012A" << qint64(0x12A);
    QTest::newRow("A_ACTUAL bit 12 unmasked") << 7 << 0x001000u << "0" << qint64(0);
    QTest::newRow("V_MIN unsigned") << 2 << 0x0007FFu << "2047" << qint64(2047);
}

void TestPollTable::replyConversions()
{
    QFETCH(int, row);
    QFETCH(uint, data);
    QFETCH(QString, text);
    QFETCH(qint64, value);
    const PollTable table;
    QCOMPARE(table.value(row, DataBytes::fromValue(data)), value);
    QCOMPARE(table.text(row, DataBytes::fromValue(data)), text);
}

QTEST_APPLESS_MAIN(TestPollTable)
#include "tst_polltable.moc"
