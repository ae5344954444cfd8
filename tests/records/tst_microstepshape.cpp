// The microstep wave shape without a window: the tables for the Sigma values whose entries are
// known by hand (triangle, sine, trapezoid, a blend, and values beyond the range). The group
// that shows and writes them is tests/app's tst_rampage.

#include "records/MicrostepShape.h"

#include <QTest>

using namespace kvx;

namespace {
QString hex(const ShapeTable &t, int from, int to)
{
    QStringList texts;
    for (int i = from; i <= to; ++i)
        texts << QStringLiteral("%1").arg(t[std::size_t(i)], 2, 16, QLatin1Char('0')).toUpper();
    return texts.join(QLatin1Char(' '));
}
} // namespace

class TestMicrostepShape : public QObject
{
    Q_OBJECT

private slots:
    void tables_data();
    void tables();
    void baseShapes();
};

void TestMicrostepShape::tables_data()
{
    QTest::addColumn<double>("sigma");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("entries");
    QString identity;
    for (int i = 0; i < 64; ++i)
        identity += QStringLiteral("%1 ").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    identity.chop(1);
    const QString rise =
        QStringLiteral("00 01 03 04 06 07 08 0A 0B 0D 0E 10 11 12 14 15 17 18 19 1B "
                       "1C 1E 1F 21 22 23 25 26 28 29 2A 2C");
    const QString plateau = QString(QStringLiteral("2D ")).repeated(32).trimmed();
    QTest::newRow("-1: the triangle") << -1.0 << 0 << 63 << identity;
    QTest::newRow("-3 as -1") << -3.0 << 0 << 63 << identity;
    QTest::newRow("0: the sine begins") << 0.0 << 0 << 11 << "00 02 03 05 06 08 09 0B 0C 0E 10 11";
    QTest::newRow("0: 64 is stored as 63") << 0.0 << 56 << 63 << "3F 3F 3F 3F 3F 3F 3F 3F";
    QTest::newRow("+1: the trapezoid rises") << 1.0 << 0 << 31 << rise;
    QTest::newRow("+1: and stays at 45") << 1.0 << 32 << 63 << plateau;
    QTest::newRow("2 as +1") << 2.0 << 0 << 63 << rise + QLatin1Char(' ') + plateau;
    QTest::newRow("0.5 ends at 55") << 0.5 << 60 << 63 << "36 37 37 37";
}

void TestMicrostepShape::tables()
{
    QFETCH(double, sigma);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, entries);
    const ShapeTable table = CalcShapeTable(sigma);
    QCOMPARE(hex(table, from, to), entries);
    for (int v : table)
        QVERIFY(v >= 0 && v <= 63);
    if (sigma == 0.5)
        QCOMPARE(*std::max_element(table.begin(), table.end()), 0x37);
}

void TestMicrostepShape::baseShapes()
{
    // The corner already belongs to the plateau; the triangle reaches 1 at a quarter period.
    QCOMPARE(ShapeTrapezoid(kTrapezoidCorner), 1.0 / std::sqrt(2.0));
    QVERIFY(ShapeTrapezoid(kTrapezoidCorner - 1e-9) < 1.0 / std::sqrt(2.0));
    QVERIFY(qAbs(ShapeTriangle(kQuarterPeriod) - 1.0) < 1e-12);
    QCOMPARE(ShapeBlend(0.3, 0.0), std::sin(0.3));
    // A Sigma that is no number fills no undefined values.
    for (int v : CalcShapeTable(std::nan("")))
        QVERIFY(v >= 0 && v <= 63);
}

QTEST_APPLESS_MAIN(TestMicrostepShape)
#include "tst_microstepshape.moc"
