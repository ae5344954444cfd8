// The command lines of Eval310 and kvx310-sim as a shell meets them: --help and --version on
// standard output with exit status 0 and no window, mistakes on standard error with status 2.
// What the options then do is tested with the programs' parts.

#include <QProcess>
#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestCommandLine::answers_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // standard output holds this; "=" first: is exactly this
    QTest::addColumn<QString>("err"); // standard error holds this; empty: is empty

    const QString eval(QStringLiteral(EVAL310_PATH));
    const QString sim(QStringLiteral(KVX310_SIM_PATH));
    const QString version(QStringLiteral(KVX_VERSION));
    QTest::newRow("Eval310 --help") << eval << QStringList{"--help"} << 0 << "--set-port"
                                    << "";
    QTest::newRow("Eval310 -h") << eval << QStringList{"-h"} << 0 << "--print-port"
                                << "";
    QTest::newRow("Eval310 --version")
        << eval << QStringList{"--version"} << 0 << "=Eval310 " + version + "\n"
        << "";
    QTest::newRow("Eval310 -v") << eval << QStringList{"-v"} << 0 << "=Eval310 " + version + "\n"
                                << "";
    QTest::newRow("Qt's -style is no mistake")
        << eval << QStringList{"-style", "Fusion", "--version"} << 0 << "Eval310"
        << "";
    QTest::newRow("Eval310 unknown option") << eval << QStringList{"--verison"} << 2 << "="
                                            << "verison";
    QTest::newRow("Eval310 argument") << eval << QStringList{"COM1"} << 2 << "="
                                      << "COM1";
    QTest::newRow("Eval310 option without its value")
        << eval << QStringList{"--print-port"} << 2 << "="
        << "print-port";
    QTest::newRow("kvx310-sim --help") << sim << QStringList{"--help"} << 0 << "--silent-to"
                                       << "";
    QTest::newRow("kvx310-sim --version")
        << sim << QStringList{"--version"} << 0 << "=kvx310-sim " + version + "\n"
        << "";
    QTest::newRow("kvx310-sim unknown option") << sim << QStringList{"--hepl"} << 2 << "="
                                               << "--hepl";
}

void TestCommandLine::answers()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcess p;
    // No display at all: an answer that opened a window would fail to start.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    QVERIFY(p.waitForFinished(60000));
    const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    if (out.startsWith(QLatin1Char('=')))
        QCOMPARE(stdOut, out.mid(1));
    else
        QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
    if (err.isEmpty())
        QCOMPARE(stdErr, QString());
    else
        QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
