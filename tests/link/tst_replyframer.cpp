// The rules that decide which received bytes answer which request, on scripted timelines:
// stray, early, excess and late bytes, truncated replies, bursts of any size, the checkpoint
// of a fast peer, the pipeline once a board has shown it sits behind a line, the checkpoints
// before replies are trusted, probation after an anomaly, resynchronisation, and a peer on a
// pseudo-terminal that its host slowed. The link that acts on the decisions is tst_boardlink's;
// the whole program against a faulty board is tst_linkintegrity's.

#include "link/ReplyFramer.h"

#include <QTest>

using namespace kvx;

namespace {

// At 19200 bit/s a 5-byte request and the first reply byte take 3125 us, the whole 4-byte
// reply 4687 us; the framer allows a tenth less for the first byte.
ReplyFramer::Timing timing()
{
    ReplyFramer::Timing t;
    t.byteTime = 521;
    t.gap = 2000;
    t.pacedQuiet = 2500;
    t.batchQuiet = 20000;
    t.resync = 20000;
    t.unfinished = 50000;
    t.peerUnfinished = 500000;
    t.pacedCheckpointEvery = 16;
    t.batchCheckpointEvery = 64;
    return t;
}

// One event as the tables below write it; ids of 90 and above belong to the history that
// made the board count as paced and are left out.
QString describe(const ReplyFramer::Event &e)
{
    static const char *const kReasons[] = {"None",       "Stray",  "Early", "Excess",
                                           "Unfinished", "Resync", "Late",  "Untrusted"};
    static_assert(std::size(kReasons) == std::size_t(DiscardReason::Untrusted) + 1);
    if (e.id >= 90)
        return {};
    switch (e.type) {
    case ReplyFramer::EventType::Taken:
        return QStringLiteral("T%1").arg(e.id);
    case ReplyFramer::EventType::Committed:
        return QStringLiteral("C%1").arg(e.id);
    case ReplyFramer::EventType::Dropped:
        return QStringLiteral("D%1").arg(e.id);
    case ReplyFramer::EventType::Discarded:
        return QStringLiteral("X(%1)").arg(QLatin1String(kReasons[int(e.reason)]));
    case ReplyFramer::EventType::Ready:
        return QStringLiteral("R");
    }
    return {};
}

// Runs a script of space-separated steps and returns what came out, as "T0 R C0 D1 X(Early)";
// "!" marks a request sent while the framer was not ready for it:
//   s<id>@<t>     a poll request went out (5 bytes, a 4-byte reply expected, its rest may be
//                 gathered)
//   h<id>@<t>     a command's request, holding the line until its reply is trusted
//   i<id>@<t>     the detection's request: 10 bytes expected, may come short
//   n<id>@<t>     a request that could not be written
//   r<hex>@<t>    bytes were read
//   g<hex>@<t>    bytes were read that the system had been told to gather, as many as these
//   a@<t>         time passed, nothing waits to be read
QString run(ReplyFramer &framer, const QString &script)
{
    QStringList out;
    ReplyFramer::Events events;
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype at = step.indexOf(QLatin1Char('@'));
        const QString what = step.mid(1, at - 1);
        const ReplyFramer::Micros t = step.mid(at + 1).toLongLong();
        const char kind = step.at(0).toLatin1();
        switch (kind) {
        case 's':
        case 'h':
        case 'i':
        case 'n': {
            if (!framer.ready() && what.toInt() < 90)
                out << QStringLiteral("!");
            ReplyFramer::Request r;
            r.id = what.toInt();
            r.holdLine = kind == 'h';
            r.mayBeShort = kind == 'i';
            r.expectNothing = kind == 'n';
            r.gather = kind == 's';
            r.replyBytes = r.mayBeShort ? 10 : 4;
            framer.sent(r, t);
            break;
        }
        case 'r':
        case 'g': {
            const QByteArray bytes = QByteArray::fromHex(what.toLatin1());
            framer.received(bytes, t, events, kind == 'g' ? int(bytes.size()) : 1);
            break;
        }
        case 'a':
            framer.advance(t, events);
            break;
        default:
            return QStringLiteral("bad step ") + step;
        }
        for (const ReplyFramer::Event &e : events) {
            const QString d = describe(e);
            if (!d.isEmpty())
                out << d;
        }
        events.clear();
    }
    return out.join(QLatin1Char(' '));
}

// Four exchanges whose replies came a byte at a time at the line's pace; the board counts as
// behind a line and paced from then on, and everything of them is trusted by 200000 us.
QString pacedHistory()
{
    QStringList steps;
    ReplyFramer::Micros t = 0;
    for (int id = 90; id < 94; ++id) {
        steps << QStringLiteral("s%1@%2").arg(id).arg(t);
        for (int b = 0; b < 4; ++b)
            steps << QStringLiteral("r0%1@%2").arg(b).arg(t + 3200 + 521 * b);
        t += 3200 + 521 * 3 + 20000; // the long quiet, until the board counts as paced
        steps << QStringLiteral("a@%1").arg(t);
    }
    steps << QStringLiteral("a@200000");
    return steps.join(QLatin1Char(' '));
}

} // namespace

class TestReplyFramer : public QObject
{
    Q_OBJECT

private slots:
    void timelines_data();
    void timelines();
    void readyFollowsTheRules();
    void gatheringFollowsTheReply();
    void heldRepliesWaitForACheckpoint();
    void pseudoTerminalPeerAnsweringAtOnceIsKept();
    void pseudoTerminalPeerPausedMidReplyIsKept();
};

void TestReplyFramer::timelines_data()
{
    QTest::addColumn<bool>("paced"); // after a history of replies at the line's pace
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("pacedAfter"); // whether the board counts as paced after; -1: either

    // A peer faster than any line, writing its replies whole: a short checkpoint after each.
    QTest::newRow("fast peer: trusted once the short quiet has passed")
        << false << "s0@0 r01020304@100 a@1000 a@2099 a@2100 a@20100"
        << "T0 C0 R" << -1;
    QTest::newRow("fast peer: bytes one at a time")
        << false << "s0@0 r01@100 r02@200 r03@300 r04@400 a@2400 a@20400"
        << "T0 C0 R" << -1;
    QTest::newRow("fast peer: a byte in the gap is a lost step")
        << false << "s0@0 r01020304@100 r55@1500 a@2100 a@21499 a@21500"
        << "T0 X(Stray) D0 R" << -1;
    QTest::newRow("stray ahead of a reply in one burst: one byte too many")
        << false << "s0@0 r55@50 r01020304@100 a@20100 a@40100"
        << "X(Excess) D0 R" << -1;
    QTest::newRow("stray inside a reply, one byte at a time: the last byte comes after")
        << false << "s0@0 r01@100 r02@600 r55@1100 r03@1600 r04@2100 a@60000"
        << "T0 X(Stray) D0 R" << -1;
    QTest::newRow("truncated reply: given up after the silence")
        << false << "s0@0 r010203@100 a@50099 a@50100 a@70100"
        << "X(Unfinished) D0 R" << -1;
    QTest::newRow("detection: a short reply waits for the watchdog")
        << false << "i0@0 r01020304@100 a@500000"
        << "" << -1;
    QTest::newRow("bytes nobody asked for: resync until the line is quiet")
        << false << "r55@0 a@10000 r55@15000 a@34999 a@35000"
        << "X(Stray) X(Resync) R" << -1;
    QTest::newRow("held line: nothing goes out until the reply is trusted")
        << false << "h0@0 r01020304@100 a@2100 a@20100"
        << "T0 C0 R" << -1;
    QTest::newRow("a request that could not be written takes no reply")
        << false << "n0@0 r01020304@5000 a@40000"
        << "X(Stray) D0 R" << -1;

    // A board behind a line: until it has shown its pace, the long quiet after each reply.
    QTest::newRow("line: a reply in one batch waits out the long quiet")
        << false << "s0@0 r01020304@4700 a@6700 s1@6700 a@24700"
        << "T0 ! C0" << -1;
    // An adapter's batch ends inside a reply that began with a stray: its last byte comes with
    // the next batch, inside the quiet, instead of starting the next reply.
    QTest::newRow("line: a batch split inside a shifted reply is caught in the quiet")
        << false << "s0@0 r55010203@6000 r04@12000 a@40000"
        << "T0 X(Stray) D0 R" << -1;

    // A board that keeps the line's pace a byte at a time: the next request follows at once.
    QTest::newRow("paced: the next request at once, earlier replies trusted in order")
        << true
        << "s0@300000 r01@303200 r02@303721 r03@304242 r04@304763 s1@304763 r05@307963 "
           "r06@308484 r07@309005 r08@309526 a@324763 a@329526"
        << "T0 R T1 R C0 C1" << -1;
    QTest::newRow("paced: a stray after a reply is early for the next request")
        << true
        << "s0@300000 r01@303200 r02@303721 r03@304242 r04@304763 s1@304763 r55@305284 "
           "a@360000"
        << "T0 R X(Early) D0 D1 R" << -1;
    QTest::newRow("paced: a late reply ahead of its successor's, back to back")
        << true
        << "s0@300000 rAA@305000 rAA@305521 rAA@306042 rAA@306563 s1@306563 r01@307084 "
           "a@360000"
        << "T0 R X(Early) D0 D1 R" << -1;
    // Read in one batch, the reply still lets the next request go at once; the board no longer
    // counts as paced, so the checkpoint waits out an adapter's batches.
    QTest::newRow("paced: a whole reply in one batch, as soon as a line delivers it")
        << true << "s0@300000 r01020304@304690 a@307190 a@324689 a@324690"
        << "T0 R C0" << 0;
    QTest::newRow("paced: four bytes sooner than a line can carry them")
        << true << "s0@300000 r01020304@303800 a@330000"
        << "X(Early) D0 R" << -1;
    QTest::newRow("paced: once too fast, the board must show its pace again")
        << true << "s0@300000 r01020304@303800 a@330000 s1@330000 r01020304@334700 s2@334700"
        << "X(Early) D0 R T1 !" << -1;
    // The shift that an adapter's batches keep plausible: every reply four bytes, none early.
    // Nothing of it is trusted before the checkpoint, where the last byte shows up.
    QTest::newRow("paced: a batch split inside a shifted reply is caught at the checkpoint")
        << true
        << "s0@300000 r55010203@306000 s1@306000 r04050607@312000 s2@312000 r08090A0B@318000 "
           "r0C@324000 a@400000"
        << "T0 R T1 R T2 R X(Stray) D0 D1 D2 R" << -1;

    // The first byte read on its own, the rest gathered by the system: the time the rest took
    // stands for the bytes' own times.
    QTest::newRow("line: replies whose rest was gathered at the line's pace make it paced")
        << false
        << "s0@0 r01@3200 g020304@4763 a@24763 s1@24763 r01@27963 g020304@29526 a@49526 "
           "s2@49526 r01@52726 g020304@54289 a@74289 s3@74289 r01@77489 g020304@79052 "
           "s4@79052"
        << "T0 C0 R T1 C1 R T2 C2 R T3 R" << -1;
    QTest::newRow("paced: the rest gathered at the line's pace, the next request at once")
        << true << "s0@300000 r01@303200 g020304@304763 s1@304763 a@330000"
        << "T0 R C0" << 1;
    QTest::newRow("paced: the rest gathered sooner than a line carries it is a batch")
        << true << "s0@300000 r01@305000 g020304@305200 s1@305200"
        << "T0 R" << 0;
    QTest::newRow("paced: the rest gathered a character too late is a batch")
        << true << "s0@300000 r01@303200 g020304@305800 s1@305800"
        << "T0 R" << 0;
    QTest::newRow("paced: a whole reply gathered at once is a batch")
        << true << "s0@300000 g01020304@304763 s1@304763"
        << "T0 R" << 0;
    QTest::newRow("paced: a stray ahead of a gathered rest is early")
        << true << "s0@300000 r55@303200 g01020304@304763 a@360000"
        << "X(Early) D0 R" << -1;
}

void TestReplyFramer::timelines()
{
    QFETCH(bool, paced);
    QFETCH(QString, script);
    QFETCH(QString, events);
    QFETCH(int, pacedAfter);
    ReplyFramer framer(timing());
    if (paced) {
        run(framer, pacedHistory());
        QVERIFY(framer.paced());
        QVERIFY(framer.onLine());
    }
    QCOMPARE(run(framer, script), events);
    if (pacedAfter >= 0)
        QCOMPARE(framer.paced(), pacedAfter == 1);
}

void TestReplyFramer::readyFollowsTheRules()
{
    ReplyFramer framer(timing());
    QVERIFY(framer.ready());
    run(framer, QStringLiteral("s0@0"));
    QVERIFY(!framer.ready());
    QVERIFY(framer.outstanding());
    QCOMPARE(framer.nextDeadline(), std::nullopt); // the watchdog's business
    run(framer, QStringLiteral("r01@100"));
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(50100));
    run(framer, QStringLiteral("r020304@200"));
    QCOMPARE(framer.held(), std::size_t(1));
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(2200)); // the gap
    ReplyFramer::Events events;
    framer.giveUp(events);
    QCOMPARE(events.size(), std::size_t(1));
    QCOMPARE(events.front().type, ReplyFramer::EventType::Dropped);
    QVERIFY(framer.ready());
    QCOMPARE(framer.held(), std::size_t(0));
}

void TestReplyFramer::gatheringFollowsTheReply()
{
    ReplyFramer framer(timing());
    QCOMPARE(framer.gatherable(), 1); // nothing asked: each stray counts
    run(framer, QStringLiteral("s0@0"));
    QCOMPARE(framer.gatherable(), 1); // the first byte's own time matters
    run(framer, QStringLiteral("r01@3200"));
    QCOMPARE(framer.gatherable(), 3);
    run(framer, QStringLiteral("r02@3721"));
    QCOMPARE(framer.gatherable(), 2);
    run(framer, QStringLiteral("g0304@4763"));
    QCOMPARE(framer.gatherable(), 1);
    run(framer, QStringLiteral("a@24763 i1@24763 r01@28000"));
    QCOMPARE(framer.gatherable(), 1); // the identification may come short
    run(framer, QStringLiteral("a@300000 h2@300000 r01@303200"));
    QCOMPARE(framer.gatherable(), 1); // a command's reply is read byte by byte
}

void TestReplyFramer::heldRepliesWaitForACheckpoint()
{
    ReplyFramer framer(timing());
    run(framer, pacedHistory());
    // Pipelined replies are held while requests follow them: no wake-up of their own.
    QStringList script;
    ReplyFramer::Micros t = 300000;
    for (int id = 0; id < 16; ++id) {
        script << QStringLiteral("s%1@%2").arg(id).arg(t);
        for (int b = 0; b < 4; ++b)
            script << QStringLiteral("r0%1@%2").arg(b).arg(t + 3200 + 521 * b);
        t += 3200 + 521 * 3;
    }
    const QString events = run(framer, script.join(QLatin1Char(' ')));
    QVERIFY2(!events.contains(QLatin1Char('C')), qPrintable(events));
    // The sixteenth asks for a checkpoint: nothing goes out until the short quiet has passed.
    QCOMPARE(framer.held(), std::size_t(16));
    QVERIFY(!framer.ready());
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(t + 2500));
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(t + 2499)), QString());
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(t + 2500)).count(QLatin1Char('C')), 16);
    QVERIFY(framer.ready());

    // The quiet before the next reply proves the one held, with its request outstanding; with
    // few held, it is looked for only after a while, to spare a wake-up per exchange.
    run(framer, QStringLiteral("s20@400000 r01@403200 r02@403721 r03@404242 r04@404763"));
    // Nothing outstanding: nothing else would wake the program, so the quiet is looked for
    // as soon as it can prove the reply.
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(404763 + 2500));
    run(framer, QStringLiteral("s21@404763"));
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(404763 + 40000));
    QCOMPARE(run(framer, QStringLiteral("a@407262")), QString());
    QCOMPARE(run(framer, QStringLiteral("a@407263")), QStringLiteral("C20"));
    // Once the next reply has begun, its first byte may be a tail read late: no proof.
    run(framer,
        QStringLiteral("r01@407900 r02@408421 r03@408942 r04@409463 s22@409463 r01@420000"));
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(420000 + 50000));
    QCOMPARE(run(framer, QStringLiteral("a@440000")), QString());
}

void TestReplyFramer::pseudoTerminalPeerAnsweringAtOnceIsKept()
{
    // A board played by a program on a pseudo-terminal, whose host was slow for a while: its
    // replies looked as late as a line's. Answering at once again is no stray there; the reply
    // is kept and trusted after the fast peer's quiet.
    ReplyFramer::Timing t = timing();
    t.pacedLine = false;
    ReplyFramer framer(t);
    QCOMPARE(run(framer, QStringLiteral("s0@0 r01020304@10000 a@30000 s1@30000 r01020304@45000 "
                                        "a@65000 s2@65000 r01020304@80000 a@100000 s3@100000 "
                                        "r01020304@120000 a@140000")),
             QStringLiteral("T0 C0 R T1 C1 R T2 C2 R T3 R C3"));
    QVERIFY(framer.onLine());
    QCOMPARE(run(framer, QStringLiteral("s4@140000 r05060708@140100 a@142099 a@142100")),
             QStringLiteral("T4 C4 R"));
    QVERIFY(!framer.onLine());
    // Behind a real line the same bytes cannot be the reply.
    ReplyFramer line(timing());
    run(line, QStringLiteral("s0@0 r01020304@10000 a@30000 s1@30000 r01020304@45000 a@65000 "
                             "s2@65000 r01020304@80000 a@100000 s3@100000 r01020304@120000 "
                             "a@140000"));
    QCOMPARE(run(line, QStringLiteral("s4@140000 r05060708@140100")),
             QStringLiteral("X(Early) D4"));
}

void TestReplyFramer::pseudoTerminalPeerPausedMidReplyIsKept()
{
    // A board played by a program that a busy host paused between two bytes of its reply, for
    // longer than a line ever leaves one: the reply is kept, and given up only after the longer
    // silence. Behind a line the first silence ends it.
    ReplyFramer::Timing t = timing();
    t.pacedLine = false;
    ReplyFramer paused(t);
    QCOMPARE(run(paused, QStringLiteral("s0@0 r0102@100 a@60000 r0304@150000 a@152100")),
             QStringLiteral("T0 C0 R"));
    QCOMPARE(run(paused, QStringLiteral("s1@200000 r0102@200100 a@700099 a@700100")),
             QStringLiteral("X(Unfinished) D1"));
    ReplyFramer line(timing());
    QCOMPARE(run(line, QStringLiteral("s0@0 r0102@100 a@50099 a@50100")),
             QStringLiteral("X(Unfinished) D0"));
}

QTEST_APPLESS_MAIN(TestReplyFramer)
#include "tst_replyframer.moc"
