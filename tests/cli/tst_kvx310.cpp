// The kvx310 program as scripts use it, against simulated boards: exit statuses, one-line
// errors, values written and read back, a snapshot's round trip, and recordings, whole and cut
// short by an unplugged port.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestKvx310 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exitStatuses_data();
    void exitStatuses();
    void writesAreRangeCheckedAndReadBack();
    void snapshotRoundTrip();
    void recordGivesWellFormedCsv();
    void unplugDuringRecordKeepsTheFile();

private:
    struct Run
    {
        int code = -1;
        QString out;
        QString err;
    };
    // kvx310 with `args`, on the simulated board served for this test unless a --port is given.
    Run kvx(QStringList args, int timeoutMs = 30000);
    QString startBoard(const QStringList &options = {});

    QProcess m_board;
    QString m_pty;
    QTemporaryDir m_dir;
};

TestKvx310::Run TestKvx310::kvx(QStringList args, int timeoutMs)
{
    if (!args.contains(QLatin1String("--port")))
        args = QStringList{QStringLiteral("--port"), m_pty} + args;
    QProcess p;
    p.start(QStringLiteral(KVX310_PATH), args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QString TestKvx310::startBoard(const QStringList &options)
{
    m_board.start(QStringLiteral(KVX310_SIM_PATH), options);
    if (!m_board.waitForStarted(5000) || !m_board.waitForReadyRead(5000))
        return {};
    const QByteArray line = m_board.readLine().trimmed();
    return line.startsWith("pty: ") ? QString::fromLocal8Bit(line.mid(5)) : QString();
}

void TestKvx310::init()
{
    m_pty = startBoard({QStringLiteral("--line-timing")});
    QVERIFY(!m_pty.isEmpty());
}

void TestKvx310::cleanup()
{
    m_board.terminate();
    m_board.waitForFinished(5000);
}

void TestKvx310::exitStatuses_data()
{
    QTest::addColumn<QStringList>("board"); // the simulated board's options
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says"); // on stdout when done, on stderr otherwise
    QTest::newRow("info") << QStringList{} << QStringList{"info"} << 0
                          << "board:          KVX310 evaluation board";
    QTest::newRow("a KORVE board of this process")
        << QStringList{} << QStringList{"--port", "sim:korve", "info"} << 0
        << "board:          KORVE";
    QTest::newRow("one value, quiet")
        << QStringList{} << QStringList{"--quiet", "read", "V_MAX", "--motor", "2"} << 0 << "0\n";
    QTest::newRow("no command") << QStringList{} << QStringList{} << 2 << "no command";
    QTest::newRow("unknown command")
        << QStringList{} << QStringList{"jump"} << 2 << "unknown command";
    QTest::newRow("unknown name") << QStringList{} << QStringList{"read", "V_MAXX"} << 2
                                  << "V_MAXX";
    QTest::newRow("motor 4") << QStringList{} << QStringList{"read", "V_MAX", "--motor", "4"} << 2
                             << "--motor";
    QTest::newRow("write without a motor")
        << QStringList{} << QStringList{"write", "V_MAX=3"} << 2 << "--motor";
    QTest::newRow("read-only") << QStringList{}
                               << QStringList{"write", "A_ACTUAL=3", "--motor", "1"} << 2
                               << "read-only";
    QTest::newRow("no such port") << QStringList{} << QStringList{"--port", "/dev/kvx-none", "read",
                                                                  "V_MAX",  "--motor",       "1"}
                                  << 3 << "/dev/kvx-none";
    QTest::newRow("A_MAX below the dividers' least")
        << QStringList{} << QStringList{"go", "--motor", "1", "--target", "100", "--amax", "0"} << 1
        << "--force";
    QTest::newRow("a name is checked before the port")
        << QStringList{} << QStringList{"--port", "/dev/kvx-none", "read", "V_MAXX"} << 2
        << "V_MAXX";
    QTest::newRow("a board that does not answer")
        << QStringList{"--silent"} << QStringList{"read", "V_MAX", "--motor", "1"} << 1
        << "did not answer";
    QTest::newRow("a stop that is not answered")
        << QStringList{"--silent-to", "08"} << QStringList{"stop", "--motor", "1"} << 1
        << "motor 1 may not have stopped";
    QTest::newRow("the latch takes 0, read back as anything")
        << QStringList{} << QStringList{"write", "--motor", "1", "--verify", "X_LATCHED=0"} << 0
        << "wrote M1 X_LATCHED = 0";
    QTest::newRow("a velocity the chip cannot take")
        << QStringList{}
        << QStringList{"go", "--motor", "1", "--mode", "VELOCITY", "--target", "-2048"} << 2
        << "-2047 to 2047";
}

void TestKvx310::exitStatuses()
{
    QFETCH(QStringList, board);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, says);
    if (!board.isEmpty()) {
        cleanup();
        m_pty = startBoard(QStringList{QStringLiteral("--line-timing")} + board);
        QVERIFY(!m_pty.isEmpty());
    }
    const Run r = kvx(args);
    QCOMPARE(r.code, code);
    if (args.contains(QLatin1String("--quiet"))) {
        QCOMPARE(r.out, says);
    } else if (code == 0) {
        QVERIFY2(r.out.contains(says), qPrintable(r.out));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    } else {
        // One line that says what is wrong.
        QVERIFY2(r.err.startsWith(QLatin1String("kvx310: ")) && r.err.count('\n') == 1 &&
                     r.err.contains(says),
                 qPrintable(r.err));
    }
}

void TestKvx310::writesAreRangeCheckedAndReadBack()
{
    Run r = kvx({"write", "--motor", "3", "--verify", "V_MAX=300", "RAMP_MODE=SOFTMODE",
                 "REF_CONF=DISABLE_STOP_R|REF_RnL"});
    QCOMPARE(r.code, 0);
    // Out of range: refused whole, never wrapped, nothing written.
    r = kvx({"write", "--motor", "3", "V_MAX=20", "V_MIN=2048"});
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(QLatin1String("V_MIN takes 0 to 2047, not 2048")), qPrintable(r.err));
    r = kvx({"--json", "read", "--motor", "3", "V_MAX", "REF_CONF.RAMP_MODE", "REF_CONF", "V_MIN"});
    QCOMPARE(r.code, 0);
    const QJsonArray values = QJsonDocument::fromJson(r.out.toUtf8()).array();
    QStringList texts;
    for (const QJsonValue &v : values)
        texts << v.toObject().value(QLatin1String("text")).toString();
    QCOMPARE(texts, (QStringList{"300", "SOFTMODE", "1010", "0"}));
    // The ramp mode went into its field: REF_CONF is as written, in bits 11..8.
    QCOMPARE(values[1].toObject().value(QLatin1String("data")).toString(),
             QStringLiteral("000A01"));
}

void TestKvx310::snapshotRoundTrip()
{
    const QString file = m_dir.filePath(QStringLiteral("board.ini"));
    QCOMPARE(kvx({"snapshot", "save", file}).code, 0);
    QCOMPARE(kvx({"write", "--motor", "2", "A_THRESHOLD=77", "PULSDIV=4"}).code, 0);
    QCOMPARE(kvx({"ram", "shape", "--sigma", "0", "--write"}).code, 0);
    Run r = kvx({"snapshot", "diff", file});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains(QLatin1String("M2 A_THRESHOLD: board 77, file 0\n")) &&
                 r.out.contains(QLatin1String("M2 PULSDIV: board 4, file 0\n")) &&
                 r.out.contains(QLatin1String("RAM 0x7F: board 3F, file 00\n")),
             qPrintable(r.out));
    r = kvx({"snapshot", "restore", file});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains(QLatin1String("M2 PULSDIV: 4 -> 0")));
    r = kvx({"snapshot", "diff", file});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QString());
}

void TestKvx310::recordGivesWellFormedCsv()
{
    QCOMPARE(kvx({"write", "--motor", "1", "V_MAX=100", "V_TARGET=-50", "RAMP_MODE=VELOCITY"}).code,
             0);
    const QString file = m_dir.filePath(QStringLiteral("live.csv"));
    const Run r = kvx({"record", file, "--duration", "2"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.err.contains(QLatin1String("lines/s")), qPrintable(r.err)); // the progress
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("time_s,status,X_ACTUAL_1,V_TARGET_1,V_ACTUAL_1,A_ACTUAL_1,"
                                       "X_ACTUAL_2,V_TARGET_2,V_ACTUAL_2,A_ACTUAL_2,X_ACTUAL_3,"
                                       "V_TARGET_3,V_ACTUAL_3,A_ACTUAL_3"));
    QCOMPARE(lines.last(), QByteArray()); // the last line is whole
    // A board at the line's pace gives some 17 cycles a second.
    QVERIFY2(lines.size() > 20, qPrintable(QString::number(lines.size())));
    double before = -1;
    for (const QByteArray &line : lines.mid(1, lines.size() - 2)) {
        const QList<QByteArray> fields = line.split(',');
        QCOMPARE(fields.size(), 14);
        bool ok = false;
        const double t = fields[0].toDouble(&ok);
        QVERIFY2(ok && t > before, qPrintable(QString::number(before) + QLatin1String(" then ") + QString::fromLatin1(line)));
        before = t;
        for (const QByteArray &f : fields.mid(1)) {
            f.toLongLong(&ok);
            QVERIFY2(ok, line.constData());
        }
        QCOMPARE(fields[3], QByteArray("-50")); // signed, as written
    }
}

void TestKvx310::unplugDuringRecordKeepsTheFile()
{
    cleanup();
    m_pty = startBoard(
        {QStringLiteral("--line-timing"), QStringLiteral("--hangup-after"), QStringLiteral("1.5")});
    QVERIFY(!m_pty.isEmpty());
    const QString file = m_dir.filePath(QStringLiteral("cut.csv"));
    const Run r = kvx({"record", file, "--duration", "20"});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QLatin1String("was lost")) && r.err.contains(file), qPrintable(r.err));
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray text = csv.readAll();
    QVERIFY(text.endsWith('\n'));
    QVERIFY2(text.count('\n') > 5, text.constData());
}

QTEST_GUILESS_MAIN(TestKvx310)
#include "tst_kvx310.moc"
