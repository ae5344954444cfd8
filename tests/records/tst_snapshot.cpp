// The snapshot file: the errors it reports, and the order a restore writes in. The names and
// values it holds are tst_registernames'; a snapshot taken and restored through the tool is
// tst_kvx310's, through the register editor tst_attach's.

#include "records/Snapshot.h"

#include <QTest>

using namespace kvx;

class TestSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void snapshotErrors_data();
    void snapshotErrors();
    void restoreWritesMotionLast();
};

void TestSnapshot::snapshotErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // empty: read
    QTest::newRow("board's own value out of the editor's range")
        << QByteArray("[Motor 2]\nP_MUL = 0\n") << QString();
    QTest::newRow("no section") << QByteArray("V_MAX = 3\n") << "line 1";
    QTest::newRow("read-only") << QByteArray("[Motor 1]\nA_ACTUAL = 3\n") << "line 2";
    QTest::newRow("flags the chip raises")
        << QByteArray("[Motor 1]\nINTERRUPT_FLAGS = 0\n") << "line 2";
    QTest::newRow("common in a motor") << QByteArray("[Motor 1]\nLSMD = 1\n") << "line 2";
    QTest::newRow("beyond the bits") << QByteArray("[Motor 1]\nV_MAX = 4096\n") << "line 2";
    QTest::newRow("motor 4") << QByteArray("[Motor 4]\n") << "line 1";
    QTest::newRow("half the RAM") << QByteArray("[RAM]\n0 = " + QByteArray("00,").repeated(15) +
                                                "00\n")
                                  << "8 rows";
}

void TestSnapshot::snapshotErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString why;
    const std::optional<Snapshot> s = parseSnapshot(text, &why);
    QCOMPARE(!s, !error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
}

void TestSnapshot::restoreWritesMotionLast()
{
    // A motor must not be sent moving before its ramp parameters are in place.
    QString why;
    const QByteArray file = "[Motor 1]\nX_TARGET = 100\nV_MAX = 50\nRAMP_MODE = VELOCITY\n"
                            "V_TARGET = 20\nX_ACTUAL = 7\nPULSDIV = 3\n[Common]\nLSMD = 2\n";
    const std::optional<Snapshot> wanted = parseSnapshot(file, &why);
    QVERIFY2(wanted, qPrintable(why));
    Snapshot board = *wanted;
    for (SnapshotValue &v : board.values)
        v.value = v.item.name == QLatin1String("RAMP_MODE") ? 0 : 1;
    QStringList order;
    for (const Difference &d : differences(board, *wanted))
        order << label(d);
    QCOMPARE(order, (QStringList{"LSMD", "M1 PULSDIV", "M1 V_MAX", "M1 RAMP_MODE", "M1 X_ACTUAL",
                                 "M1 X_TARGET", "M1 V_TARGET"}));
}

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
