// The command-line tool attached to a window that holds the port, and the window's own
// recording: what goes through the socket shows on the window's link, clients take turns, only
// the user may connect, the window tells the requests its board left unanswered, and a window
// that lets the port go ends what runs with its files whole.

#include "common/AppFixture.h"

#include "attach/AttachProtocol.h"
#include "attach/AttachServer.h"
#include "chip/RegisterMap.h"
#include "editor/BoardSnapshot.h"
#include "records/WindowRecording.h"

#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

using namespace kvx;

class TestAttach : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_app.reset(); }
    void clientsTakeTurnsOnTheWindowsLink();
    void closingThePortEndsClients();
    void helloTellsTheUnansweredRequests();
    void windowRecordingKeepsEveryCycle();
    void boardSnapshotFromTheEditor();

private:
    // kvx310 on the window's board, started; it runs while the test's events do.
    std::unique_ptr<QProcess> tool(const QStringList &args);
    static bool finish(QProcess &p)
    {
        return p.waitForFinished(0) ||
               QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 30000);
    }
    static QList<QByteArray> lines(const QString &path);

    std::unique_ptr<AppFixture> m_app;
};

void TestAttach::init()
{
    m_app = std::make_unique<AppFixture>();
    sim::BoardOptions options;
    options.variant = sim::Variant::Pentar;
    QVERIFY(m_app->startBoard(options).serving());
    m_app->createWindows();
    QVERIFY(m_app->openAndWaitFor(QStringLiteral("Pentar detected!")));
}

std::unique_ptr<QProcess> TestAttach::tool(const QStringList &args)
{
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral(KVX310_PATH),
             QStringList{QStringLiteral("--port"), m_app->board().terminalPath()} + args);
    return p;
}

QList<QByteArray> TestAttach::lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> all = f.readAll().split('\n');
    return all;
}

void TestAttach::clientsTakeTurnsOnTheWindowsLink()
{
    // The user's alone: the socket and its folder let no one else in.
    const QByteArray socket = QFile::encodeName(m_app->main().attachServer().socketPath());
    struct stat st
    {};
    QVERIFY(::stat(socket.constData(), &st) == 0 && S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QVERIFY(::stat(QFile::encodeName(QFileInfo(socket).path()).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0700));

    // A peer that does not speak the protocol is let go; the window goes on serving.
    QLocalSocket stranger;
    stranger.connectToServer(m_app->main().attachServer().socketPath());
    QVERIFY(stranger.waitForConnected(1000));
    stranger.write("{\"op\": \"requests\", \"datagrams\": [\n");
    QVERIFY(
        QTest::qWaitFor([&] { return stranger.state() == QLocalSocket::UnconnectedState; }, 5000));

    const std::size_t before = m_app->session().trafficLog().total();
    const auto a = tool({"write", "--motor", "1", "--verify", "V_MAX=100"});
    const auto b = tool({"write", "--motor", "2", "--verify", "V_MAX=200"});
    QVERIFY2(finish(*a) && finish(*b), a->readAllStandardError() + b->readAllStandardError());
    QVERIFY2(a->exitCode() == 0, a->readAllStandardError().constData());
    QVERIFY2(b->exitCode() == 0, b->readAllStandardError().constData());
    const auto c = tool({"--quiet", "read", "V_MAX"});
    QVERIFY(finish(*c));
    QVERIFY2(c->exitCode() == 0, c->readAllStandardError().constData());
    QCOMPARE(c->readAllStandardOutput(), QByteArray("100\n200\n0\n"));

    // Each write and each read went out on the window's link, among its polls.
    QSet<std::uint8_t> commands;
    const TrafficLog &log = m_app->session().trafficLog();
    for (std::size_t i = log.size() - (log.total() - before); i < log.size(); ++i) {
        const TrafficEvent e = log.at(i);
        if (e.sent && e.kind == TrafficKind::Direct)
            commands.insert(std::uint8_t(e.bytes.at(1)));
    }
    for (int m : {0, 1, 2})
        QVERIFY(commands.contains(motorReadAddress(m, motor::VMax)));
    QVERIFY(commands.contains(motorWriteAddress(0, motor::VMax)) &&
            commands.contains(motorWriteAddress(1, motor::VMax)));

    // A second window on the port says who has it, and opens nothing.
    TFormMain second(m_app->iniPath());
    second.BtnOpenClick();
    QVERIFY(!second.session().comm().Connected());
    QVERIFY(m_app->messages.last().informative.contains(QLatin1String("another Eval310 window")));
}

void TestAttach::closingThePortEndsClients()
{
    const QString path = m_app->iniPath() + QStringLiteral(".csv");
    const auto rec = tool({"record", path, "--duration", "60"});
    QVERIFY(QTest::qWaitFor([&] { return lines(path).size() > 3; }, 10000));
    m_app->main().BtnClose->click();
    QVERIFY(finish(*rec));
    QCOMPARE(rec->exitCode(), 1);
    const QByteArray err = rec->readAllStandardError();
    QVERIFY2(err.contains("closed") && err.count('\n') == 2, err.constData()); // progress, error
    // What was recorded stays, in whole lines.
    QCOMPARE(lines(path).last(), QByteArray());
}

void TestAttach::helloTellsTheUnansweredRequests()
{
    // An attached recording fails when the board left polls unanswered meanwhile, as on a port
    // of the tool's own: the tool counts them from the window's hello.
    QLocalSocket client;
    client.connectToServer(m_app->main().attachServer().socketPath());
    QVERIFY(client.waitForConnected(1000));
    auto unanswered = [&client]() -> double {
        client.write(messageLine(
            {{QStringLiteral("op"), QStringLiteral("hello")}, {QStringLiteral("id"), 1}}));
        if (!QTest::qWaitFor([&client] { return client.canReadLine(); }, 5000))
            return -1;
        const std::optional<QJsonObject> hello = parseMessage(client.readLine().trimmed());
        return hello ? hello->value(QLatin1String("unanswered")).toDouble(-1) : -1;
    };
    const BoardLink &link = m_app->session().link();
    const double before = unanswered();
    QCOMPARE(before, double(link.counters().unanswered));

    // V_ACTUAL of motor 1, polled in every cycle, goes unanswered once: its next request, sent
    // on the clock the test moves on, is given up.
    m_app->useSkippingClock();
    const std::uint8_t silent = motorReadAddress(0, motor::VActual);
    bool silentSent = false;
    QObject watch;
    connect(&link, &BoardLink::traffic, &watch, [&](const LinkTraffic &t) {
        silentSent = silentSent || (t.sent && t.kind == TrafficKind::Poll && t.bytes.size() > 1 &&
                                    std::uint8_t(t.bytes.at(1)) == silent);
    });
    sim::Faults faults;
    faults.silentTo = silent;
    m_app->board().board().setFaults(faults);
    QVERIFY(QTest::qWaitFor([&] { return silentSent; }, 5000));
    m_app->skipWatchdog();
    QCOMPARE(unanswered(), before + 1);
}

void TestAttach::windowRecordingKeepsEveryCycle()
{
    const QString path = m_app->iniPath() + QStringLiteral(".csv");
    m_app->fileAnswer = path;
    QSignalSpy cycles(&m_app->session().link(), &BoardLink::pollCycleStart);
    m_app->main().BtnRecord->click();
    QVERIFY(m_app->main().recording().running());
    QVERIFY(QTest::qWaitFor([&] { return cycles.size() > 12; }, 10000));
    m_app->main().BtnRecord->click();
    QVERIFY(!m_app->main().recording().running());
    // A line for each cycle the recording saw whole: the first was already under way, and the
    // next one too when its first request went out before the click.
    QList<QByteArray> all = lines(path);
    const qsizetype recorded = all.size() - 2;
    QVERIFY2(recorded == cycles.size() - 1 || recorded == cycles.size() - 2,
             qPrintable(QStringLiteral("%1 lines, %2 cycles").arg(recorded).arg(cycles.size())));
    QVERIFY(all.first().startsWith("time_s,status,X_ACTUAL_1,"));

    // The board unplugged: the recording ends with the file whole, and says so.
    m_app->main().BtnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return lines(path).size() > 4; }, 10000));
    m_app->board().hangUp();
    QVERIFY(QTest::qWaitFor([&] { return !m_app->main().recording().running(); }, 10000));
    all = lines(path);
    QCOMPARE(all.last(), QByteArray());
    QVERIFY(all.size() > 4);
    QVERIFY(m_app->messages.first().text.contains(QLatin1String("was lost")) ||
            m_app->messages.last().text.contains(QLatin1String("was lost")));
}

void TestAttach::boardSnapshotFromTheEditor()
{
    sim::ChipModel &chip = m_app->board().board().chip();
    const std::uint8_t vMax2 = motorWriteAddress(1, motor::VMax);
    chip.exchange(Datagram::make(vMax2, 300));
    const QString path = m_app->iniPath() + QStringLiteral(".board.ini");
    m_app->fileAnswer = path;
    m_app->advanced().BoardSnapshot->BtnSaveBoard->click();
    // The tool reads the window's file as its own: the board holds all of it.
    const auto diff = tool({"snapshot", "diff", path});
    QVERIFY(finish(*diff));
    QCOMPARE(diff->exitCode(), 0);
    QCOMPARE(diff->readAllStandardOutput(), QByteArray());

    // A load shows what it will change, writes it once accepted, and says so.
    chip.exchange(Datagram::make(vMax2, 5));
    m_app->dialogAnswer = QDialog::Accepted;
    const int dialogs = m_app->dialogs;
    m_app->advanced().BoardSnapshot->BtnLoadBoard->click();
    QCOMPARE(m_app->dialogs, dialogs + 1);
    QCOMPARE(m_app->messages.last().text, QStringLiteral("Wrote 1 values of %1.").arg(path));
    QCOMPARE(chip.peek(motorReadAddress(1, motor::VMax)), 300u);
}

QTEST_MAIN(TestAttach)
#include "tst_attach.moc"
