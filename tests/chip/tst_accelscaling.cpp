// The minimum maximum-acceleration and the P_MUL / P_DIV pair, including the examples whose
// result depends on forming the quotient with a 64-bit mantissa.

#include "chip/AccelScaling.h"

#include <QTest>

using namespace kvx;

class TestAccelScaling : public QObject
{
    Q_OBJECT

private slots:
    void aMaxMinimum_data();
    void aMaxMinimum();
    void pMulPDiv_data();
    void pMulPDiv();
    void pMulPDivAlwaysInRange();
};

void TestAccelScaling::aMaxMinimum_data()
{
    QTest::addColumn<int>("rampDiv");
    QTest::addColumn<int>("pulsDiv");
    QTest::addColumn<int>("minimum");
    QTest::newRow("7, 3") << 7 << 3 << 8;
    QTest::newRow("equal dividers") << 5 << 5 << 1;
    QTest::newRow("one apart") << 4 << 3 << 1;
    QTest::newRow("two apart") << 5 << 3 << 2;
    QTest::newRow("ramp below puls") << 0 << 13 << 1;
    QTest::newRow("largest") << 15 << 0 << 16384;
}

void TestAccelScaling::aMaxMinimum()
{
    QFETCH(int, rampDiv);
    QFETCH(int, pulsDiv);
    QFETCH(int, minimum);
    QCOMPARE(AMaxMinimum(rampDiv, pulsDiv), minimum);
}

void TestAccelScaling::pMulPDiv_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("rampDiv");
    QTest::addColumn<int>("pulsDiv");
    QTest::addColumn<int>("pMul");
    QTest::addColumn<int>("pDiv");
    QTest::newRow("100, 7, 3") << 100 << 7 << 3 << 190 << 9;
    QTest::newRow("500, 6, 4") << 500 << 6 << 4 << 237 << 5;
    QTest::newRow("8, 7, 3") << 8 << 7 << 3 << 243 << 13;
    QTest::newRow("A zero") << 0 << 7 << 3 << 128 << 0;
    QTest::newRow("p of 32 or more") << 2047 << 0 << 13 << 128 << 0;
    QTest::newRow("p of 19 takes P_DIV 0") << 20 << 0 << 7 << 152 << 0;
    QTest::newRow("A 2047, 6, 0") << 2047 << 6 << 0 << 243 << 7;
}

void TestAccelScaling::pMulPDiv()
{
    QFETCH(int, a);
    QFETCH(int, rampDiv);
    QFETCH(int, pulsDiv);
    QFETCH(int, pMul);
    QFETCH(int, pDiv);
    QCOMPARE(CalcPMulPDiv(a, rampDiv, pulsDiv), (PMulPDiv{pMul, pDiv}));
}

void TestAccelScaling::pMulPDivAlwaysInRange()
{
    for (int r = 0; r <= 13; ++r) {
        for (int p = 0; p <= 13; ++p) {
            for (int a = 0; a <= 2047; a += 89) {
                const PMulPDiv pd = CalcPMulPDiv(a, r, p);
                QVERIFY(pd.pMul >= 128 && pd.pMul <= 255);
                QVERIFY(pd.pDiv >= 0 && pd.pDiv <= 13);
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestAccelScaling)
#include "tst_accelscaling.moc"
