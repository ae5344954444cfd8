// The rules that decide which received bytes answer which request, on scripted timelines:
// stray, early, excess and late bytes, truncated replies (and a truncation completed by a
// stray), bursts of any size, the proof of a fast peer, the pipeline on a line, the checkpoints
// before replies are trusted, probation after an anomaly (the longer quiet, the board's own
// earliest and latest answer), damaged bytes and resynchronisation; and the line's figures
// that size the quiets. The link that acts on the decisions is tst_boardlink's; the session
// on faulty lines is tst_lines'.

#include "link/ReplyFramer.h"

#include <QTest>

using namespace kvx;

namespace {

constexpr ReplyFramer::Micros kByte = 521;

// One event as the tables below write it; ids of 90 and above belong to the history that
// taught the framer its line and are left out.
QString describe(const ReplyFramer::Event &e)
{
    static const char *const kReasons[] = {"None",       "Stray",   "Early",      "Excess",
                                           "Unfinished", "Resync",  "Late",       "Untrusted",
                                           "Overdue",    "Damaged", "AfterGiveUp"};
    static_assert(std::size(kReasons) == std::size_t(DiscardReason::AfterGiveUp) + 1);
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
//   s<id>@<t>     a poll request went out (5 bytes, a 4-byte reply expected)
//   h<id>@<t>     a command's request, holding the line until its reply is trusted
//   u<id>@<t>     a transfer's row, whose reply is seen once the transfer is trusted whole
//   i<id>@<t>     the detection's request: 10 bytes expected, may come short
//   n<id>@<t>     a request that could not be written
//   r<hex>@<t>    bytes were read
//   a@<t>         a look at the line: time passed, nothing waits to be read
//   g@<t>         the watchdog gave the outstanding request up
//   d@<t>         the line reported a damaged byte
//   |             shown as it is: what comes before it came from the steps before
QString run(ReplyFramer &framer, const QString &script)
{
    QStringList out;
    ReplyFramer::Events events;
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("|")) {
            out << step;
            continue;
        }
        const qsizetype at = step.indexOf(QLatin1Char('@'));
        const QString what = step.mid(1, at - 1);
        const ReplyFramer::Micros t = step.mid(at + 1).toLongLong();
        const char kind = step.at(0).toLatin1();
        switch (kind) {
        case 's':
        case 'h':
        case 'u':
        case 'i':
        case 'n': {
            if (!framer.ready() && what.toInt() < 90)
                out << QStringLiteral("!");
            ReplyFramer::Request r;
            r.id = what.toInt();
            r.holdLine = kind == 'h';
            r.mayBeShort = kind == 'i';
            r.expectNothing = kind == 'n';
            r.unseen = kind == 'u';
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
        case 'g':
            framer.giveUp(events);
            break;
        case 'd':
            framer.damaged(t, events);
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

// Eight exchanges whose replies came `latency` after the line could have carried them, each
// proved: the framer knows its line from then on, and everything of them is trusted by
// 450000 us.
QString history(ReplyFramer::Micros latency)
{
    QStringList steps;
    for (int i = 0; i < LineFigures::kEnough; ++i) {
        const ReplyFramer::Micros t = 50000 * i;
        steps << QStringLiteral("s%1@%2 r01020304@%3 a@%4")
                     .arg(90 + i)
                     .arg(t)
                     .arg(t + 9 * kByte + latency)
                     .arg(t + 49000);
    }
    return steps.join(QLatin1Char(' '));
}

struct Setup
{
    bool paced = true;                // a real line, not a pseudo-terminal's program
    ReplyFramer::Micros learned = -1; // the board's figure it has shown; -1: not yet
    bool probation = false;           // a request was just given up
};

ReplyFramer framerFor(const Setup &s)
{
    ReplyFramer f;
    f.setLine(s.paced, kByte);
    if (s.learned >= 0) {
        run(f, history(s.learned));
        run(f, QStringLiteral("a@450000"));
    }
    if (s.probation)
        run(f, QStringLiteral("s89@460000 g@470000"));
    return f;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestReplyFramer : public QObject
{
    Q_OBJECT

private slots:
    void timelines_data();
    void timelines();
    void figuresSizeTheQuiets_data();
    void figuresSizeTheQuiets();
    void deliveryShapesTheQuiets_data();
    void deliveryShapesTheQuiets();
    void readyFollowsTheRules();
    void heldRepliesWaitForACheckpoint();
    void transferRepliesAreProvedLessOften_data();
    void transferRepliesAreProvedLessOften();
    void pseudoTerminalPeerAnsweringAtOnceIsKept();
};

void TestReplyFramer::timelines_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("events");
    const Setup fast{false, -1, false};
    const Setup line{true, -1, false};
    const Setup learned{true, 0, false};
    const Setup slowBoard{true, 6000, false}; // a board that answers 6 ms after a request
    const Setup suspect{true, 6000, true};    // and after a give-up

    // A peer faster than any line, writing its replies whole: a quiet after each proves it.
    QTest::newRow("fast peer: trusted once the quiet has passed")
        << fast << "s0@0 r01020304@100 a@1000 a@2099 a@2100 a@20100"
        << "T0 C0 R";
    QTest::newRow("fast peer: bytes one at a time")
        << fast << "s0@0 r01@100 r02@200 r03@300 r04@400 a@2400 a@20400"
        << "T0 C0 R";
    QTest::newRow("fast peer: a byte in the gap is a lost step")
        << fast << "s0@0 r01020304@100 r55@1500 a@2100 a@34499 a@34500"
        << "T0 X(Stray) D0 R";
    QTest::newRow("stray ahead of a reply in one burst: one byte too many")
        << fast << "s0@0 r55@50 r01020304@100 a@20100 a@40100"
        << "X(Excess) D0 R";
    QTest::newRow("stray inside a reply, one byte at a time: the last byte comes after")
        << fast << "s0@0 r01@100 r02@600 r55@1100 r03@1600 r04@2100 a@60000"
        << "T0 X(Stray) D0 R";
    QTest::newRow("truncated reply from a program: given up after the peer's pause")
        << fast << "s0@0 r010203@100 a@500099 | a@500100 a@560000"
        << "| X(Unfinished) D0 R";
    QTest::newRow("detection: a short reply waits for the watchdog")
        << fast << "i0@0 r01020304@100 a@500000"
        << "";
    QTest::newRow("bytes nobody asked for: resync until the line is quiet")
        << fast << "r55@0 a@10000 r55@15000 a@47999 a@48000"
        << "X(Stray) X(Resync) R";
    QTest::newRow("held line: nothing goes out until the reply is trusted")
        << fast << "h0@0 r01020304@100 a@2100 a@20100"
        << "T0 C0 R";
    QTest::newRow("a request that could not be written takes no reply")
        << fast << "n0@0 r01020304@5000 a@40000"
        << "X(Stray) D0 R";

    // A board behind a line whose figures are not known yet: each reply waits out the long
    // quiet, which outlasts an adapter's usual window.
    QTest::newRow("line: a reply in one batch waits out the long quiet")
        << line << "s0@0 r01020304@4700 a@6700 s1@6700 a@25346 | a@25347"
        << "T0 ! | C0";
    // An adapter's batch ends inside a reply that began with a stray: its last byte comes with
    // the next batch, inside the quiet, instead of starting the next reply.
    QTest::newRow("line: a batch split inside a shifted reply is caught in the quiet")
        << line << "s0@0 r55010203@6000 r04@12000 a@60000"
        << "T0 X(Stray) D0 R";
    QTest::newRow("line: four bytes sooner than a line can carry them")
        << line << "s0@0 r01020304@3800 a@42530 a@42531"
        << "X(Early) D0 R";

    // A line that has shown its figures: the next request follows a reply at once.
    QTest::newRow("learned: the next request at once, earlier replies trusted in order")
        << learned
        << "s0@500000 r01@503200 r02@503721 r03@504242 r04@504763 s1@504763 r05@507963 "
           "r06@508484 r07@509005 r08@509526 a@514246 | a@514247"
        << "T0 R T1 R | C0 C1";
    QTest::newRow("learned: a stray after a reply is early for the next request")
        << learned << "s0@500000 r01020304@504689 s1@504689 r55@505210 a@560000"
        << "T0 R X(Early) D0 D1 R";
    QTest::newRow("learned: a late reply ahead of its successor's, back to back")
        << learned
        << "s0@500000 rAA@505000 rAA@505521 rAA@506042 rAA@506563 s1@506563 r01@507084 "
           "a@560000"
        << "T0 R X(Early) D0 D1 R";
    QTest::newRow("learned: four bytes sooner than a line can carry them")
        << learned << "s0@500000 r01020304@503800 a@560000"
        << "X(Early) D0 R";
    // The shift that an adapter's batches keep plausible: every reply four bytes, none early.
    // Nothing of it is trusted before the look, where the last byte shows up.
    QTest::newRow("learned: a batch split inside a shifted reply is caught at the look")
        << learned
        << "s0@500000 r55010203@506000 s1@506000 r04050607@512000 s2@512000 r08090A0B@518000 "
           "r0C@524000 a@600000"
        << "T0 R T1 R T2 R X(Stray) D0 D1 D2 R";
    // The port reports a reply only once it is whole: the look when it is due finds three
    // bytes, and the one that comes long after them is no part of it.
    QTest::newRow("learned: a truncated reply completed by a stray later is no reply")
        << learned
        << "s0@500000 a@506688 r010203@506689 a@506689 a@511335 a@511336 r55@514000 a@560000"
        << "X(Unfinished) D0 X(Resync) R";
    QTest::newRow("learned: a damaged byte makes nothing held trustworthy")
        << learned << "s0@500000 r01020304@504689 s1@504689 r05@508000 d@508000 a@560000"
        << "T0 R X(Damaged) D0 D1 R";

    // After a give-up: each reply proved on its own, by a quiet long enough for a reply the
    // board had queued behind a late one, and the board's own figures hold.
    QTest::newRow("probation: a queued reply comes inside the longer quiet")
        << suspect << "s1@700000 r01020304@710563 r05060708@718647 a@740000"
        << "T1 X(Stray) D1 R";
    QTest::newRow("probation: without a queued reply the quiet proves it")
        << suspect << "s1@700000 r01020304@710563 a@729293 | a@729294"
        << "T1 | C1 R";
    QTest::newRow("probation: sooner than this board answers")
        << suspect << "s1@700000 r01020304@706563 a@740000"
        << "X(Early) D1 R";
    QTest::newRow("probation: later than this board answers")
        << suspect
        << "s1@700000 a@714178 r01020304@714180 a@740000 | s2@800000 a@830000 r01020304@840000"
        << "T1 C1 R | X(Overdue) D2";
    QTest::newRow("the same late reply, no fault before: the request's own")
        << slowBoard << "s1@700000 a@714189 r01020304@740000"
        << "T1 R";
}

void TestReplyFramer::timelines()
{
    QFETCH(Setup, setup);
    QFETCH(QString, script);
    QFETCH(QString, events);
    ReplyFramer framer = framerFor(setup);
    QCOMPARE(run(framer, script), events);
}

void TestReplyFramer::figuresSizeTheQuiets_data()
{
    QTest::addColumn<QString>("seen"); // latencies of trusted exchanges, microseconds
    QTest::addColumn<bool>("paced");
    QTest::addColumn<qint64>("tail");
    QTest::addColumn<qint64>("probation");
    QTest::addColumn<qint64>("earliest"); // the board's, for a 5-byte request
    QTest::addColumn<qint64>("fresh");
    // A quiet covers a character, the longest figure, the request's own time (an adapter's
    // window that began with it) and a millisecond of the system's.
    QTest::newRow("unknown line: an adapter's 16 ms assumed")
        << "" << true << 20647ll << 38731ll << 2813ll << 240000ll;
    QTest::newRow("the line's pace")
        << "0 0 0 0 0 0 0 0" << true << 4647ll << 6731ll << 2813ll << 55764ll;
    QTest::newRow("a board that takes 6 ms") << "6000 6000 6000 6000 6000 6000 6000 6000" << true
                                             << 10647ll << 18731ll << 7213ll << 127764ll;
    QTest::newRow("an adapter's 16 ms windows") << "12900 3000 12900 800 12900 12900 12900 12900"
                                                << true << 17547ll << 32531ll << 2813ll << 210564ll;
    QTest::newRow("a 32 ms latency timer") << "28900 28900 28900 28900 28900 28900 28900 10" << true
                                           << 33547ll << 64531ll << 2813ll << 240000ll;
    QTest::newRow("a program on a pseudo-terminal")
        << "100 200 100 100 100 100 100 100" << false << 1200ll << 1400ll << 0ll << 50000ll;
    QTest::newRow("a board at once, a busy host's late reply: still fresh within 100 ms")
        << "0 300 0 9000 0 0 0 0" << true << 13647ll << 24731ll << 2813ll << 85000ll;
    QTest::newRow("a board at once, a host that woke 20 ms late once: still fresh")
        << "0 300 0 20000 0 0 0 0" << true << 24647ll << 46731ll << 2813ll << 85000ll;
    // Proved alone, each reply would wait 45 ms for its quiet: held a quiet's length at least,
    // its value is shown older instead.
    QTest::newRow("a host that stood still 40 ms: replies held for a quiet")
        << "0 300 0 40000 0 0 0 0" << true << 44647ll << 86731ll << 2813ll << 133983ll;
    QTest::newRow("one stall among them is not a figure")
        << "0 0 0 0 0 0 0 0 2540000" << true << 4647ll << 6731ll << 2813ll << 55764ll;
}

void TestReplyFramer::figuresSizeTheQuiets()
{
    QFETCH(QString, seen);
    QFETCH(bool, paced);
    QFETCH(qint64, tail);
    QFETCH(qint64, probation);
    QFETCH(qint64, earliest);
    QFETCH(qint64, fresh);
    LineFigures f(kByte);
    f.setPaced(paced);
    for (const QString &v : seen.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        f.add(v.toLongLong());
    QCOMPARE(f.tailQuiet(5), tail);
    QCOMPARE(f.probationQuiet(5, 4), probation);
    QCOMPARE(f.boardEarliest(5), earliest);
    QCOMPARE(f.freshness(5), fresh);
    // A figure longer than those seen moves the rules to the safe side at once. A checkpoint's
    // quiet keeps allowing for it over the next kRecent exchanges (a busy host's one late reply
    // must not lengthen every proof for a third of a second), the probation's and the bounds
    // until it has aged out of all those remembered.
    const qint64 base = 7 * f.lineByte() + LineFigures::kMargin; // the quiet less the figure
    f.add(40000);
    QCOMPARE(f.tailQuiet(5), base + 40000);
    for (int i = 0; i < LineFigures::kRecent - 1; ++i)
        f.add(0);
    QCOMPARE(f.tailQuiet(5), base + 40000);
    f.add(0);
    QVERIFY(f.tailQuiet(5) < base + 40000);
    QVERIFY(f.probationQuiet(5, 4) >= base + 2 * 40000);
    // The reply being proved showed a long figure: its own quiet allows for it.
    f.hold(30000);
    QCOMPARE(f.tailQuiet(5), base + 30000);
    f.release();
    for (int i = 0; i < LineFigures::kRemembered - LineFigures::kRecent - 1; ++i)
        f.add(0);
    QCOMPARE(f.longest(), 40000ll);
    f.add(0);
    QVERIFY(f.longest() < 40000);
}

void TestReplyFramer::deliveryShapesTheQuiets_data()
{
    // The first replies read while the program is woken for every byte, each "bytes/reads/span
    // in microseconds", eight of them.
    QTest::addColumn<QString>("replies");
    QTest::addColumn<bool>("watching");
    QTest::addColumn<bool>("byteByByte");
    const auto times = [](const char *reply, int n) {
        QStringList all;
        for (int i = 0; i < n; ++i)
            all << QLatin1String(reply);
        return all.join(QLatin1Char(' '));
    };
    QTest::newRow("a line at its pace, a byte a read") << times("4/4/1563", 8) << true << true;
    QTest::newRow("a busy host ran two bytes together twice")
        << times("4/4/1563", 6) + " 4/2/521 4/3/1042" << true << true;
    QTest::newRow("three of eight came in two parts")
        << times("4/4/1563", 5) + " " + times("4/2/521", 3) << true << false;
    QTest::newRow("1 ms windows split each reply in three") << times("4/3/2000", 8) << true << true;
    QTest::newRow("windows of two characters split each in two")
        << times("4/2/1042", 8) << true << false;
    QTest::newRow("three parts closer than a line brings them")
        << times("4/3/600", 8) << true << false;
    QTest::newRow("replies of ten in three parts: windows of up to nine characters")
        << times("10/3/4000", 8) << true << false;
    QTest::newRow("woken for whole replies only: nothing to tell")
        << times("4/4/1563", 8) << false << false;
}

void TestReplyFramer::deliveryShapesTheQuiets()
{
    QFETCH(QString, replies);
    QFETCH(bool, watching);
    QFETCH(bool, byteByByte);
    LineFigures f(kByte);
    for (int i = 0; i < LineFigures::kEnough; ++i)
        f.add(0);
    if (watching)
        f.watchDelivery();
    for (const QString &r : replies.split(QLatin1Char(' '))) {
        const QStringList v = r.split(QLatin1Char('/'));
        f.delivered(v[0].toInt(), v[1].toInt(), v[2].toLongLong());
    }
    QCOMPARE(f.deliveryJudged(), watching);
    QCOMPARE(f.byteByByte(), byteByByte);
    // A quiet allows for windows that began with the request, or, where bytes come one by
    // one, for windows shorter than three characters.
    QCOMPARE(f.tailQuiet(5), (byteByByte ? 3 : 7) * kByte + LineFigures::kMargin);
    // The verdict stands: later replies are read whole.
    for (int i = 0; i < LineFigures::kEnough; ++i)
        f.delivered(4, 1, 0);
    QCOMPARE(f.byteByByte(), byteByByte);
}

void TestReplyFramer::readyFollowsTheRules()
{
    ReplyFramer framer = framerFor({true, 0, false});
    QVERIFY(framer.ready());
    run(framer, QStringLiteral("s0@500000"));
    QVERIFY(!framer.ready());
    QVERIFY(framer.outstanding());
    // The port reports a reply only once it is whole: a look when it is due finds a part.
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(506689));
    run(framer, QStringLiteral("r01@506689"));
    QCOMPARE(framer.nextDeadline(),
             std::optional<ReplyFramer::Micros>(506689 + 3 * kByte + 4647 - kByte));
    run(framer, QStringLiteral("r020304@506700"));
    QCOMPARE(framer.held(), std::size_t(1));
    // Nothing asked: a look once the tail's quiet has passed proves it; the quiet allows for
    // the latency the reply itself showed.
    QCOMPARE(framer.nextDeadline(),
             std::optional<ReplyFramer::Micros>(506700 + framer.figures().tailQuiet(5)));
    QVERIFY(framer.figures().tailQuiet(5) > 4647);
    ReplyFramer::Events events;
    framer.giveUp(events);
    QCOMPARE(events.size(), std::size_t(1));
    QCOMPARE(events.front().type, ReplyFramer::EventType::Dropped);
    QVERIFY(framer.ready());
    QCOMPARE(framer.held(), std::size_t(0));
    QCOMPARE(framer.probation(), ReplyFramer::kProbation);
}

void TestReplyFramer::heldRepliesWaitForACheckpoint()
{
    ReplyFramer framer = framerFor({true, 0, false});
    // Pipelined replies are held while requests follow them: no look of their own.
    QStringList script;
    ReplyFramer::Micros t = 500000;
    int id = 0;
    QString events;
    while (!events.contains(QLatin1Char('C')) && id < 40) {
        const QString step =
            QStringLiteral("s%1@%2 r01020304@%3").arg(id++).arg(t).arg(t + 9 * kByte);
        t += 9 * kByte;
        events += run(framer, step);
        if (!framer.ready())
            break;
    }
    // The oldest reply is about to be too old to show: a checkpoint, whose look comes a tail's
    // quiet after the last reply; the next request may go out before it, no sooner than its
    // reply could be there after the look.
    QVERIFY2(!events.contains(QLatin1Char('C')), qPrintable(events));
    const ReplyFramer::Micros fresh = framer.figures().freshness(5);
    QVERIFY2(t - 500000 + 9 * kByte + 2 * 4647 >= fresh && t - 500000 < fresh,
             qPrintable(QString::number(t - 500000)));
    QCOMPARE(framer.held(), std::size_t(id));
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(t + 4647 - 2813));
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(t + 4647 - 2814)), QString());
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(t + 4647 - 2813)), QStringLiteral("R"));
    run(framer, QStringLiteral("s%1@%2").arg(id).arg(t + 4647 - 2813));
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(t + 4647 - 1)), QString());
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(t + 4647)).count(QLatin1Char('C')), id);
    // A look made so late that the next reply may have begun proves nothing; the next
    // checkpoint holds the line.
    QCOMPARE(run(framer, QStringLiteral("r01020304@%1").arg(t + 4647 - 2813 + 9 * kByte)),
             QStringLiteral("T%1 R").arg(id));
}

void TestReplyFramer::transferRepliesAreProvedLessOften_data()
{
    QTest::addColumn<QString>("kinds"); // the kind of each request in turn, the last repeated
    QTest::addColumn<ReplyFramer::Micros>("latency");
    QTest::addColumn<int>("leastHeld");
    QTest::addColumn<ReplyFramer::Micros>("provedWithin"); // of the first reply

    // Polls are proved while fresh: 85 ms at the line's pace.
    QTest::newRow("polls") << "s" << ReplyFramer::Micros(0) << 8 << ReplyFramer::Micros(85000);
    // A RAM read's 64 words, proved once; within half a second behind a slow adapter.
    QTest::newRow("transfer") << "u" << ReplyFramer::Micros(0) << 64 << ReplyFramer::Micros(320000);
    QTest::newRow("transfer, 16 ms adapter")
        << "u" << ReplyFramer::Micros(16000) << 20 << ReplyFramer::Micros(500000);
    // A poll held behind a transfer's rows is still shown fresh.
    QTest::newRow("poll after rows")
        << "uuus" << ReplyFramer::Micros(0) << 8 << ReplyFramer::Micros(100000);
}

void TestReplyFramer::transferRepliesAreProvedLessOften()
{
    QFETCH(QString, kinds);
    QFETCH(ReplyFramer::Micros, latency);
    QFETCH(int, leastHeld);
    QFETCH(ReplyFramer::Micros, provedWithin);
    ReplyFramer framer = framerFor({true, latency, false});
    const ReplyFramer::Micros start = 500000;
    ReplyFramer::Micros t = start;
    int id = 0;
    // Each request goes out the moment the reply before it is in, as long as the line is free.
    while (framer.ready() && id < 100) {
        const QChar kind = kinds.at(std::min<qsizetype>(id, kinds.size() - 1));
        const ReplyFramer::Micros replied = t + 9 * kByte + latency;
        run(framer, QStringLiteral("%1%2@%3 r01020304@%4").arg(kind).arg(id++).arg(t).arg(replied));
        t = replied;
    }
    QVERIFY2(int(framer.held()) >= leastHeld, qPrintable(QString::number(framer.held())));
    QString events;
    while (!events.contains(QLatin1Char('C')) && framer.nextDeadline()) {
        t = *framer.nextDeadline();
        events = run(framer, QStringLiteral("a@%1").arg(t));
    }
    QCOMPARE(events.count(QLatin1Char('C')), id);
    const ReplyFramer::Micros age = t - (start + 9 * kByte + latency);
    QVERIFY2(age <= provedWithin, qPrintable(QString::number(age)));
}

void TestReplyFramer::pseudoTerminalPeerAnsweringAtOnceIsKept()
{
    // A board played by a program on a pseudo-terminal, whose host was slow for a while: its
    // replies looked as late as a line's. Answering at once again is no stray there; the reply
    // is kept and trusted after the fast peer's quiet.
    ReplyFramer framer = framerFor({false, -1, false});
    QCOMPARE(run(framer, QStringLiteral("s0@0 r01020304@10000 a@30000 s1@30000 r01020304@45000 "
                                        "a@65000 s2@65000 r01020304@80000 a@100000 s3@100000 "
                                        "r01020304@120000 a@142000")),
             QStringLiteral("T0 C0 R T1 C1 R T2 C2 R T3 C3 R"));
    QVERIFY(framer.onLine());
    QCOMPARE(run(framer, QStringLiteral("s4@142000 r05060708@142100 a@150000 a@160000")),
             QStringLiteral("T4 C4 R"));
    QVERIFY(!framer.onLine());
    // Paused by its host in the middle of a reply, longer than a line leaves a gap: kept; given
    // up only after the peer's pause.
    QCOMPARE(run(framer, QStringLiteral("s5@160000 r0506@160100 a@260000 r0708@300000 a@320000")),
             QStringLiteral("T5 C5 R"));
    QCOMPARE(run(framer, QStringLiteral("s6@320000 r0506@320100")), QString());
    // Part of a reply read at a look: the port wakes the program for a whole reply only, so a
    // look comes when a line would have carried the rest, not only once the peer's pause is over.
    QVERIFY(framer.nextDeadline() < 320100 + 20000);
    QCOMPARE(run(framer, QStringLiteral("a@%1").arg(*framer.nextDeadline())), QString());
    QCOMPARE(framer.nextDeadline(), std::optional<ReplyFramer::Micros>(820100));
    QCOMPARE(run(framer, QStringLiteral("a@820099 a@820100")), QStringLiteral("X(Unfinished) D6"));
    // Behind a real line the same bytes cannot be the reply.
    ReplyFramer line = framerFor({true, -1, false});
    run(line, QStringLiteral("s0@0 r01020304@10000 a@40000 s1@40000 r01020304@55000 a@80000 "
                             "s2@80000 r01020304@95000 a@120000 s3@120000 r01020304@135000 "
                             "a@160000"));
    QCOMPARE(run(line, QStringLiteral("s4@160000 r05060708@160100")),
             QStringLiteral("X(Early) D4"));
}

QTEST_APPLESS_MAIN(TestReplyFramer)
#include "tst_replyframer.moc"
