// The rules that decide which received bytes answer which request, on scripted timelines:
// stray, early, excess and late bytes, truncated replies, bursts of any size, the quiet gap of
// a fast peer, the line's pace once a board has shown it, the hold before a reply is trusted,
// and resynchronisation. The link that acts on the decisions is tst_boardlink's; the whole
// program against a faulty board is tst_linkintegrity's.

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
    t.hold = 20000;
    t.resync = 20000;
    t.unfinished = 50000;
    return t;
}

// Runs a script of space-separated steps and returns what came out, as "T0 R C0 D1 X(Early)":
//   s<id>@<t>     a request went out (5 bytes, a 4-byte reply expected)
//   h<id>@<t>     the same, holding the line until its reply is trusted
//   i<id>@<t>     the detection's request: 10 bytes expected, may come short
//   r<hex>@<t>    bytes were read
//   a@<t>         time passed, nothing waits to be read
// Ids of 90 and above belong to the history that made the board count as paced; their events
// are left out.
QString run(ReplyFramer &framer, const QString &script)
{
    QStringList out;
    ReplyFramer::Events events;
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype at = step.indexOf(QLatin1Char('@'));
        const QString what = step.mid(1, at - 1);
        const ReplyFramer::Micros t = step.mid(at + 1).toLongLong();
        switch (step.at(0).toLatin1()) {
        case 's':
        case 'h':
        case 'i': {
            ReplyFramer::Request r;
            r.id = what.toInt();
            r.holdLine = step.at(0) == QLatin1Char('h');
            r.mayBeShort = step.at(0) == QLatin1Char('i');
            r.replyBytes = r.mayBeShort ? 10 : 4;
            framer.sent(r, t);
            break;
        }
        case 'r':
            framer.received(QByteArray::fromHex(what.toLatin1()), t, events);
            break;
        case 'a':
            framer.advance(t, events);
            break;
        default:
            return QStringLiteral("bad step ") + step;
        }
    }
    static const char *const kReasons[] = {"None",       "Stray",  "Early",  "Excess",
                                           "Unfinished", "Resync", "GivenUp"};
    for (const ReplyFramer::Event &e : events) {
        if (e.id >= 90)
            continue;
        switch (e.type) {
        case ReplyFramer::EventType::Taken:
            out << QStringLiteral("T%1").arg(e.id);
            break;
        case ReplyFramer::EventType::Committed:
            out << QStringLiteral("C%1").arg(e.id);
            break;
        case ReplyFramer::EventType::Dropped:
            out << QStringLiteral("D%1").arg(e.id);
            break;
        case ReplyFramer::EventType::Discarded:
            out << QStringLiteral("X(%1)").arg(QLatin1String(kReasons[int(e.reason)]));
            break;
        case ReplyFramer::EventType::Ready:
            out << QStringLiteral("R");
            break;
        }
    }
    return out.join(QLatin1Char(' '));
}

// Four exchanges whose replies kept the line's pace, the last one trusted by 200000 us.
const QString kPacedHistory =
    QStringLiteral("s90@0 r01@3200 r000000@4700 a@6700 s91@6700 r01000000@11400 a@13400 "
                   "s92@13400 r01000000@18100 a@20100 s93@20100 r01000000@24800 a@200000");

} // namespace

class TestReplyFramer : public QObject
{
    Q_OBJECT

private slots:
    void timelines_data();
    void timelines();
    void readyFollowsTheRules();
};

void TestReplyFramer::timelines_data()
{
    QTest::addColumn<bool>("paced"); // after a history of replies at the line's pace
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("events");

    // A peer faster than any line.
    QTest::newRow("fast peer: a gap, then trusted after the hold")
        << false << "s0@0 r01020304@100 a@1000 a@2100 a@20099 a@20100"
        << "T0 R C0";
    QTest::newRow("fast peer: bytes one at a time")
        << false << "s0@0 r01@100 r02@200 r03@300 r04@400 a@2400 a@20400"
        << "T0 R C0";
    QTest::newRow("fast peer: a byte in the gap is a lost step")
        << false << "s0@0 r01020304@100 r55@1500 a@2100 a@21499 a@21500"
        << "T0 X(Stray) D0 R";
    QTest::newRow("stray ahead of a reply in one burst: one byte too many")
        << false << "s0@0 r55@50 r01020304@100 a@20100 a@40100"
        << "X(Excess) D0 R";
    QTest::newRow("stray inside a reply, one byte at a time: the last byte comes after")
        << false << "s0@0 r01@100 r02@600 r55@1100 r03@1600 r04@2100 a@60000"
        << "T0 X(Stray) D0 R";
    QTest::newRow("truncated reply: given up after the silence")
        << false << "s0@0 r010203@100 a@50099 a@50100 a@70100"
        << "X(Unfinished) D0 R";
    QTest::newRow("detection: a short reply waits for the watchdog")
        << false << "i0@0 r01020304@100 a@500000"
        << "";
    QTest::newRow("bytes nobody asked for: resync until the line is quiet")
        << false << "r55@0 a@10000 r55@15000 a@34999 a@35000"
        << "X(Stray) X(Resync) R";
    QTest::newRow("held line: nothing goes out until the reply is trusted")
        << false << "h0@0 r01020304@100 a@2100 a@20100"
        << "T0 C0 R";
    // Four replies as soon as the request is through, their bytes sooner than a line carries
    // them: no line's pace, so the quiet gap stays.
    QTest::newRow("whole replies too soon after each request: never paced")
        << false
        << "s0@0 r01020304@3200 a@5200 s1@5200 r01020304@8400 a@10400 s2@10400 "
           "r01020304@13600 a@15600 s3@15600 r01020304@18800 a@20800 s4@20800 "
           "r01020304@24000 a@26000"
        << "T0 R T1 R T2 R T3 R T4 C0 R";

    // A board that keeps the line's pace: the next request follows at once.
    QTest::newRow("paced: the next request at once, earlier replies trusted in order")
        << true << "s0@300000 r01020304@304700 s1@304700 r05060708@309400 a@324700 a@329400"
        << "T0 R T1 R C0 C1";
    QTest::newRow("paced: a stray after a reply is early for the next request")
        << true << "s0@300000 r01020304@304700 s1@304700 r55@305200 a@360000"
        << "T0 R X(Early) D1 D0 R";
    QTest::newRow("paced: a whole reply in one batch, as late as a line allows")
        << true << "s0@300000 r01020304@304690 a@330000"
        << "T0 R C0";
    QTest::newRow("paced: four bytes sooner than a line can carry them")
        << true << "s0@300000 r01020304@303800 a@330000"
        << "X(Early) D0 R";
    QTest::newRow("paced: once too fast, the board must show its pace again")
        << true << "s0@300000 r01020304@303800 a@330000 s1@330000 r01020304@334700"
        << "X(Early) D0 R T1";
    QTest::newRow("paced: an adapter's late batch shifts the next reply and drops both")
        << true
        << "s0@300000 r010203@304200 r04@304800 s1@304800 r55@312000 r05060708@312100 a@400000"
        << "T0 R X(Excess) D1 D0 R";
    QTest::newRow("paced: a late reply ahead of its successor's, back to back")
        << true << "s0@300000 rAAAAAAAA@305000 s1@305000 r01020304@307100 a@400000"
        << "T0 R X(Early) D1 D0 R";
}

void TestReplyFramer::timelines()
{
    QFETCH(bool, paced);
    QFETCH(QString, script);
    QFETCH(QString, events);
    ReplyFramer framer(timing());
    if (paced) {
        run(framer, kPacedHistory);
        QVERIFY(framer.paced());
    }
    QCOMPARE(run(framer, script), events);
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

QTEST_APPLESS_MAIN(TestReplyFramer)
#include "tst_replyframer.moc"
