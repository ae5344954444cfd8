// The snapshot file: the errors it reports (what they quote of a hostile file kept short and
// inert), the order a restore writes in, and what a restore refuses: values outside the
// editor's ranges the board did not hold, and a motor set moving with too small an A_MAX. The
// names and values it holds are tst_registernames'; a snapshot taken and restored through the
// tool is tst_kvx310's, through the register editor tst_attach's; reading it from a file
// fuzz_snapshot's.

#include "records/Snapshot.h"

#include <QTest>

#include <algorithm>

using namespace kvx;

class TestSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void snapshotErrors_data();
    void snapshotErrors();
    void restoreWritesMotionLast();
    void refusedRestores_data();
    void refusedRestores();
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
    // Said with the editor's range; quoted, escaped and cut, whatever the file holds.
    QTest::newRow("past the bits") << QByteArray("[Motor 1]\nV_MAX = 4096\n") << "(its bits hold";
    QTest::newRow("hostile value")
        << QByteArray("[Motor 1]\nV_MAX = \x1b]0;") + '\0' + '\a' + QByteArray(60000, '7')
        << R"(line 2: "\x1b]0;\0\x07777)";
    QTest::newRow("too long") << QByteArray(kMaxSnapshotSize + 1, '#') << "longer than 65536 bytes";
}

void TestSnapshot::snapshotErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString why;
    const std::optional<Snapshot> s = parseSnapshot(text, &why);
    QCOMPARE(!s, !error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
    QVERIFY2(why.size() < 200 &&
                 std::none_of(why.begin(), why.end(), [](QChar c) { return c.unicode() < 0x20; }),
             qPrintable(why));
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

void TestSnapshot::refusedRestores_data()
{
    QTest::addColumn<QByteArray>("board"); // what differs from a board just reset
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("refused");
    auto row = [](const char *name, const char *board, const char *file, const char *refused) {
        QTest::newRow(name) << QByteArray(board) << QByteArray(file) << QString(refused);
    };
    row("edited in", "", "[Motor 1]\nV_MAX = 4095\n",
        "M1 V_MAX = 4095, outside the editor's 0 to 2047");
    row("as the board held it", "[Motor 2]\nP_MUL = 200\n",
        "[Motor 2]\nP_MUL = 0\n# held: P_MUL = 0 (x)\n", "");
    row("held, then edited", "", "[Motor 2]\nP_MUL = 5\n# held: P_MUL = 0\n",
        "M2 P_MUL = 5, outside the editor's 128 to 255");
    row("Motor 3's page", "", "[Motor 3]\nV_TARGET = -2048\n[Motor 2]\nV_TARGET = -2048\n",
        "M3 V_TARGET = -2048, outside the editor's -2047 to 2047");
    // RAMPDIV 13 wants an A_MAX of 4096: the restore does not start a move that Go refuses.
    row("a move", "[Motor 1]\nRAMP_MODE = HOLD\n",
        "[Motor 1]\nRAMPDIV = 13\nA_MAX = 100\nRAMP_MODE = RAMP\nX_TARGET = 9\n",
        "motor 1 would start with A_MAX 100, below 4096, the least its dividers allow");
    row("where it stands", "[Motor 1]\nRAMP_MODE = HOLD\nRAMPDIV = 13\n",
        "[Motor 1]\nRAMP_MODE = RAMP\n", "");
    row("velocity, as Go", "[Motor 1]\nRAMPDIV = 13\n",
        "[Motor 1]\nRAMP_MODE = VELOCITY\nX_TARGET = 5\n", "");
}

void TestSnapshot::refusedRestores()
{
    QFETCH(QByteArray, board);
    QFETCH(QByteArray, file);
    QFETCH(QString, refused);
    // The program's own snapshot of a board just reset, P_MUL 0 and all, then the row's changes.
    Snapshot reset;
    for (const RegisterDef *reg : snapshotRegisters(false)) {
        for (int m = 0; m < 3; ++m)
            addRegister(reset, *reg, m, 0);
    }
    const QByteArray saved = snapshotText(reset, {});
    QString why;
    const std::optional<Snapshot> now = parseSnapshot(saved + board, &why);
    const std::optional<Snapshot> wanted = parseSnapshot(file, &why);
    const std::optional<Snapshot> own = parseSnapshot(saved, &why);
    QVERIFY2(now && wanted && own, qPrintable(why));
    const RestoreRefusals r = restoreRefusals(*now, differences(*now, *wanted));
    QCOMPARE((r.outside + r.moves).join("; "), refused);
    // That snapshot goes back whole.
    QVERIFY(restoreRefusals(*now, differences(*now, *own)).empty());
}

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
