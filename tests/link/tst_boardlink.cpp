// The board link against the simulated board on a real pseudo-terminal, and against a bare
// terminal where the test must see or withhold exact bytes: framing per variant, the probe,
// the exact-count rule, direct requests and pauses, the watchdog on an injected clock, and the
// faults it mends (stale replies to the wrong command, unanswered requests reported as
// answered, waits that outlive the port, a wrapping tick, a stalled transmit queue). The state
// is reached only through the link's own operations. The poll cycle on top of it is
// tests/session's.

#include "common/PtyPair.h"
#include "link/async32.h"
#include "link/BoardLink.h"
#include "sim/PtyBoardServer.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace kvx::sim;

namespace {
constexpr int kEventWait = 2000; // ms; only reached when a test fails
} // namespace

class TestBoardLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void framesPerVariant_data();
    void framesPerVariant();
    void probeIsZerosThenFF();
    void directRequestWhilePollingSendsNothing();
    void directRequestTakesItsReply();
    void nestedPausesResumeOnce();
    void commandDuringWaitKeepsItsOwnReply();
    void unansweredRequestIsReported();
    void closingEndsEveryWait();
    void watchdogIgnoresThe32BitWrap();
    void watchdogTextsAndPurges();
    void stalledTransmitQueueIsASendError();
    void detectionTakesOnlyTenBytes();
    void korveIdentificationSendsStartUp();
    void untrustedIdentificationIsProbedAgain();
    void trafficNamesEachFrame();
    void floodEndsCommandsUnanswered_data();
    void floodEndsCommandsUnanswered();
    void batchLetsACommandGoFirst();
    void anotherCommandsGiveUpDoesNotEndABatch();
    void batchEndsWhenThePortCloses();

private:
    void startBoard(BoardOptions options = {});
    void openOn(const QString &path);
    // Runs the detection on a bare terminal and answers it with `identification`.
    void identify(PtyPair &pty, const QByteArray &identification);
    QList<FrameLogEntry> m_frames;
    QStringList m_status;
    int m_sendErrors = 0;
    std::int64_t m_now = 100000;
    std::unique_ptr<PtyBoardServer> m_server;
    std::unique_ptr<TComm32> m_comm;
    std::unique_ptr<BoardLink> m_link;
};

void TestBoardLink::init()
{
    m_frames.clear();
    m_status.clear();
    m_sendErrors = 0;
    m_now = 100000;
    m_comm = std::make_unique<TComm32>();
    m_comm->setBaudRate(TBaudRate::cbr19200);
    m_comm->setFlowControl(TFlowControl::fcRTSToggle);
    m_link = std::make_unique<BoardLink>(*m_comm);
    m_link->setClock([this] { return m_now; });
    m_comm->OnRxChar = [this](QObject *s, int count) { m_link->Comm32RxChar(s, count); };
    connect(m_link.get(), &BoardLink::statusChanged, this,
            [this](const QString &a, const QString &b) { m_status << a + '|' + b; });
    connect(m_link.get(), &BoardLink::sendError, this, [this] { ++m_sendErrors; });
}

void TestBoardLink::cleanup()
{
    m_link.reset();
    m_comm.reset();
    m_server.reset();
}

void TestBoardLink::startBoard(BoardOptions options)
{
    m_server = std::make_unique<PtyBoardServer>(options);
    QVERIFY(m_server->start());
    m_server->board().onFrame = [this](const FrameLogEntry &e) { m_frames << e; };
    openOn(m_server->terminalPath());
}

void TestBoardLink::openOn(const QString &path)
{
    m_comm->setDeviceName(path);
    m_comm->Open();
    QVERIFY(m_comm->Connected());
    m_link->beginPolling();
}

void TestBoardLink::identify(PtyPair &pty, const QByteArray &identification)
{
    m_link->StartDetection();
    QVERIFY(m_link->pollRequest(Datagram{0x01, {}}, 0));
    pty.received();
    QSignalSpy taken(m_link.get(), &BoardLink::replyTaken);
    QVERIFY(pty.reply(identification));
    QTRY_COMPARE_WITH_TIMEOUT(taken.count(), 1, kEventWait);
    // Acted on once it is trusted; then the next request may go out.
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle(), kEventWait);
    QVERIFY(!m_link->Detecting());
}

void TestBoardLink::framesPerVariant_data()
{
    QTest::addColumn<bool>("korve");
    QTest::addColumn<bool>("slow");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("plain") << false << true << QByteArray("#\x0B\x01\x02\x03", 5);
    QTest::newRow("KORVE fast") << true << false << QByteArray("#\x04\x0B\x01\x02\x03", 6);
    QTest::newRow("KORVE slow") << true << true << QByteArray("!\x04\x0B\x01\x02\x03", 6);
}

void TestBoardLink::framesPerVariant()
{
    QFETCH(bool, korve);
    QFETCH(bool, slow);
    QFETCH(QByteArray, frame);
    PtyPair pty;
    openOn(pty.path());
    identify(pty, korve ? QByteArray("KOR310v1.0") : QByteArray(10, '\0'));
    m_link->setSlowSpi(slow);
    QCOMPARE(m_link->KorveBoard(), korve);
    QCOMPARE(m_link->frame(Datagram{0x0B, {1, 2, 3}}), frame);
}

void TestBoardLink::probeIsZerosThenFF()
{
    PtyPair pty;
    openOn(pty.path());
    identify(pty, QByteArray("KOR310v1.0"));
    QVERIFY(m_link->KorveBoard());
    pty.received();
    m_status.clear();
    m_now += 500;
    m_link->StartDetection();
    QCOMPARE(pty.received(), QByteArray(128, '\0') + QByteArray(1, '\xFF'));
    QVERIFY(m_link->Detecting());
    QVERIFY(!m_link->KorveBoard());
    QCOMPARE(m_link->LastSendTick(), m_now);
    QCOMPARE(m_status, QStringList{"Trying to detect the board.|"});
}

void TestBoardLink::directRequestWhilePollingSendsNothing()
{
    startBoard();
    {
        const PollPause pause = m_link->PausePolling();
        QVERIFY(m_link->DirectRequest(Datagram{0x06, {0x00, 0x01, 0x23}})); // V_MAX := 0x123
        QVERIFY(m_link->DirectRequest(Datagram{0x07, {}}));
    }
    const Reply before = m_link->LastReply();
    QCOMPARE(before.data, (DataBytes{0x00, 0x01, 0x23}));
    m_frames.clear();
    QVERIFY(!m_link->DirectRequest(Datagram{0x03, {}}));
    QTest::qWait(20);
    QVERIFY(m_frames.isEmpty());
    QCOMPARE(m_link->LastReply(), before);
}

void TestBoardLink::directRequestTakesItsReply()
{
    startBoard();
    const PollPause pause = m_link->PausePolling();
    QVERIFY(m_link->DirectRequest(Datagram{0x06, {0x00, 0x01, 0x23}})); // V_MAX := 0x123
    QVERIFY(m_link->DirectRequest(Datagram{0x07, {}}));
    QCOMPARE(m_link->LastReply().data, (DataBytes{0x00, 0x01, 0x23}));
    QVERIFY(m_link->LinkIdle());
    QVERIFY(!m_link->AwaitingDirectReply());
    QCOMPARE(m_frames.size(), 2);
    QCOMPARE(m_frames[1].request, QByteArray("#\x07\x00\x00\x00", 5));
}

void TestBoardLink::nestedPausesResumeOnce()
{
    startBoard();
    {
        const PollPause outer = m_link->PausePolling();
        {
            const PollPause inner = m_link->PausePolling();
            QVERIFY(!m_link->PollingEnabled());
        }
        QVERIFY(!m_link->PollingEnabled()); // the inner command leaves it paused
    }
    QVERIFY(m_link->PollingEnabled());
}

void TestBoardLink::commandDuringWaitKeepsItsOwnReply()
{
    // A click during another command's wait used to send at once and take the other's reply.
    startBoard();
    const PollPause pause = m_link->PausePolling();
    QVERIFY(m_link->DirectRequest(Datagram{0x04, {0, 0, 111}})); // V_MIN
    QVERIFY(m_link->DirectRequest(Datagram{0x06, {0, 0, 222}})); // V_MAX
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle(), kEventWait);    // the outer request goes first
    m_frames.clear();

    bool innerAnswered = false;
    Reply innerReply;
    QTimer::singleShot(0, this, [&] {
        innerAnswered = m_link->DirectRequest(Datagram{0x07, {}}).has_value();
        innerReply = m_link->LastReply();
    });
    const std::optional<Reply> outer = m_link->DirectRequest(Datagram{0x05, {}});
    QVERIFY(outer);
    const Reply outerReply = m_link->LastReply();
    QCOMPARE(*outer, outerReply);
    QTRY_VERIFY_WITH_TIMEOUT(innerAnswered, kEventWait);

    QCOMPARE(int(outerReply.data.low), 111);
    QCOMPARE(int(innerReply.data.low), 222);
    QCOMPARE(m_frames.size(), 2);
    // One request at a time: the second frame went out only after the first was answered.
    QCOMPARE(m_frames[0].request.at(1), '\x05');
    QCOMPARE(m_frames[1].request.at(1), '\x07');
}

void TestBoardLink::unansweredRequestIsReported()
{
    PtyPair pty; // the test plays a board that answers once, then falls silent
    openOn(pty.path());
    const PollPause pause = m_link->PausePolling();
    QTimer::singleShot(PtyPair::kLinePaceMs, this,
                       [&pty] { pty.send(QByteArray("\x01\x09\x09\x09", 4)); });
    QVERIFY(m_link->DirectRequest(Datagram{0x01, {}}));
    QTimer::singleShot(10, this, [this] {
        m_now += 2001;
        m_link->watchdog();
    });
    QVERIFY(!m_link->DirectRequest(Datagram{0x01, {}}));
    QCOMPARE(m_link->LastReply(), (Reply{0x01, {9, 9, 9}})); // the stale reply stays visible
    QVERIFY(!m_link->requestOutstanding());
    QCOMPARE(m_status.last(), QStringLiteral("The board does not respond.|Please check the cable "
                                             "and power."));
    // A late reply must not be taken for the next request: the line stays quiet a while.
    QVERIFY(!m_link->LinkIdle());
    m_now += BoardLink::kLateQuiet.count();
    m_link->watchdog();
    QVERIFY(m_link->LinkIdle());
}

void TestBoardLink::closingEndsEveryWait()
{
    // With the poll timer stopped nothing else would end these waits: the program hung.
    BoardOptions silent;
    silent.faults.silent = true;
    startBoard(silent);
    QTimer::singleShot(10, this, [this] {
        m_link->endAllWaits();
        m_comm->Close();
    });
    {
        const PollPause pause = m_link->PausePolling();
        QVERIFY(!m_link->DirectRequest(Datagram{0x01, {}}));
    }

    // A pause waiting for an outstanding poll reply ends the same way.
    openOn(m_server->terminalPath());
    QVERIFY(m_link->pollRequest(Datagram{0x03, {}}, 1));
    QVERIFY(!m_link->LinkIdle());
    QTimer::singleShot(10, this, [this] { m_link->endAllWaits(); });
    {
        const PollPause pause = m_link->PausePolling();
        QVERIFY(m_link->LinkIdle());
    }
}

void TestBoardLink::watchdogIgnoresThe32BitWrap()
{
    // A 32-bit millisecond tick wraps after 49.7 days; 32 ms across the wrap are 32 ms.
    BoardOptions silent;
    silent.faults.silent = true;
    startBoard(silent);
    m_now = 0xFFFFFFF0LL;
    QVERIFY(m_link->pollRequest(Datagram{0x03, {}}, 1));
    QCOMPARE(m_link->LastSendTick(), 0xFFFFFFF0LL);
    m_now = 0x100000010LL;
    m_link->watchdog();
    QVERIFY(!m_link->LinkIdle());
    QVERIFY(m_status.isEmpty());
    m_now += 2000;
    m_link->watchdog();
    QVERIFY(!m_link->requestOutstanding());
}

void TestBoardLink::watchdogTextsAndPurges()
{
    PtyPair pty;
    openOn(pty.path());
    identify(pty, QByteArray(10, '\0')); // the board is active
    m_link->StartDetection();            // and detection runs again
    m_status.clear();

    // A direct request that is never answered; the watchdog is run from inside its wait.
    int counted = 0;
    QTimer::singleShot(0, this, [&] {
        QVERIFY(!m_link->LinkIdle());
        QVERIFY(m_link->BoardActive());
        QVERIFY(m_link->Detecting());
        QVERIFY(m_link->AwaitingDirectReply());
        // Bytes that stay in the port's queue until the watchdog.
        m_comm->OnRxChar = [&](QObject *, int count) { counted = count; };
        QVERIFY(pty.send("\x01\x02\x03\x04\x05"));
        QTRY_COMPARE_WITH_TIMEOUT(counted, 5, kEventWait);
        m_now += 2000;
        m_link->watchdog();
        QVERIFY(!m_link->LinkIdle()); // 2000 ms is not yet "more than 2000"
        m_now += 1;
        m_link->watchdog();
    });
    const PollPause pause = m_link->PausePolling();
    QVERIFY(!m_link->DirectRequest(Datagram{0x01, {}}));
    QCOMPARE(counted, 5);
    QVERIFY(!m_link->requestOutstanding());
    QVERIFY(!m_link->BoardActive());
    QVERIFY(!m_link->Detecting());
    QVERIFY(m_link->AwaitingDirectReply());
    char buf[8];
    QCOMPARE(m_comm->ReadBytes(buf, 8), 0); // the input was purged
    QCOMPARE(m_status,
             QStringList{"The board does not respond.|Please check the cable and power."});
}

void TestBoardLink::stalledTransmitQueueIsASendError()
{
    // A device that never takes bytes used to keep the program in an endless loop.
    PtyPair pty; // its master side is never read, so the terminal's queue fills up
    openOn(pty.path());
    m_link->setClock([this] { return m_now += 1; }); // time passes with every look at it
    const QByteArray big(1 << 20, 'x');
    m_comm->WriteBytes(big.constData(), int(big.size()));
    QVERIFY(m_comm->OutQueueCount() > 0);
    QVERIFY(!m_link->SendDatagram(Datagram{0x01, {}}));
    QCOMPARE(m_sendErrors, 1);
}

void TestBoardLink::detectionTakesOnlyTenBytes()
{
    PtyPair pty;
    openOn(pty.path());
    int counted = 0;
    m_comm->OnRxChar = [&](QObject *s, int count) {
        counted = count;
        m_link->Comm32RxChar(s, count);
    };
    QSignalSpy polls(m_link.get(), &BoardLink::pollReply);
    QSignalSpy taken(m_link.get(), &BoardLink::replyTaken);
    m_link->StartDetection();
    QVERIFY(m_link->pollRequest(Datagram{0x01, {}}, 0));
    pty.received();
    // A poll reply alone is not the identification.
    QVERIFY(pty.reply(QByteArray("\x41\x00\x00\x00", 4)));
    QTRY_COMPARE_WITH_TIMEOUT(counted, 4, kEventWait);
    QCOMPARE(taken.count(), 0);
    QVERIFY(m_link->Detecting());
    // Six more bytes make ten, taken as the identification whatever they say: a plain board.
    QVERIFY(pty.send(QByteArray("KOR310", 6)));
    QTRY_COMPARE_WITH_TIMEOUT(taken.count(), 1, kEventWait);
    QCOMPARE(taken.first().first().toBool(), true); // polling starts again at row 0
    QCOMPARE(polls.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle(), kEventWait); // once the reply is trusted
    QVERIFY(!m_link->Detecting());
    QVERIFY(!m_link->KorveBoard());
    QCOMPARE(m_status.last(), QStringLiteral("The board is active.|KVX310 evaluation board "
                                             "detected!"));
}

void TestBoardLink::korveIdentificationSendsStartUp()
{
    PtyPair pty;
    openOn(pty.path());
    QList<BoardVariant> identified;
    connect(m_link.get(), &BoardLink::identified, this, [&](BoardVariant v) { identified << v; });
    m_link->StartDetection();
    QVERIFY(m_link->pollRequest(Datagram{0x01, {}}, 0));
    pty.received();
    QVERIFY(pty.reply(QByteArray("KOR310v1.0", 10)));
    QTRY_COMPARE_WITH_TIMEOUT(identified.size(), 1, kEventWait);
    QCOMPARE(identified.first(), BoardVariant::Korve);
    QVERIFY(m_link->KorveBoard());
    QCOMPARE(pty.received(), QByteArray(" 0132\x22\x00\x00", 8));
    QCOMPARE(m_status.last(), QStringLiteral("The board is active.|KORVE detected!"));
    QCOMPARE(m_link->frame(Datagram{0x01, {}}).size(), 6);
}

void TestBoardLink::untrustedIdentificationIsProbedAgain()
{
    // A KORVE board names itself once, after a probe: an identification lost to a stray byte
    // used to leave a KORVE board taken for a plain one, written to in the wrong frames.
    PtyPair pty;
    openOn(pty.path());
    m_link->StartDetection();
    QVERIFY(m_link->pollRequest(Datagram{0x01, {}}, 0));
    pty.received();
    m_status.clear();
    QVERIFY(pty.reply(QByteArray("KOR310\x55v1.0", 11)));
    // Probed again, then the detection's request once the line is quiet.
    QTRY_COMPARE_WITH_TIMEOUT(m_status, QStringList{"Trying to detect the board.|"}, kEventWait);
    QCOMPARE(pty.received(), QByteArray(128, '\0') + QByteArray(1, '\xFF'));
    QVERIFY(m_link->Detecting());
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle(), kEventWait);
    QVERIFY(m_link->pollRequest(Datagram{0x01, {}}, 0));
    QVERIFY(pty.reply(QByteArray("KOR310v1.0", 10)));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->KorveBoard(), kEventWait);
    QVERIFY(!m_link->Detecting());
    QCOMPARE(m_link->counters().strayBytes, quint64(11));
}

void TestBoardLink::trafficNamesEachFrame()
{
    // The traffic view sees every frame written and every reply taken, each with its kind.
    PtyPair pty;
    openOn(pty.path());
    QList<LinkTraffic> seen;
    connect(m_link.get(), &BoardLink::traffic, this, [&](const LinkTraffic &t) { seen << t; });
    identify(pty, QByteArray("KOR310v1.0"));
    QVERIFY(m_link->pollRequest(Datagram{0x03, {}}, 1));
    QVERIFY(pty.reply(QByteArray("\x01\x00\x00\x07", 4)));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle(), kEventWait);

    QStringList kinds;
    for (const LinkTraffic &t : seen)
        kinds << QStringLiteral("%1 %2 %3")
                     .arg(t.sent ? "sent" : "taken")
                     .arg(int(t.kind))
                     .arg(QString::fromLatin1(t.bytes.toHex()));
    const QString probe = QStringLiteral("sent %1 00").arg(int(TrafficKind::Probe));
    QCOMPARE(kinds.count(probe), 128);
    QCOMPARE(
        kinds.mid(128),
        (QStringList{
            QStringLiteral("sent %1 ff").arg(int(TrafficKind::Probe)),
            QStringLiteral("sent %1 2301000000").arg(int(TrafficKind::Poll)),
            QStringLiteral("taken %1 4b4f5233313076312e30").arg(int(TrafficKind::Identification)),
            QStringLiteral("sent %1 2030313332").arg(int(TrafficKind::StartUp)),
            QStringLiteral("sent %1 220000").arg(int(TrafficKind::StartUp)),
            QStringLiteral("sent %1 230403000000").arg(int(TrafficKind::Poll)),
            QStringLiteral("taken %1 01000007").arg(int(TrafficKind::Poll))}));
}

void TestBoardLink::floodEndsCommandsUnanswered_data()
{
    QTest::addColumn<bool>("afterWatchdog");
    QTest::newRow("while idle") << false;
    QTest::newRow("in the quiet after a watchdog") << true;
}

void TestBoardLink::floodEndsCommandsUnanswered()
{
    // A line that never falls quiet: nothing is taken for a reply, and a command waiting for
    // the line ends unanswered instead of waiting for a quiet that never comes.
    QFETCH(bool, afterWatchdog);
    PtyPair pty;
    openOn(pty.path());
    QSignalSpy taken(m_link.get(), &BoardLink::replyTaken);
    const PollPause pause = m_link->PausePolling(); // paused on a quiet line
    if (afterWatchdog) {
        QTimer::singleShot(10, this, [this] {
            m_now += BoardLink::kWatchdogTimeout.count() + 1;
            m_link->watchdog();
        });
        QVERIFY(!m_link->DirectRequest(Datagram{0x01, {}}));
        QVERIFY(!m_link->LinkIdle()); // the quiet after it
    }
    QTimer flood;
    flood.setInterval(1);
    connect(&flood, &QTimer::timeout, this, [&pty] { pty.send(QByteArray(8, '\x55')); });
    flood.start();
    QTRY_VERIFY_WITH_TIMEOUT(!m_link->LinkIdle() &&
                                 m_link->counters().strayBytes + m_link->counters().lateBytes > 0,
                             kEventWait);
    m_status.clear();
    // Time runs fast: a second every 20 ms, for as long as the command waits.
    QTimer clock;
    clock.setInterval(20);
    connect(&clock, &QTimer::timeout, this, [this] { m_now += 1000; });
    clock.start();
    QVERIFY(!m_link->DirectRequest(Datagram{0x03, {}}));
    clock.stop();
    flood.stop();
    QCOMPARE(taken.count(), 0);
    QCOMPARE(m_status, QStringList{"The board does not respond.|Please check the cable and "
                                   "power."});
}

namespace {
std::vector<Datagram> ramReads(int words)
{
    std::vector<Datagram> reads;
    for (int w = 0; w < words; ++w)
        reads.push_back(Datagram{std::uint8_t(0x81 + 2 * w), {}});
    return reads;
}
} // namespace

void TestBoardLink::batchLetsACommandGoFirst()
{
    // A batch used to take the line every time it fell free: a Stop clicked during a RAM
    // transfer waited for all its words.
    startBoard();
    const PollPause pause = m_link->PausePolling();
    QVERIFY(m_link->DirectRequest(Datagram{0x80, {0, 0x12, 0x34}})); // RAM word 0
    m_frames.clear();
    std::optional<Reply> command;
    QTimer::singleShot(0, this, [&] { command = m_link->DirectRequest(Datagram{0x03, {}}); });
    const BoardLink::Batch batch = m_link->directRequests(ramReads(20));
    QCOMPARE(batch.failedAt, -1);
    QCOMPARE(batch.sent, 20);
    QCOMPARE(batch.replies.front().data, (DataBytes{0, 0x12, 0x34}));
    QTRY_VERIFY_WITH_TIMEOUT(command.has_value(), kEventWait);
    QCOMPARE(m_frames.size(), 21);
    int at = -1;
    for (int i = 0; i < m_frames.size(); ++i) {
        if (m_frames[i].request.at(1) == '\x03')
            at = i;
    }
    QVERIFY2(at >= 0 && at <= 2, qPrintable(QString::number(at)));
}

void TestBoardLink::anotherCommandsGiveUpDoesNotEndABatch()
{
    // The watchdog giving up another command's request ended the batch at a word it never
    // sent; it now goes on once the quiet after the give-up has passed.
    BoardOptions options;
    options.faults.silentTo = 0x03;
    startBoard(options);
    m_server->board().onFrame = [this](const FrameLogEntry &e) {
        m_frames << e;
        if (e.note != "silent")
            return;
        // After the batch's replies before it have been trusted, as they would be long before
        // a real watchdog.
        QTimer::singleShot(50, this, [this] {
            m_now += BoardLink::kWatchdogTimeout.count() + 1;
            m_link->watchdog();
            m_now += BoardLink::kLateQuiet.count() + 1;
            m_link->watchdog();
        });
    };
    const PollPause pause = m_link->PausePolling();
    bool commandDone = false;
    std::optional<Reply> command;
    QTimer::singleShot(0, this, [&] {
        command = m_link->DirectRequest(Datagram{0x03, {}});
        commandDone = true;
    });
    const BoardLink::Batch batch = m_link->directRequests(ramReads(10));
    QTRY_VERIFY_WITH_TIMEOUT(commandDone, kEventWait);
    QVERIFY(!command);
    QCOMPARE(batch.failedAt, -1);
    QCOMPARE(int(batch.replies.size()), 10);
}

void TestBoardLink::batchEndsWhenThePortCloses()
{
    BoardOptions silent;
    silent.faults.silent = true;
    startBoard(silent);
    const PollPause pause = m_link->PausePolling();
    QTimer::singleShot(10, this, [this] {
        m_link->endAllWaits();
        m_comm->Close();
    });
    const BoardLink::Batch batch = m_link->directRequests(ramReads(3));
    QCOMPARE(batch.failedAt, 0);
    QCOMPARE(batch.sent, 1);
    QVERIFY(batch.replies.empty());
    // Nothing more goes out on a closed port.
    QCOMPARE(m_link->directRequests(ramReads(3)).sent, 0);
}

QTEST_GUILESS_MAIN(TestBoardLink)
#include "tst_boardlink.moc"
