// The board link as the program wires it (a board session, its scheduler and the link's own
// handling of received bytes), on a simulated line in virtual time: framing per variant, the
// probe and the identification, the exact-count rule, direct requests and pauses, one queue
// where single commands go before a transfer's rows, reads asked again after a lost reply and
// writes never, the watchdog, and the faults it mends (stale replies to the wrong command,
// unanswered requests reported as answered, waits that outlive the port, a wrapping tick, a
// flood that never falls quiet). Two cases stay on a real pseudo-terminal for the serial path
// (a stalled transmit queue, a request answered through the port's own notification). The
// reply framer's rules are tst_replyframer's; faulty lines at length are tst_lines'.

#include "common/BoardStatus.h"
#include "common/PtyPair.h"
#include "common/VirtualLine.h"
#include "link/async32.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace kvx::sim;
using namespace std::chrono_literals;

namespace {

std::vector<Datagram> ramReads(int words)
{
    std::vector<Datagram> reads;
    for (int w = 0; w < words; ++w)
        reads.push_back(Datagram{std::uint8_t(0x81 + 2 * w), {}});
    return reads;
}

// A session on a simulated board, and what the board and the link told.
struct Rig
{
    explicit Rig(BoardOptions board = {}, SimulatedTransport::Line line = {})
        : line(session, board, line)
    {
        this->line.board().onFrame = [this](const FrameLogEntry &e) { frames << e; };
        QObject::connect(&session.link(), &BoardLink::boardStateChanged, &context,
                         [this](BoardState s) {
                             if (s != BoardState::Closed)
                                 status << statusLines(s, session.link());
                         });
        QObject::connect(&session.link(), &BoardLink::sendError, &context,
                         [this] { ++sendErrors; });
    }
    BoardLink &link() { return session.link(); }
    // The board falls silent: it answers nothing from now on.
    void silence()
    {
        Faults silent;
        silent.silent = true;
        line.board().setFaults(silent);
    }
    // Opened, and the board identified and active.
    bool open()
    {
        line.open();
        return line.runUntil([this] { return link().BoardActive() && !link().Detecting(); }, 5s);
    }
    // Opened, then the board stops answering.
    bool openSilent()
    {
        const bool opened = open();
        silence();
        return opened;
    }

    QObject context;
    BoardSession session;
    VirtualLine line;
    QList<FrameLogEntry> frames;
    QStringList status;
    int sendErrors = 0;
};

// The port closes as soon as a command's first request has gone out, from the event loop.
void closeOnFirstCommand(Rig &rig)
{
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(
        &rig.link(), &BoardLink::traffic, &rig.context, [&rig, once](const LinkTraffic &t) {
            if (!t.sent || t.kind != TrafficKind::Direct)
                return;
            QObject::disconnect(*once);
            QTimer::singleShot(0, &rig.context, [&rig] { rig.session.Close(); });
        });
}

BoardOptions variant(Variant v)
{
    BoardOptions b;
    b.variant = v;
    b.lineTiming = true;
    return b;
}

} // namespace

class TestBoardLink : public QObject
{
    Q_OBJECT

private slots:
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
    void detectionTakesOnlyTenBytes();
    void korveIdentificationSendsStartUp();
    void untrustedIdentificationIsProbedAgain();
    void trafficNamesEachFrame();
    void floodEndsCommandsUnanswered_data();
    void floodEndsCommandsUnanswered();
    void batchLetsACommandGoFirst();
    void anotherCommandsGiveUpDoesNotEndABatch();
    void batchEndsWhenThePortCloses();
    void lostReadIsAskedAgainButAWriteIsNot_data();
    void lostReadIsAskedAgainButAWriteIsNot();
    void stalledTransmitQueueIsASendError();
    void realPortHandsOverWholeReplies();
    void deliveryIsLearnedOnce_data();
    void deliveryIsLearnedOnce();
};

void TestBoardLink::framesPerVariant_data()
{
    QTest::addColumn<Variant>("board");
    QTest::addColumn<bool>("slow");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("plain") << Variant::Plain << true << QByteArray("#\x0B\x01\x02\x03", 5);
    QTest::newRow("Pentar") << Variant::Pentar << true << QByteArray("#\x0B\x01\x02\x03", 5);
    QTest::newRow("KORVE fast") << Variant::Korve << false
                                << QByteArray("#\x04\x0B\x01\x02\x03", 6);
    QTest::newRow("KORVE slow") << Variant::Korve << true << QByteArray("!\x04\x0B\x01\x02\x03", 6);
}

void TestBoardLink::framesPerVariant()
{
    QFETCH(Variant, board);
    QFETCH(bool, slow);
    QFETCH(QByteArray, frame);
    Rig rig(variant(board));
    QVERIFY(rig.open());
    rig.link().setSlowSpi(slow);
    QCOMPARE(rig.link().KorveBoard(), board == Variant::Korve);
    QCOMPARE(rig.link().frame(Datagram{0x0B, {1, 2, 3}}), frame);
    // And the board takes them: polling goes on in that frame.
    const int before = int(rig.frames.size());
    rig.line.runFor(300ms);
    QVERIFY(rig.frames.size() > before + 5);
    QCOMPARE(rig.frames.last().request.size(), frame.size());
    QCOMPARE(rig.frames.last().note, slow && board == Variant::Korve ? "reply, slow SPI" : "reply");
}

void TestBoardLink::probeIsZerosThenFF()
{
    Rig rig(variant(Variant::Korve));
    QVERIFY(rig.open());
    QVERIFY(rig.line.transport().written().startsWith(QByteArray(128, '\0') + '\xFF' + "#\x01"));
    QVERIFY(rig.link().KorveBoard());
    rig.line.transport().clearWritten();
    rig.status.clear();
    rig.line.runFor(500ms);
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        rig.link().StartDetection();
        QCOMPARE(rig.line.transport().written().right(129),
                 QByteArray(128, '\0') + QByteArray(1, '\xFF'));
        QVERIFY(rig.link().Detecting());
        QVERIFY(!rig.link().KorveBoard());
        QCOMPARE(rig.link().LastSendTick(), rig.line.now().count() / 1000);
        QCOMPARE(rig.status, QStringList{"Trying to detect the board.|"});
    });
}

void TestBoardLink::directRequestWhilePollingSendsNothing()
{
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        QVERIFY(rig.link().DirectRequest(Datagram{0x06, {0x00, 0x01, 0x23}})); // V_MAX := 0x123
        QVERIFY(rig.link().DirectRequest(Datagram{0x07, {}}));
    });
    const Reply before = rig.link().LastReply();
    QCOMPARE(before.data, (DataBytes{0x00, 0x01, 0x23}));
    rig.line.command([&] {
        rig.frames.clear();
        QVERIFY(!rig.link().DirectRequest(Datagram{0x03, {}}));
        // Nothing of it went out: the frames that follow are polls.
        for (const FrameLogEntry &f : std::as_const(rig.frames))
            QVERIFY(f.request.at(1) != '\x03' || rig.link().PollingEnabled());
        QCOMPARE(rig.link().LastReply(), before);
    });
}

void TestBoardLink::directRequestTakesItsReply()
{
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        rig.frames.clear();
        QVERIFY(rig.link().DirectRequest(Datagram{0x06, {0x00, 0x01, 0x23}})); // V_MAX := 0x123
        QVERIFY(rig.link().DirectRequest(Datagram{0x07, {}}));
        QCOMPARE(rig.link().LastReply().data, (DataBytes{0x00, 0x01, 0x23}));
        QVERIFY(rig.link().LinkIdle());
        QVERIFY(!rig.link().AwaitingDirectReply());
        QCOMPARE(rig.frames.size(), 2);
        QCOMPARE(rig.frames[1].request, QByteArray("#\x07\x00\x00\x00", 5));
    });
}

void TestBoardLink::nestedPausesResumeOnce()
{
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        {
            const PollPause outer = rig.link().PausePolling();
            {
                const PollPause inner = rig.link().PausePolling();
                QVERIFY(!rig.link().PollingEnabled());
            }
            QVERIFY(!rig.link().PollingEnabled()); // the inner command leaves it paused
        }
        QVERIFY(rig.link().PollingEnabled());
    });
}

void TestBoardLink::commandDuringWaitKeepsItsOwnReply()
{
    // A click during another command's wait used to send at once and take the other's reply.
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        QVERIFY(rig.link().DirectRequest(Datagram{0x04, {0, 0, 111}})); // V_MIN
        QVERIFY(rig.link().DirectRequest(Datagram{0x06, {0, 0, 222}})); // V_MAX
        rig.frames.clear();
        bool innerAnswered = false;
        Reply innerReply;
        QTimer::singleShot(0, &rig.context, [&] {
            innerAnswered = rig.link().DirectRequest(Datagram{0x07, {}}).has_value();
            innerReply = rig.link().LastReply();
        });
        const std::optional<Reply> outer = rig.link().DirectRequest(Datagram{0x05, {}});
        QVERIFY(outer);
        const Reply outerReply = rig.link().LastReply();
        QCOMPARE(*outer, outerReply);
        QVERIFY(QTest::qWaitFor([&] { return innerAnswered; }, 5000));
        QCOMPARE(int(outerReply.data.low), 111);
        QCOMPARE(int(innerReply.data.low), 222);
        QCOMPARE(rig.frames.size(), 2);
        // One request at a time: the second frame went out only after the first was answered.
        QCOMPARE(rig.frames[0].request.at(1), '\x05');
        QCOMPARE(rig.frames[1].request.at(1), '\x07');
    });
}

void TestBoardLink::unansweredRequestIsReported()
{
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        QVERIFY(rig.link().DirectRequest(Datagram{0x01, {0, 9, 9}}));
        const Reply answered = rig.link().LastReply();
        rig.silence();
        QVERIFY(!rig.link().DirectRequest(Datagram{0x01, {}}));
        QCOMPARE(rig.link().LastReply(), answered); // the stale reply stays visible
        QVERIFY(!rig.link().requestOutstanding());
        QCOMPARE(rig.status.last(),
                 QStringLiteral("The board does not respond.|Please check the cable and power."));
        // A late reply must not be taken for the next request: the line stays quiet a while.
        QVERIFY(!rig.link().LinkIdle());
    });
    rig.line.runFor(BoardLink::kLateQuiet + 2ms);
    QCOMPARE(rig.link().state(), BoardLink::State::AwaitingReply); // polling again
}

void TestBoardLink::closingEndsEveryWait()
{
    // With the poll timer stopped nothing else would end these waits: the program hung.
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.openSilent());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        closeOnFirstCommand(rig);
        const quint64 unanswered = rig.link().counters().unanswered;
        QVERIFY(!rig.link().DirectRequest(Datagram{0x01, {}}));
        QCOMPARE(rig.link().counters().unanswered, unanswered); // not the watchdog
    });
    // A pause waiting for an outstanding poll reply ends the same way.
    rig.line.open();
    rig.line.runFor(1ms);
    QVERIFY(rig.link().requestOutstanding());
    rig.line.command([&] {
        QTimer::singleShot(0, &rig.context, [&] { rig.session.Close(); });
        const PollPause pause = rig.link().PausePolling();
        QVERIFY(!rig.link().requestOutstanding());
    });
}

void TestBoardLink::watchdogIgnoresThe32BitWrap()
{
    // A 32-bit millisecond tick wraps after 49.7 days; 32 ms across the wrap are 32 ms.
    BoardOptions board = variant(Variant::Plain);
    board.faults.silent = true;
    Rig rig(board);
    rig.session.setClock([&rig] { return 0xFFFFFFF0LL + rig.line.now().count() / 1000; });
    rig.line.open();
    rig.line.runFor(1ms);
    QVERIFY(rig.link().requestOutstanding());
    QCOMPARE(rig.link().LastSendTick(), 0xFFFFFFF0LL);
    rig.line.runFor(31ms); // across 0x100000000
    QVERIFY(rig.link().requestOutstanding());
    QCOMPARE(rig.status, QStringList{"Trying to detect the board.|"});
    rig.line.runFor(2000ms);
    QCOMPARE(rig.link().counters().unanswered, quint64(1));
}

void TestBoardLink::watchdogTextsAndPurges()
{
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        rig.silence();
        rig.status.clear();
        // A direct request that is never answered.
        QTimer::singleShot(0, &rig.context, [&] { QVERIFY(rig.link().AwaitingDirectReply()); });
        const std::int64_t sent = rig.line.now().count();
        QVERIFY(!rig.link().DirectRequest(Datagram{0x06, {0, 0, 5}})); // a write: asked once
        // Given up when more than 2000 ms had passed, not at 2000.
        QVERIFY(rig.line.now().count() - sent > 2000'000);
        QVERIFY(rig.line.now().count() - sent < 2100'000);
        QVERIFY(!rig.link().requestOutstanding());
        QVERIFY(!rig.link().BoardActive());
        QVERIFY(!rig.link().Detecting());
        QCOMPARE(rig.line.transport().inQueueCount(), 0);
        QCOMPARE(rig.status, QStringList{"The board does not respond.|Please check the cable "
                                         "and power."});
    });
}

void TestBoardLink::detectionTakesOnlyTenBytes()
{
    // The board answers the identification request with a poll reply, then six more bytes:
    // ten bytes, taken as the identification whatever they say: a plain board.
    BoardOptions board = variant(Variant::Plain);
    board.faults.silent = true;
    Rig rig(board);
    QSignalSpy polls(&rig.link(), &BoardLink::pollReply);
    QSignalSpy taken(&rig.link(), &BoardLink::replyTaken);
    rig.line.open();
    QVERIFY(rig.line.runUntil([&] { return rig.link().requestOutstanding(); }, 1s));
    rig.line.runFor(10ms); // as soon as a line could carry the request and the reply
    rig.line.transport().inject(QByteArray("\x41\x00\x00\x00", 4));
    rig.line.runFor(20ms);
    QCOMPARE(taken.count(), 0); // a poll reply alone is not the identification
    QVERIFY(rig.link().Detecting());
    rig.line.transport().inject(QByteArray("KOR310", 6));
    QVERIFY(rig.line.runUntil([&] { return taken.count() == 1; }, 1s));
    QCOMPARE(taken.first().first().toBool(), true); // polling starts again at row 0
    QCOMPARE(polls.count(), 0);
    QVERIFY(rig.line.runUntil([&] { return !rig.link().Detecting(); }, 1s));
    QVERIFY(!rig.link().KorveBoard());
    QCOMPARE(rig.status.last(),
             QStringLiteral("The board is active.|KVX310 evaluation board detected!"));
}

void TestBoardLink::korveIdentificationSendsStartUp()
{
    Rig rig(variant(Variant::Korve));
    QList<BoardVariant> identified;
    QObject::connect(&rig.link(), &BoardLink::identified, &rig.context,
                     [&](BoardVariant v) { identified << v; });
    QVERIFY(rig.open());
    QCOMPARE(identified, QList<BoardVariant>{BoardVariant::Korve});
    QVERIFY(rig.link().KorveBoard());
    // The start-up sequence, each part followed by the firmware's pause, then 6-byte frames.
    QVERIFY(rig.line.runUntil(
        [&] { return rig.link().LinkIdle() || rig.link().requestOutstanding(); }, 1s));
    const QByteArray written = rig.line.transport().written();
    const qsizetype at = written.indexOf(" 0132");
    QVERIFY(at > 0);
    QCOMPARE(written.mid(at, 8), QByteArray(" 0132\x22\x00\x00", 8));
    QCOMPARE(written.mid(at + 8, 2), QByteArray("#\x04"));
    QCOMPARE(rig.status.last(), QStringLiteral("The board is active.|KORVE detected!"));
    QCOMPARE(rig.link().frame(Datagram{0x01, {}}).size(), 6);
    QVERIFY(rig.line.board().longFrames());
}

void TestBoardLink::untrustedIdentificationIsProbedAgain()
{
    // A KORVE board names itself once, after a probe: an identification lost to a stray byte
    // used to leave a KORVE board taken for a plain one, written to in the wrong frames.
    BoardOptions board = variant(Variant::Korve);
    board.faults.strayEvery = 1; // the first answered frame, the identification, gets a stray
    board.faults.strayAt = StrayPosition::Inside;
    Rig rig(board);
    rig.line.open();
    QVERIFY(rig.line.runUntil([&] { return rig.link().counters().strayBytes > 0; }, 1s));
    rig.line.board().setFaults({});
    QVERIFY(rig.line.runUntil([&] { return rig.link().KorveBoard(); }, 5s));
    QVERIFY(rig.line.runUntil([&] { return !rig.link().Detecting(); }, 1s));
    // Probed again: the probe twice on the line.
    QCOMPARE(rig.line.transport().written().count(QByteArray(128, '\0') + '\xFF'), 2);
    QCOMPARE(rig.link().counters().strayBytes, quint64(11));
    QCOMPARE(rig.status.count(QStringLiteral("Trying to detect the board.|")), 2);
}

void TestBoardLink::trafficNamesEachFrame()
{
    // The traffic view sees every frame written and every reply taken, each with its kind.
    BoardOptions board = variant(Variant::Korve);
    Rig rig(board);
    QList<LinkTraffic> seen;
    QObject::connect(&rig.link(), &BoardLink::traffic, &rig.context,
                     [&](const LinkTraffic &t) { seen << t; });
    QVERIFY(rig.open());
    QVERIFY(rig.line.runUntil([&] { return seen.size() >= 7; }, 1s));
    QStringList kinds;
    for (const LinkTraffic &t : std::as_const(seen).mid(0, 7))
        kinds << QStringLiteral("%1 %2 %3")
                     .arg(t.sent ? "sent" : "taken")
                     .arg(int(t.kind))
                     .arg(QString::fromLatin1(t.bytes.toHex()));
    QCOMPARE(
        kinds,
        (QStringList{
            QStringLiteral("sent %1 %2ff").arg(int(TrafficKind::Probe)).arg(QString(256, '0')),
            QStringLiteral("sent %1 2301000000").arg(int(TrafficKind::Poll)),
            QStringLiteral("taken %1 4b4f5233313076312e30").arg(int(TrafficKind::Identification)),
            QStringLiteral("sent %1 2030313332").arg(int(TrafficKind::StartUp)),
            QStringLiteral("sent %1 220000").arg(int(TrafficKind::StartUp)),
            QStringLiteral("sent %1 230401000000").arg(int(TrafficKind::Poll)),
            QStringLiteral("taken %1 15000000").arg(int(TrafficKind::Poll))}));
    // Each request and its reply carry the same exchange number.
    QCOMPARE(seen[5].exchange, seen[6].exchange);
    QCOMPARE(seen[6].request, seen[5].bytes);
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
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    QSignalSpy taken(&rig.link(), &BoardLink::replyTaken);
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling(); // paused on a quiet line
        taken.clear();
        if (afterWatchdog) {
            rig.silence();
            QVERIFY(!rig.link().DirectRequest(Datagram{0x01, {}}));
            QVERIFY(!rig.link().LinkIdle()); // the quiet after it
        }
        Faults flood;
        flood.babble = true;
        rig.line.board().setFaults(flood);
        rig.status.clear();
        QVERIFY(!rig.link().DirectRequest(Datagram{0x03, {}}));
        rig.line.board().setFaults({});
    });
    QCOMPARE(taken.count(), 0);
    QCOMPARE(rig.status,
             QStringList{"The board does not respond.|Please check the cable and power."});
}

void TestBoardLink::batchLetsACommandGoFirst()
{
    // A batch used to take the line every time it fell free: a Stop clicked during a RAM
    // transfer waited for all its words.
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        QVERIFY(rig.link().DirectRequest(Datagram{0x80, {0, 0x12, 0x34}})); // RAM word 0
        rig.frames.clear();
        std::optional<Reply> command;
        QTimer::singleShot(0, &rig.context, [&] {
            command = rig.link().DirectRequest(Datagram{0x03, {}});
        });
        const BoardLink::Batch batch = rig.link().directRequests(ramReads(20));
        QCOMPARE(batch.failedAt, -1);
        QCOMPARE(batch.sent, 20);
        QCOMPARE(batch.replies.front().data, (DataBytes{0, 0x12, 0x34}));
        QVERIFY(QTest::qWaitFor([&] { return command.has_value(); }, 5000));
        QCOMPARE(rig.frames.size(), 21);
        int at = -1;
        for (int i = 0; i < rig.frames.size(); ++i) {
            if (rig.frames[i].request.at(1) == '\x03')
                at = i;
        }
        QVERIFY2(at >= 0 && at <= 2, qPrintable(QString::number(at)));
    });
}

void TestBoardLink::anotherCommandsGiveUpDoesNotEndABatch()
{
    // The watchdog giving up another command's request ended the batch at a word it never
    // sent; it now goes on once the quiet after the give-up has passed.
    BoardOptions board = variant(Variant::Plain);
    board.faults.silentTo = 0x03;
    Rig rig(board);
    QVERIFY(rig.open());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        bool commandDone = false;
        std::optional<Reply> command;
        QTimer::singleShot(0, &rig.context, [&] {
            command = rig.link().DirectRequest(Datagram{0x03, {}});
            commandDone = true;
        });
        const BoardLink::Batch batch = rig.link().directRequests(ramReads(10));
        QVERIFY(QTest::qWaitFor([&] { return commandDone; }, 5000));
        QVERIFY(!command);
        QCOMPARE(batch.failedAt, -1);
        QCOMPARE(int(batch.replies.size()), 10);
    });
}

void TestBoardLink::batchEndsWhenThePortCloses()
{
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.openSilent());
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        closeOnFirstCommand(rig);
        const BoardLink::Batch batch = rig.link().directRequests(ramReads(3));
        QCOMPARE(batch.failedAt, 0);
        QCOMPARE(batch.sent, 1);
        QVERIFY(batch.replies.empty());
        // Nothing more goes out on a closed port.
        QCOMPARE(rig.link().directRequests(ramReads(3)).sent, 0);
    });
}

void TestBoardLink::lostReadIsAskedAgainButAWriteIsNot_data()
{
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("dropped"); // no reply at all; else a stray inside it
    QTest::addColumn<int>("lost");     // replies lost in a row
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("sent"); // frames of the request on the line
    QTest::newRow("read, one reply untrusted") << true << false << 1 << true << 2;
    QTest::newRow("read, two untrusted") << true << false << 2 << true << 3;
    QTest::newRow("read, three untrusted: given up") << true << false << 3 << false << 3;
    // After the watchdog the first reply is not used (it may be the late one), and asked again.
    QTest::newRow("read, one reply dropped") << true << true << 1 << true << 3;
    // Written again, a write could move a motor twice or clear a flag the board has raised
    // since: the command stops, and the write may have landed.
    QTest::newRow("write, its reply dropped") << false << true << 1 << false << 1;
}

void TestBoardLink::lostReadIsAskedAgainButAWriteIsNot()
{
    QFETCH(bool, read);
    QFETCH(bool, dropped);
    QFETCH(int, lost);
    QFETCH(bool, answered);
    QFETCH(int, sent);
    Rig rig(variant(Variant::Plain));
    QVERIFY(rig.open());
    const std::uint8_t address = read ? 0x15 : 0x14; // REF_CONF of motor 1
    Faults fault;
    if (dropped) {
        fault.dropEvery = 1;
    } else {
        fault.strayEvery = 1;
        fault.strayAt = StrayPosition::Inside;
    }
    int frames = 0;
    rig.line.board().onFrame = [&](const FrameLogEntry &e) {
        // The fault holds for the command's frames, `lost` times, and nothing else.
        const bool ours = e.request.size() == 5 && std::uint8_t(e.request.at(1)) == address;
        frames += ours ? 1 : 0;
        rig.line.board().setFaults(ours && frames < lost ? fault : Faults{});
    };
    rig.line.command([&] {
        const PollPause pause = rig.link().PausePolling();
        rig.line.board().setFaults(fault);
        const std::optional<Reply> r = rig.link().DirectRequest(Datagram{address, {0, 0, 7}});
        QCOMPARE(r.has_value(), answered);
        if (r)
            QCOMPARE(r->data.value(), rig.line.board().chip().peek(0x15));
    });
    QCOMPARE(frames, sent);
    // The reply not used after the watchdog is asked again too.
    QCOMPARE(rig.link().counters().askedAgain, quint64(read ? std::min(lost, 2) + dropped : 0));
}

void TestBoardLink::stalledTransmitQueueIsASendError()
{
    // A device that never takes bytes used to keep the program in an endless loop.
    PtyPair pty; // its master side is never read, so the terminal's queue fills up
    QVERIFY(pty.ok());
    BoardSession session;
    std::int64_t now = 100000;
    session.setClock([&now] { return now; });
    int sendErrors = 0;
    QObject::connect(&session.link(), &BoardLink::sendError, &session, [&] { ++sendErrors; });
    QVERIFY(session.Open(pty.path(), {}));
    QVERIFY(session.link().requestOutstanding()); // the detection's request, never answered
    now += BoardLink::kWatchdogTimeout.count() + 1;
    session.link().watchdog(); // which purges both queues
    auto &comm = const_cast<TComm32 &>(session.comm());
    const QByteArray big(1 << 20, 'x');
    comm.WriteBytes(big.constData(), int(big.size()));
    QVERIFY(comm.OutQueueCount() > 0);
    now += BoardLink::kLateQuiet.count() + 1;
    session.link().watchdog();
    // The next request waits for the queue without spinning, and the wait ends once the
    // watchdog's time has passed.
    QVERIFY(!session.link().requestOutstanding());
    QCOMPARE(sendErrors, 0);
    now += BoardLink::kWatchdogTimeout.count() + 1;
    session.link().watchdog();
    QCOMPARE(sendErrors, 1);
}

void TestBoardLink::realPortHandsOverWholeReplies()
{
    // Through the serial component on a pseudo-terminal: the port reports a reply once it is
    // whole, and a reply written in two parts is still read as one.
    PtyPair pty;
    QVERIFY(pty.ok());
    BoardSession session;
    QSignalSpy taken(&session.link(), &BoardLink::replyTaken);
    QVERIFY(session.Open(pty.path(), {}));
    QByteArray got;
    QTRY_VERIFY2((got += pty.received()).endsWith(QByteArray("#\x01\x00\x00\x00", 5)),
                 got.toHex().constData());
    QVERIFY(pty.reply(QByteArray("ZAP310v1.0", 10)));
    QTRY_VERIFY(session.link().PentarBoard());
    // The first replies wake the program for every byte: the link sees how they come. These
    // come whole, as from an adapter: from then on only whole replies wake it.
    for (int i = 0; i < LineFigures::kEnough; ++i) {
        QTRY_VERIFY(session.link().requestOutstanding());
        QCOMPARE(session.comm().readThreshold(), 1);
        pty.received();
        QVERIFY(pty.reply(QByteArray("\x15\x00\x00\x07", 4)));
        QTRY_COMPARE(taken.count(), i + 2);
    }
    QTRY_VERIFY(session.link().requestOutstanding());
    QCOMPARE(session.comm().readThreshold(), 4);
    QVERIFY(pty.reply(QByteArray("\x15\x00", 2)));
    QTest::qWait(20);
    QVERIFY(pty.send(QByteArray("\x13\x88", 2)));
    QTRY_COMPARE(taken.count(), LineFigures::kEnough + 2);
    QTRY_VERIFY(session.link().BoardActive());
    QCOMPARE(session.comm().readThreshold(), 4); // never changed per exchange
}

void TestBoardLink::deliveryIsLearnedOnce_data()
{
    QTest::addColumn<int>("windowUs"); // an adapter's, 0 for none
    QTest::addColumn<int>("hostUs");   // the host hears of bytes up to this much late
    QTest::addColumn<bool>("byteByByte");
    QTest::newRow("a line at its pace") << 0 << 0 << true;
    QTest::newRow("a line at its pace, a host 0.2 ms late") << 0 << 200 << true;
    QTest::newRow("1 ms windows") << 1000 << 0 << true;
    QTest::newRow("2 ms windows") << 2000 << 0 << false;
    QTest::newRow("16 ms windows") << 16000 << 0 << false;
}

void TestBoardLink::deliveryIsLearnedOnce()
{
    // Once the board is detected, the first replies wake the program for every byte, then
    // only whole ones do, on whatever line.
    QFETCH(int, windowUs);
    QFETCH(int, hostUs);
    QFETCH(bool, byteByByte);
    Rig rig(variant(Variant::Plain), {std::chrono::microseconds(windowUs), 0us,
                                      std::chrono::microseconds(hostUs), 7});
    QList<int> thresholds;
    QVERIFY(rig.open());
    QVERIFY(rig.line.runUntil(
        [&] {
            const int now = rig.line.transport().readThreshold();
            if (thresholds.isEmpty() || thresholds.last() != now)
                thresholds << now;
            return false;
        },
        2s) == false);
    QCOMPARE(thresholds, QList<int>({1, 4}));
    QCOMPARE(rig.link().framer().figures().byteByByte(), byteByByte);
}

QTEST_GUILESS_MAIN(TestBoardLink)
#include "tst_boardlink.moc"
