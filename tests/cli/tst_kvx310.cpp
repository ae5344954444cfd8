// The kvx310 program as scripts use it, against simulated boards: exit statuses, one-line
// errors, values written and read back, a snapshot's round trip, what it refuses (options a
// command does not take, devices, hostile files, another user's links, restores past the
// editor's ranges) and what it says of writes that may have landed, and recordings, whole and
// cut short by an unplugged port or a full disk; scripts of its commands on one session (a move
// recorded from its first cycle, waits, stops that keep the position), one JSON object per
// command, and the README's automation scripts run as they stand. The tool attached to a window
// is tst_attach's, a recording's times in virtual time tst_traceexport's.

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// What a row of refusesAndSaysWhy runs the tool with.
enum Setting
{
    Plain,
    FullDisk,     // no file may grow past 2000 bytes
    OthersFolder, // the runtime folder is /tmp
    DeepFolder,   // the runtime folder leaves no room for a socket's name
    OthersLink,   // FILE is another user's link to the file the row writes
};

} // namespace

class TestKvx310 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exitStatuses_data();
    void exitStatuses();
    void refusesAndSaysWhy_data();
    void refusesAndSaysWhy();
    void writesAreRangeCheckedAndReadBack();
    void snapshotRoundTrip();
    void recordGivesWellFormedCsv();
    void unplugDuringRecordKeepsTheFile();
    void scripts_data();
    void scripts();
    void jsonOneObjectPerCommand();
    void readmeScriptsRun_data();
    void readmeScriptsRun();

private:
    struct Run
    {
        int code = -1;
        QString out;
        QString err;
    };
    // kvx310 with `args`, on the simulated board served for this test unless a --port is given.
    Run kvx(QStringList args, int timeoutMs = 30000, QProcess *setUp = nullptr);
    QString startBoard(const QStringList &options = {});
    // The board of this test again, at the line's pace with these options.
    bool restartBoard(const QStringList &options);

    QProcess m_board;
    QString m_pty;
    QTemporaryDir m_dir;
};

TestKvx310::Run TestKvx310::kvx(QStringList args, int timeoutMs, QProcess *setUp)
{
    if (!args.contains(QLatin1String("--port")))
        args = QStringList{QStringLiteral("--port"), m_pty} + args;
    QProcess own;
    QProcess &p = setUp ? *setUp : own;
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
    if (!m_board.waitForStarted(30000) || !m_board.waitForReadyRead(30000))
        return {};
    const QByteArray line = m_board.readLine().trimmed();
    return line.startsWith("pty: ") ? QString::fromLocal8Bit(line.mid(5)) : QString();
}

bool TestKvx310::restartBoard(const QStringList &options)
{
    cleanup();
    m_pty = startBoard(QStringList{QStringLiteral("--line-timing")} + options);
    return !m_pty.isEmpty();
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
    QTest::newRow("a plain board has no identification")
        << QStringList{} << QStringList{"info"} << 0 << "identification: none";
    QTest::newRow("status bits by name")
        << QStringList{} << QStringList{"read", "STATUS", "X_ACTUAL2 = X_TARGET2", "INTERRUPT"} << 0
        << "STATUS = 0x15 (X_REACHED_1|X_REACHED_2|X_REACHED_3)\nX_REACHED_2 = 1\n"
           "INTERRUPT = 0\n";
    QTest::newRow("a wait that times out")
        << QStringList{} << QStringList{"wait", "--motor", "2", "V_MAX>0", "--timeout", "0.3"} << 1
        << "M2 V_MAX>0 did not hold within 0.3 s (M2 V_MAX is 0)";
    QTest::newRow("a wait that holds")
        << QStringList{} << QStringList{"wait", "STATUS=0x15"} << 0 << "STATUS = 0x15 after";
    QTest::newRow("whose register") << QStringList{} << QStringList{"wait", "X_ACTUAL=3"} << 2
                                    << "say whose X_ACTUAL with --motor";
    QTest::newRow("a bit is 0 or 1") << QStringList{} << QStringList{"wait", "REFERENCE_SWITCH_2=2"}
                                     << 2 << "REFERENCE_SWITCH_2 is 0 to 1";
    QTest::newRow("record --stop belongs to a script")
        << QStringList{} << QStringList{"record", "--stop"} << 2 << "of a script";
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
    if (!board.isEmpty())
        QVERIFY(restartBoard(board));
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

void TestKvx310::refusesAndSaysWhy_data()
{
    QTest::addColumn<QString>("board");   // the simulated board's options
    QTest::addColumn<QByteArray>("file"); // written to FILE in the arguments
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("err"); // the one line on stderr holds this; empty: none
    QTest::addColumn<QString>("out"); // stdout holds this
    QTest::addColumn<int>("setting");
    auto row = [](const char *name, const char *board, const QByteArray &file, const char *args,
                  int code, const char *err, const char *out = "", Setting setting = Plain) {
        QTest::newRow(name) << board << file << args << code << err << out << int(setting);
    };
    const QByteArray over = "[Motor 1]\nV_MAX = 4095\n";
    const char *outside = "M1 V_MAX = 4095, outside the editor's 0 to 2047; nothing";
    const char *unknown = "nothing was written before it; M1 V_MAX may have been written";
    const char *restore = "snapshot restore FILE";
    // Restores past the editor's ranges, and a move Go would refuse.
    row("restore", "", over, restore, 2, outside);
    row("diff marks it", "", over, "snapshot diff FILE", 1, "", "(outside the editor's 0 to 2047)");
    row("--dry-run marks it", "", over, "snapshot restore FILE --dry-run", 2, outside, "(outside");
    row("--force", "", over, "snapshot restore FILE --force", 0, "", "M1 V_MAX: 0 -> 4095");
    row("a move", "", "[Motor 2]\nRAMPDIV = 13\nX_TARGET = 1\n", restore, 1,
        "motor 2 would start with A_MAX 0, below 4096, the least its dividers allow; nothing");
    row("Motor 3", "", "", "write --motor 3 V_TARGET=-2048", 2, "M3 V_TARGET takes -2047 to");
    // Files without a bound, devices, a full disk (the file keeps whole lines).
    row("device snapshot", "", "", "snapshot diff /dev/zero", 2, "It is not a regular file.");
    row("device recording", "", "", "record /dev/null", 2, "it is not a regular file");
    row("full disk", "", "", "--quiet record FILE", 2, "could not write FILE: the disk", "",
        FullDisk);
    // Writes whose answer did not come (the chip takes them all the same).
    row("write unanswered", "--silent-to 06", "", "write --motor 1 V_MAX=5", 1, unknown);
    row("restore unanswered", "--silent-to 06", "[Motor 1]\nV_MAX = 5\n", restore, 1, unknown);
    // What a script should not get past.
    row("--dry-run", "", "", "write --motor 1 V_MAX=5 --dry-run", 2, "does not take --dry-run");
    row("--all", "", "", "write --motor 1 --all V_MAX=6", 2, "--motor N or --all, not both");
    row("options of go", "", "", "read X_ACTUAL --verify --target 5", 2, "does not take --verify");
    row("unset $PORT", "", "", "--port EMPTY read V_MAX", 2, "--port is empty");
    row("another's folder", "", "", "read V_MAX --motor 1", 3, "cannot tell", "", OthersFolder);
    row("a folder too deep", "", "", "read V_MAX --motor 1", 3,
        "too long a folder name for a socket", "", DeepFolder);
    // Saves and recordings follow no link another user planted.
    const char *planted = "is a symbolic link of another user (uid 4242); it is not followed";
    row("another's link", "", "key", "snapshot save FILE", 2, planted, "", OthersLink);
    row("another's link, recorded", "", "key", "record FILE --duration 1", 2, planted, "",
        OthersLink);
    row("--amax 0x10", "", "", "go --motor 1 --target 0 --amax 0x10", 0, "", "motor 1 started");
    // Untrusted text reaches the terminal escaped, short and whole.
    row("hostile file", "", "[Motor 1]\nV_MAX = \x1b]0;\a" + QByteArray(50000, 'A'), restore, 2,
        R"(line 2: "\x1b]0;\x07AAA)");
    row("hostile option", "", "", "read V_MAX --\x1b[2J\x1b]0;x\a", 2,
        R"(Unknown option '\x1b[2J\x1b]0;x\x07')");
}

void TestKvx310::refusesAndSaysWhy()
{
    QFETCH(QString, board);
    QFETCH(QByteArray, file);
    QFETCH(QString, args);
    QFETCH(int, code);
    QFETCH(QString, err);
    QFETCH(QString, out);
    if (!board.isEmpty())
        QVERIFY(restartBoard(board.split(QLatin1Char(' '))));
    QFETCH(int, setting);
    const QString path = m_dir.filePath(QStringLiteral("file.ini"));
    QFile::remove(path); // an earlier row's link goes, not what it leads to
    // "ln -s ~victim/.ssh/id_ed25519 /tmp/snap.txt" by another user: the victim's file stays.
    QFile f(setting == OthersLink ? m_dir.filePath(QStringLiteral("key")) : path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(file) == file.size());
    f.close();
    if (setting == OthersLink) {
        if (::geteuid() != 0)
            QSKIP("only root can give a link to another user (lchown), as CI's runs do");
        QVERIFY(QFile::link(f.fileName(), path) &&
                ::lchown(QFile::encodeName(path).constData(), 4242, 4242) == 0);
    }
    QProcess p;
    if (setting == FullDisk) {
        // No file may grow past 2000 bytes: a full disk, as far as the tool can tell.
        p.setChildProcessModifier([] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{2000, 2000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    } else if (setting == OthersFolder || setting == DeepFolder) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                   setting == OthersFolder ? QStringLiteral("/tmp")
                                           : m_dir.filePath(QString(100, QLatin1Char('r'))));
        p.setProcessEnvironment(env);
    }
    QStringList words = args.split(QLatin1Char(' '));
    words.replaceInStrings(QStringLiteral("FILE"), path);
    words.replaceInStrings(QStringLiteral("EMPTY"), QString());
    const Run r = kvx(words, 60000, &p);
    QVERIFY(setting != FullDisk || (f.open(QIODevice::ReadOnly) && f.readAll().endsWith('\n')));
    QVERIFY(setting != OthersLink || (f.open(QIODevice::ReadOnly) && f.readAll() == file));
    const QString context = r.err + QLatin1String(" | ") + r.out.left(300);
    QVERIFY2(r.code == code, qPrintable(context));
    QVERIFY2(r.out.contains(out), qPrintable(context));
    err.replace(QStringLiteral("FILE"), path);
    // One line, short, that says what is wrong; none when done.
    QVERIFY2(err.isEmpty()
                 ? r.err.isEmpty()
                 : r.err.startsWith(QLatin1String("kvx310: ")) && r.err.count('\n') == 1 &&
                       r.err.contains(err) && r.err.size() < 400,
             qPrintable(context));
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
    const QJsonArray values =
        QJsonDocument::fromJson(r.out.toUtf8()).object().value(QLatin1String("values")).toArray();
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
    QCOMPARE(r.code, 1); // as diff(1): they differ
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
                                       "V_TARGET_3,V_ACTUAL_3,A_ACTUAL_3,status_bits,clock"));
    QCOMPARE(lines.last(), QByteArray()); // the last line is whole
    // A board at the line's pace gives some 17 cycles a second, a busy host fewer: several
    // rows, whatever the machine's load (the rate is bench/cli_tool's to measure).
    QVERIFY2(lines.size() > 5, qPrintable(QString::number(lines.size())));
    double before = -1;
    QDateTime started;
    for (const QByteArray &line : lines.mid(1, lines.size() - 2)) {
        const QList<QByteArray> fields = line.split(',');
        QCOMPARE(fields.size(), 16);
        bool ok = false;
        const double t = fields[0].toDouble(&ok);
        QVERIFY2(ok && t > before, qPrintable(QString::number(before) + QLatin1String(" then ") +
                                              QString::fromLatin1(line)));
        before = t;
        for (const QByteArray &f : fields.mid(1, 13)) {
            f.toLongLong(&ok);
            QVERIFY2(ok, line.constData());
        }
        QCOMPARE(fields[3], QByteArray("-50")); // signed, as written
        // The status by name, and the wall clock of each cycle: its start and time_s apart.
        QCOMPARE(fields[14], QByteArray("X_REACHED_1|X_REACHED_2|X_REACHED_3"));
        const QDateTime clock =
            QDateTime::fromString(QString::fromLatin1(fields[15]), Qt::ISODateWithMs);
        QVERIFY2(clock.isValid() && fields[15].contains('.'), fields[15].constData());
        if (!started.isValid())
            started = clock.addMSecs(-std::llround(t * 1000));
        // Both columns are rounded (time_s to 0.1 ms, the clock to 1 ms), the first line's
        // too: up to 1.65 ms apart as read back, never a whole 2.
        QVERIFY2(std::abs(started.msecsTo(clock) - t * 1000) < 2, line.constData());
    }
    // Cycles begun within the duration, not past it.
    QVERIFY2(before < 2.0, qPrintable(QString::number(before)));
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

void TestKvx310::scripts_data()
{
    QTest::addColumn<QString>("script"); // FILE: a file of the test's
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");   // a pattern the standard output matches
    QTest::addColumn<QString>("err");   // the standard error holds this; empty: is empty
    QTest::addColumn<QString>("then");  // a command run after it, and
    QTest::addColumn<QString>("says");  // what it prints
    QTest::addColumn<QString>("moves"); // FILE's X_ACTUAL_1 at first and last: "0 3000"
    QTest::newRow("a move recorded beside it")
        << "write --motor 1 V_MAX=200 A_MAX=100\nrecord FILE --motor 1\n"
           "go --motor 1 --target 3000   # the move\n\nwait X_REACHED_1 --timeout 30\n"
           "record --stop\nwait --motor 1 'X_ACTUAL = 3000' --timeout 0"
        << 0 << "towards 3000\nX_REACHED_1 = 1 after [0-9.]+ s\nM1 X_ACTUAL = 3000 after"
        << "recording: "
        << ""
        << ""
        << "0 3000";
    QTest::newRow("go --record, one line")
        << "go --motor 1 --target -2000 --amax 100 --vmax 300 --record FILE\n"
           "wait X_REACHED_1 --timeout 30"
        << 0 << "towards -2000\n"
        << "recording: "
        << ""
        << ""
        << "0 -2000";
    QTest::newRow("homing to a reference switch")
        << "go --motor 3 --mode VELOCITY --target -2047 --amax 2047\n"
           "wait REFERENCE_SWITCH_3 --timeout 30\nstop --motor 3\nread X_ACTUAL --motor 3"
        << 0 << "REFERENCE_SWITCH_3 = 1 after .*\nmotor 3 stopped at (-\\d+)\nM3 X_ACTUAL = \\1\n"
        << ""
        << "--quiet read REFERENCE_SWITCH_3 V_ACTUAL --motor 3"
        << "0\n1\n"
        << "";
    // The position counter stays the chip's own: the motor stands where it is.
    QTest::newRow("stop keeps the position")
        << "go --motor 2 --target 300000 --vmax 400 --amax 200\n"
           "wait --motor 2 X_ACTUAL>20000 --timeout 30\nstop --motor 2\n"
           "read X_ACTUAL X_TARGET RAMP_MODE V_ACTUAL --motor 2"
        << 0
        << "motor 2 stopped at (\\d+)\nM2 X_ACTUAL = \\1\nM2 X_TARGET = \\1\n"
           "M2 RAMP_MODE = RAMP\nM2 V_ACTUAL = 0\n"
        << ""
        << "--quiet read X_ACTUAL --motor 2"
        << "\\1\n"
        << "";
    QTest::newRow("the window's stop, by its name")
        << "go --motor 2 --target 300000 --vmax 400 --amax 200\n"
           "wait --motor 2 X_ACTUAL>20000 --timeout 30\nstop --motor 2 --x-actual-to-target\n"
           "read X_ACTUAL --motor 2"
        << 0 << "X_ACTUAL set to its target 300000\nM2 X_ACTUAL = 300000\n"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("a line that fails ends it")
        << "write --motor 2 V_MAX=7\nwait --motor 2 V_MAX=8 --timeout 0.2\nwrite --motor 2 V_MAX=9"
        << 1 << "^wrote M2 V_MAX = 7\n$"
        << "kvx310: line 2: M2 V_MAX=8 did not hold within 0.2 s (M2 V_MAX is 7)"
        << "--quiet read V_MAX --motor 2"
        << "7\n"
        << "";
    QTest::newRow("every line is checked before the first runs")
        << "write --motor 2 V_MAX=5\nread V_MAXX" << 2 << "^$"
        << "kvx310: line 2: no register"
        << "--quiet read V_MAX --motor 2"
        << "0\n"
        << "";
    QTest::newRow("a quote not closed") << "read 'X_ACTUAL" << 2 << "^$"
                                        << "line 1: a ' is not closed"
                                        << ""
                                        << ""
                                        << "";
    QTest::newRow("the port is the script's") << "read V_MAX --port sim" << 2 << "^$"
                                              << "--port is the script's"
                                              << ""
                                              << ""
                                              << "";
}

void TestKvx310::scripts()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, then);
    QFETCH(QString, says);
    QFETCH(QString, moves);
    const QString file = m_dir.filePath(QStringLiteral("move.csv"));
    QFile::remove(file);
    QProcess p;
    p.setStandardInputFile(m_dir.filePath(QStringLiteral("script")));
    QFile in(m_dir.filePath(QStringLiteral("script")));
    QVERIFY(in.open(QIODevice::WriteOnly | QIODevice::Truncate));
    in.write(script.replace(QStringLiteral("FILE"), file).toUtf8());
    in.close();
    const Run r = kvx({"script", "-"}, 60000, &p);
    const QString context = r.err + QLatin1String(" | ") + r.out;
    QVERIFY2(r.code == code, qPrintable(context));
    const QRegularExpressionMatch match = QRegularExpression(out).match(r.out);
    QVERIFY2(match.hasMatch(), qPrintable(context));
    QVERIFY2(err.isEmpty() ? r.err.isEmpty() : r.err.contains(err), qPrintable(context));
    if (!then.isEmpty()) {
        // \1 stands for what the script's output matched first, a position.
        const Run after = kvx(then.split(QLatin1Char(' ')));
        QCOMPARE(after.out, says.replace(QStringLiteral("\\1"), match.captured(1)));
    }
    if (moves.isEmpty())
        return;
    // From the cycle before the move to where it ended.
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().trimmed().split('\n');
    QVERIFY2(lines.size() > 4, qPrintable(QString::number(lines.size())));
    QCOMPARE(lines.first().split(',').value(2), QByteArray("X_ACTUAL_1"));
    QCOMPARE(lines[1].split(',').value(2) + ' ' + lines.last().split(',').value(2),
             moves.toLatin1());
}

void TestKvx310::jsonOneObjectPerCommand()
{
    const QString file = m_dir.filePath(QStringLiteral("board.ini"));
    QProcess p;
    QFile in(m_dir.filePath(QStringLiteral("script")));
    QVERIFY(in.open(QIODevice::WriteOnly | QIODevice::Truncate));
    in.write(QStringLiteral("info\nread V_MAX X_REACHED_1 --motor 1\nwrite V_MAX=300 --motor 1\n"
                            "go --motor 1 --target 100 --amax 100 --wait\nstop --motor 1\n"
                            "wait X_REACHED_1\nram read\nsnapshot save FILE\n"
                            "write V_MIN=4 --motor 1\nsnapshot diff FILE\n")
                 .replace(QStringLiteral("FILE"), file)
                 .toUtf8());
    in.close();
    p.setStandardInputFile(in.fileName());
    const Run r = kvx({"--json", "script", "-"}, 60000, &p);
    // The diff finds the board differs: the script ends there, as diff(1) would say so.
    QVERIFY2(r.code == 1 && r.err.isEmpty(), qPrintable(r.err));
    const QStringList lines = r.out.trimmed().split(QLatin1Char('\n'));
    QStringList commands;
    std::map<QString, QJsonObject> by;
    for (const QString &line : lines) {
        QJsonParseError e{};
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8(), &e).object();
        QVERIFY2(e.error == QJsonParseError::NoError && o.contains(QLatin1String("exit")),
                 qPrintable(line));
        commands << o.value(QLatin1String("command")).toString();
        by[commands.last()] = o;
    }
    QCOMPARE(commands, (QStringList{"info", "read", "write", "go", "stop", "wait", "ram read",
                                    "snapshot save", "write", "snapshot diff"}));
    QCOMPARE(by["info"].value(QLatin1String("identification")), QJsonValue());
    QCOMPARE(by["go"].value(QLatin1String("reached")).toInt(), 100);
    QCOMPARE(
        by["stop"].value(QLatin1String("stopped")).toArray().at(0).toObject().value("x_actual"),
        QJsonValue(100));
    QCOMPARE(by["snapshot diff"].value(QLatin1String("exit")).toInt(), 1);
    // read and write tell a value alike.
    const QJsonObject read = by["read"].value(QLatin1String("values")).toArray().at(0).toObject();
    const QJsonObject wrote = by["write"].value(QLatin1String("values")).toArray().at(0).toObject();
    QCOMPARE(read.keys(), wrote.keys());
    QCOMPARE(read.value(QLatin1String("register")).toString(), QStringLiteral("V_MAX"));
    QCOMPARE(wrote.value(QLatin1String("data")).toString(), QStringLiteral("000004"));
    const QJsonObject bit = by["read"].value(QLatin1String("values")).toArray().at(1).toObject();
    QCOMPARE(bit.value(QLatin1String("name")).toString(), QStringLiteral("X_REACHED_1"));
    QVERIFY(
        bit.value(QLatin1String("status_bits")).toArray().contains(QStringLiteral("X_REACHED_1")));

    // An error too is an object, on the standard error, with the exit status.
    const Run e = kvx({"--json", "read", "V_MAXX"});
    QCOMPARE(e.code, 2);
    const QJsonObject o = QJsonDocument::fromJson(e.err.toUtf8()).object();
    QVERIFY2(o.value(QLatin1String("exit")).toInt() == 2 &&
                 o.value(QLatin1String("error")).toString().contains(QLatin1String("V_MAXX")),
             qPrintable(e.err));
    QVERIFY(e.out.isEmpty());
}

void TestKvx310::readmeScriptsRun_data()
{
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("shell");
    QTest::newRow("bash") << "automation-bash"
                          << "bash";
    QTest::newRow("python") << "automation-python"
                            << "python3";
}

void TestKvx310::readmeScriptsRun()
{
    QFETCH(QString, marker);
    QFETCH(QString, shell);
    // The indented block after the marker, as it stands in the README.
    QFile readme(QStringLiteral(README_PATH));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QStringList all = QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'));
    const qsizetype at = all.indexOf(QStringLiteral("<!-- %1 -->").arg(marker));
    QVERIFY(at >= 0);
    QStringList code;
    for (qsizetype i = at + 2; i < all.size() && all[i].startsWith(QLatin1String("    ")); ++i)
        code << all[i].mid(4);
    QVERIFY2(code.size() >= 4 && (shell != QLatin1String("bash") || code.size() <= 8),
             qPrintable(code.join('\n')));
    // Run where the README's "build/" is this build.
    QVERIFY(QFile::link(QFileInfo(QStringLiteral(KVX310_PATH)).absolutePath(),
                        m_dir.filePath(QStringLiteral("build"))) ||
            QFileInfo(m_dir.filePath(QStringLiteral("build"))).isSymLink());
    QFile::remove(m_dir.filePath(QStringLiteral("move.csv")));
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(shell, {QStringLiteral("-c"), code.join(QLatin1Char('\n'))});
    QVERIFY(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, err.constData());
    QFile csv(m_dir.filePath(QStringLiteral("move.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().trimmed().split('\n');
    QCOMPARE(lines[1].split(',').value(2) + ' ' + lines.last().split(',').value(2),
             QByteArray("0 5000"));
}

QTEST_GUILESS_MAIN(TestKvx310)
#include "tst_kvx310.moc"
