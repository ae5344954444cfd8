// The command-line tool attached to a window that holds the port, and the window's own
// recording: what goes through the socket shows on the window's link, clients take turns, only
// the user may connect, what clients may hold is bounded (their number, their questions, their
// silence, the window's descriptors), the window tells the requests its board left unanswered,
// a window that lets the port go ends what runs with its files whole and says so, unlike one
// killed, the window's recording ends with a whole line on a full disk, the traffic view names
// the tool's requests and hides a wait's reads with the polls, and the register editor's load
// refuses what the editor would and what is not a file. What the tool refuses on its own port
// is tst_kvx310's.

#include "common/AppFixture.h"
#include "common/FileSizeLimit.h"

#include "app/TrafficModel.h"
#include "attach/AttachProtocol.h"
#include "attach/AttachServer.h"
#include "chip/RegisterMap.h"
#include "editor/BoardSnapshot.h"
#include "records/WindowRecording.h"
#include "settings/FileSave.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kvx;

class TestAttach : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_app.reset(); }
    void clientsTakeTurnsOnTheWindowsLink();
    void windowLetsClientsGo_data();
    void windowLetsClientsGo();
    void closingThePortEndsClients();
    void aKilledWindowIsToldApart();
    void helloTellsTheUnansweredRequests();
    void toolsRequestsAreNamedAsTheTools();
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
    // A client of the window's socket that said hello and was answered: taken on (nothing to
    // read), or turned away (the line that says why to read).
    std::unique_ptr<QLocalSocket> client();
    // What the window says to `socket` next: a message line, or nothing once it let go.
    static std::optional<QJsonObject> nextMessage(QLocalSocket &socket);

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

std::unique_ptr<QLocalSocket> TestAttach::client()
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(m_app->main().attachServer().socketPath());
    socket->write(
        messageLine({{QStringLiteral("op"), QStringLiteral("hello")}, {QStringLiteral("id"), 1}}));
    if (!QTest::qWaitFor([&] { return socket->canReadLine(); }, AppFixture::kEventWait))
        return nullptr;
    // Taken on, its hello is answered; turned away, the line that says why is left to read.
    if (!socket->peek(kMaxMessage).contains("\"error\""))
        socket->readLine();
    return socket;
}

std::optional<QJsonObject> TestAttach::nextMessage(QLocalSocket &socket)
{
    (void)QTest::qWaitFor(
        [&] { return socket.canReadLine() || socket.state() == QLocalSocket::UnconnectedState; },
        AppFixture::kEventWait);
    return parseMessage(socket.readLine().trimmed());
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
    QVERIFY(stranger.waitForConnected(AppFixture::kEventWait));
    stranger.write("{\"op\": \"requests\", \"datagrams\": [\n");
    QVERIFY(
        QTest::qWaitFor([&] { return stranger.state() == QLocalSocket::UnconnectedState; }, 5000));

    const std::size_t before = m_app->session().trafficLog().total();
    const auto a = tool({"write", "--motor", "1", "--verify", "V_MAX=100"});
    const auto b = tool({"write", "--motor", "2", "--verify", "V_MAX=200"});
    // What the tools said, read once: every message below shows it.
    const bool finished = finish(*a) && finish(*b);
    const QByteArray said = "a: " + a->readAllStandardError() + " b: " + b->readAllStandardError();
    QVERIFY2(finished, said.constData());
    QVERIFY2(a->exitCode() == 0, said.constData());
    QVERIFY2(b->exitCode() == 0, said.constData());
    const auto c = tool({"--quiet", "read", "V_MAX"});
    const bool cFinished = finish(*c);
    const QByteArray cSaid = c->readAllStandardError();
    QVERIFY2(cFinished && c->exitCode() == 0, cSaid.constData());
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

void TestAttach::windowLetsClientsGo_data()
{
    QTest::addColumn<QString>("told"); // what the client let go is told; empty: nothing
    QTest::newRow("more clients than the window serves") << "serves as many tools as it can (16)";
    QTest::newRow("info asked five times at once") << "";
    QTest::newRow("silence for too long") << "after 60 s of silence";
    QTest::newRow("spare descriptors taken by clients") << "serves as many tools as";
}

void TestAttach::windowLetsClientsGo()
{
    QFETCH(QString, told);
    const QByteArray limit = QByteArray(QTest::currentDataTag()).split(' ').first();
    AttachServer &server = m_app->main().attachServer();
    std::vector<std::unique_ptr<QLocalSocket>> kept;
    std::unique_ptr<QLocalSocket> gone; // the client the window lets go
    if (limit == "more") {
        while (kept.size() < std::size_t(AttachServer::kMaxClients))
            QVERIFY(kept.emplace_back(client()) && !kept.back()->canReadLine());
        // The tool is told, and opens no device of its own beside the window.
        const auto t = tool({"read", "V_MAX", "--motor", "1"});
        const bool finished = finish(*t);
        const QByteArray err = t->readAllStandardError();
        QVERIFY2(finished && t->exitCode() == 3 && err.contains(told.toUtf8()), err.constData());
        gone = client();
    } else if (limit == "info") {
        QVERIFY(gone = client());
        gone->write(messageLine({{QStringLiteral("op"), QStringLiteral("info")}}).repeated(5));
    } else if (limit == "silence") {
        auto now = std::make_shared<std::int64_t>(0);
        server.setClock([now] { return *now; });
        QVERIFY((gone = client()) && kept.emplace_back(client()));
        // A client that records is not silent: its lines go on coming.
        kept.back()->write(
            messageLine({{QStringLiteral("op"), QStringLiteral("record")},
                         {QStringLiteral("columns"), QJsonArray{QJsonArray{1, "X"}}}}));
        QVERIFY(nextMessage(*kept.back()));
        *now += std::chrono::milliseconds(AttachServer::kIdleLimit).count() + 1;
        server.checkClients();
        QVERIFY(nextMessage(*kept.back()));
    } else {
        rlimit before{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &before) == 0);
        // The system hands out the lowest descriptor free: the limit a few above it.
        rlimit few = before;
        few.rlim_cur = rlim_t(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        ::close(int(few.rlim_cur));
        few.rlim_cur += AttachServer::kSpareDescriptors + 8;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &few) == 0);
        while (kept.size() < 8 && kept.emplace_back(client()) && !kept.back()->canReadLine())
            ;
        // The window's own saves still find descriptors.
        const QString saved = saveWholeFile(m_app->iniPath() + QStringLiteral(".saved"), "kept");
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &before) == 0);
        QCOMPARE(saved, QString());
        gone = std::move(kept.back());
    }
    // Told why, and let go; the others are kept.
    QVERIFY(gone);
    const QJsonObject last = nextMessage(*gone).value_or(QJsonObject());
    QVERIFY2(last.value(QLatin1String("error")).toString().contains(told),
             messageLine(last).constData());
    QVERIFY(QTest::qWaitFor([&] { return gone->state() == QLocalSocket::UnconnectedState; },
                            AppFixture::kEventWait));
    // The window goes on serving, on the same socket.
    kept.clear();
    gone.reset();
    QVERIFY(QTest::qWaitFor([&] { return server.clientCount() == 0; }, AppFixture::kEventWait));
    const auto t = tool({"--quiet", "read", "V_MAX", "--motor", "1"});
    const bool finished = finish(*t);
    const QByteArray err = t->readAllStandardError();
    QVERIFY2(finished && t->exitCode() == 0, err.constData());
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

void TestAttach::aKilledWindowIsToldApart()
{
    // A window killed says no goodbye, unlike one that lets the port go: played by a socket that
    // drops the tool at once. Its folder is as deep as a build's: the socket's name gives way
    // to fit the system's limit.
    const QString ghost = m_app->iniPath() + QStringLiteral(".tty");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&runtime] { qputenv("XDG_RUNTIME_DIR", runtime); });
    const QByteArray folder = QFile::encodeName(QFileInfo(ghost).path());
    qputenv("XDG_RUNTIME_DIR",
            folder + '/' + QByteArray(std::max(1, 70 - int(folder.size())), 'r'));
    QLocalServer window;
    QVERIFY(window.listen(attachSocketPath(PortTarget{PortTarget::Kind::Device, ghost, {}})));
    connect(&window, &QLocalServer::newConnection, &window,
            [&window] { window.nextPendingConnection()->abort(); });
    const auto t = tool({"--port", ghost, "read", "V_MAX", "--motor", "1"});
    const bool finished = finish(*t);
    const QByteArray err = t->readAllStandardError();
    QVERIFY2(finished && t->exitCode() == 3 && !err.contains("closed") &&
                 err.contains("went away without a word (it was killed or crashed)"),
             err.constData());
}

void TestAttach::helloTellsTheUnansweredRequests()
{
    // An attached recording fails when the board left polls unanswered meanwhile, as on a port
    // of the tool's own: the tool counts them from the window's hello.
    QLocalSocket client;
    client.connectToServer(m_app->main().attachServer().socketPath());
    QVERIFY(client.waitForConnected(AppFixture::kEventWait));
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
    // An attached recording during which it happens fails, as on the tool's own port.
    const QString path = m_app->iniPath() + QStringLiteral(".csv");
    const auto rec = tool({"record", path, "--duration", "600"});
    QVERIFY(QTest::qWaitFor([&] { return lines(path).size() > 3; }, 10000));
    m_app->board().board().setFaults(faults);
    // The next request of it: one sent before may have been answered.
    silentSent = false;
    QVERIFY(QTest::qWaitFor([&] { return silentSent; }, 5000));
    m_app->skipWatchdog();
    // A request sent just before the fault was set may have been read by the board after it:
    // then the watchdog gave that one up too, and the hello tells both.
    const double told = unanswered();
    QVERIFY2(told > before, qPrintable(QString::number(told)));
    QCOMPARE(told, double(link.counters().unanswered));
    m_app->board().board().setFaults({});
    rec->terminate();
    const bool finished = finish(*rec);
    const QByteArray err = rec->readAllStandardError();
    QVERIFY2(finished && rec->exitCode() == 1 &&
                 err.contains("poll requests unanswered during "
                              "the recording"),
             err.constData());
}

void TestAttach::toolsRequestsAreNamedAsTheTools()
{
    const TrafficLog &log = m_app->session().trafficLog();
    const std::uint64_t before = log.total();
    QSignalSpy cycles(&m_app->session().scheduler(), &PollScheduler::cycleBegun);
    // V_MAX never becomes 5: after a first look, the tool reads it once a cycle until its time
    // is up.
    const auto t = tool({"wait", "--motor", "1", "V_MAX=5", "--timeout", "1.5"});
    const bool finished = finish(*t);
    const QByteArray err = t->readAllStandardError();
    QVERIFY2(finished && t->exitCode() == 1 && err.contains("did not hold within 1.5 s"),
             err.constData());
    std::map<TrafficOrigin, int> sent;
    QStringList kinds;
    for (std::size_t i = log.size() - (log.total() - before); i < log.size(); ++i) {
        const TrafficEvent e = log.at(i);
        if (e.kind == TrafficKind::Direct) {
            sent[e.origin] += e.sent ? 1 : 0;
            kinds << describeTraffic(e).kind;
        }
    }
    QCOMPARE(sent[TrafficOrigin::Tool], 1);
    // The test's board answers once its event loop turns, some 10 ms a turn: a few cycles.
    QVERIFY2(sent[TrafficOrigin::ToolWait] >= 2, qPrintable(kinds.join(QLatin1Char(','))));
    // At the poll cycle's pace, not as fast as the line allows.
    QVERIFY2(sent[TrafficOrigin::ToolWait] <= cycles.size() + 1,
             qPrintable(QStringLiteral("%1 reads, %2 cycles")
                            .arg(sent[TrafficOrigin::ToolWait])
                            .arg(cycles.size())));
    QCOMPARE(kinds.mid(0, 4),
             (QStringList{"kvx310 request", "kvx310 reply", "kvx310 wait", "kvx310 reply"}));
    // "Hide polls" hides the wait's reads with the polls, and keeps the tool's request.
    TrafficModel model(m_app->session().trafficLog());
    model.setFilter(true, -1);
    int tools = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        QVERIFY(model.eventAt(row).origin != TrafficOrigin::ToolWait);
        tools += model.eventAt(row).origin == TrafficOrigin::Tool ? 1 : 0;
    }
    QCOMPARE(tools, 2);
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

    // A full disk: the file ends with its last whole line, and the user is told in sentences.
    {
        const FileSizeLimit full(400);
        QVERIFY(full.set());
        m_app->main().BtnRecord->click();
        QVERIFY(QTest::qWaitFor([&] { return !m_app->main().recording().running(); },
                                AppFixture::kEventWait));
    }
    all = lines(path);
    QVERIFY(QFileInfo(path).size() <= 400 && all.size() > 2);
    QCOMPARE(all.last(), QByteArray());
    const QString told = m_app->messages.last().informative;
    QVERIFY2(told.at(0).isUpper() &&
                 told.endsWith(
                     QStringLiteral(". The file keeps the %1 lines written.").arg(all.size() - 2)),
             qPrintable(told));

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
    const bool finished = finish(*diff);
    const QByteArray err = diff->readAllStandardError();
    QVERIFY2(finished && diff->exitCode() == 0, err.constData());
    QCOMPARE(diff->readAllStandardOutput(), QByteArray());

    // A load shows what it will change, writes it once accepted, and says so.
    chip.exchange(Datagram::make(vMax2, 5));
    m_app->dialogAnswer = QDialog::Accepted;
    const int dialogs = m_app->dialogs;
    m_app->advanced().BoardSnapshot->BtnLoadBoard->click();
    QCOMPARE(m_app->dialogs, dialogs + 1);
    QCOMPARE(m_app->messages.last().text, QStringLiteral("Wrote 1 values of %1.").arg(path));
    QCOMPARE(chip.peek(motorReadAddress(1, motor::VMax)), 300u);

    // A device is no snapshot: refused at once, never read without end.
    m_app->fileAnswer = QStringLiteral("/dev/zero");
    m_app->advanced().BoardSnapshot->BtnLoadBoard->click();
    QCOMPARE(m_app->dialogs, dialogs + 1);
    QCOMPARE(m_app->messages.last().informative,
             QStringLiteral("It is not a regular file. Nothing was written."));
    m_app->fileAnswer = path;

    // A value past the editor's range is marked, and written only once the user says so.
    QFile edited(path);
    QVERIFY(edited.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            edited.write("[Motor 2]\nV_MAX = 4095\n") > 0);
    edited.close();
    for (const bool tick : {false, true}) {
        Dialogs::setDialogHandler([tick](QDialog &preview) {
            preview.findChild<QCheckBox *>(QStringLiteral("CheckForce"))->setChecked(tick);
            const QString listed = preview.findChild<QPlainTextEdit *>()->toPlainText();
            return listed.endsWith(QLatin1String("4095   <- outside the editor's 0 to 2047"))
                       ? int(QDialog::Accepted)
                       : int(QDialog::Rejected);
        });
        m_app->advanced().BoardSnapshot->BtnLoadBoard->click();
        QCOMPARE(chip.peek(motorReadAddress(1, motor::VMax)), tick ? 4095u : 300u);
    }
}

QTEST_MAIN(TestAttach)
#include "tst_attach.moc"
