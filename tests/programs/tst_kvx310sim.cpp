// The kvx310-sim program as scripts use it: its one "pty:" line, the link, signals, the fault
// options that end or silence it, and argument errors. The board itself is tested elsewhere.

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "common/RawTerminal.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class TestKvx310Sim : public QObject
{
    Q_OBJECT

private slots:
    void printsTerminalAndServesUntilTerminated();
    void linkFollowsTheTerminalAndIsRemoved();
    void silentNeverAnswers();
    void hangUpAfterClosesTheTerminal();
    void badArguments_data();
    void badArguments();

private:
    static QString start(QProcess &p, const QStringList &args);
};

namespace {

QByteArray readFor(int fd, int count, int ms)
{
    QByteArray got;
    pollfd p{fd, POLLIN, 0};
    while (got.size() < count && ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN)) {
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, qsizetype(n));
    }
    return got;
}

const QByteArray kRead("#\x03\x00\x00\x00", 5);

} // namespace

QString TestKvx310Sim::start(QProcess &p, const QStringList &args)
{
    p.start(QStringLiteral(KVX310_SIM_PATH), args);
    if (!p.waitForStarted(30000) || !p.waitForReadyRead(30000))
        return {};
    const QByteArray line = p.readLine().trimmed();
    return line.startsWith("pty: ") ? QString::fromLocal8Bit(line.mid(5)) : QString();
}

void TestKvx310Sim::printsTerminalAndServesUntilTerminated()
{
    QProcess p;
    const QString pty = start(p, {});
    QVERIFY(pty.startsWith(QLatin1String("/dev/pts/")));
    const int fd = openRawTerminal(pty);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, kRead.constData(), 5), 5);
    QCOMPARE(readFor(fd, 4, 2000).size(), 4);
    ::close(fd);
    p.terminate();
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().isEmpty()); // exactly one line
}

void TestKvx310Sim::linkFollowsTheTerminalAndIsRemoved()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    QProcess p;
    const QString pty = start(
        p, {QStringLiteral("--link"), link, QStringLiteral("--variant"), QStringLiteral("korve")});
    QVERIFY(!pty.isEmpty());
    QCOMPARE(QFileInfo(link).symLinkTarget(), pty);
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void TestKvx310Sim::silentNeverAnswers()
{
    QProcess p;
    const QString pty = start(p, {QStringLiteral("--silent")});
    const int fd = openRawTerminal(pty);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, kRead.constData(), 5), 5);
    QCOMPARE(readFor(fd, 1, 200), QByteArray());
    ::close(fd);
    p.terminate();
    QVERIFY(p.waitForFinished(30000));
}

void TestKvx310Sim::hangUpAfterClosesTheTerminal()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    QProcess p;
    const QString pty = start(p, {QStringLiteral("--hangup-after"), QStringLiteral("0.2"),
                                  QStringLiteral("--link"), link});
    const int fd = openRawTerminal(pty);
    QVERIFY(fd >= 0);
    pollfd pf{fd, POLLIN, 0};
    QCOMPARE(::poll(&pf, 1, 5000), 1);
    QVERIFY(pf.revents & (POLLHUP | POLLERR));
    ::close(fd);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestKvx310Sim::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--fast"};
    QTest::newRow("unknown variant") << QStringList{"--variant", "turbo"};
    QTest::newRow("missing value") << QStringList{"--drop-every"};
    QTest::newRow("zero count") << QStringList{"--stray-every", "0"};
    QTest::newRow("unknown stray position") << QStringList{"--stray-at", "middle"};
    QTest::newRow("negative delay") << QStringList{"--late-ms", "-5"};
    QTest::newRow("not a number") << QStringList{"--turnaround-us", "soon"};
    QTest::newRow("negative seconds") << QStringList{"--hangup-after", "-1"};
}

void TestKvx310Sim::badArguments()
{
    QFETCH(QStringList, args);
    QProcess p;
    p.start(QStringLiteral(KVX310_SIM_PATH), args);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty());
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY(err.contains("usage: kvx310-sim"));
}

QTEST_GUILESS_MAIN(TestKvx310Sim)
#include "tst_kvx310sim.moc"
