// The board session on the lines users have, in virtual time: the line's pace, USB adapters
// that hand bytes over every 1 to 32 ms (either way, windows that vary and begin anywhere), a
// host that hears of bytes and wakes for its timers up to 50 ms late, boards that take up to
// 30 ms to answer, stall for 2.3 to 10 s and then answer their queue a turnaround apart (or
// lose what they were sent meanwhile), strays of any value, drops, truncations (one completed
// by a stray), damaged bytes and a line that babbles. Every register of every motor holds its
// own value and the motors move, so that a value one row off or one cycle old is wrong: every
// reply shown must be the board's answer to that very request, every value a command writes
// back the one the board held. On clean lines also: nothing thrown away, the poll rate, and
// how fresh the shown values are. The framer's rules one by one are tst_replyframer's; the
// link's operations tst_boardlink's.

#include "chip/RegisterMap.h"
#include "common/LineTruth.h"

#include <QMap>
#include <QSignalSpy>
#include <QTest>

#include <array>

using namespace kvx;
using namespace kvx::sim;
using namespace std::chrono_literals;

namespace {

constexpr double kWireExchanges = 19200.0 / 90.0; // 9 bytes of 10 bits each
constexpr Micros kPolling = 20s;

struct LineRow
{
    int rxMs = 0;     // the adapter's windows towards the host
    int txMs = 0;     // and towards the board
    int hostMs = 0;   // the host hears of bytes, and wakes for its timers, up to this much later
    int jitterUs = 0; // the adapter's windows vary by up to this much
    int turnaroundUs = 0; // the board's time to answer
    int turnJitterUs = 0; // and up to this much more
    int stallMs = 0;      // the host stands still this long three times a second
    Faults faults;
    double minRate = 0;        // share of the wire the poll cycle reaches, on a clean line
    bool lineTiming = true;    // false: the board answers at once, in bursts
    int bank = -1;             // the register editor shows this motor's page: 23 rows a cycle
    bool readsSurvive = false; // every read of a command goes through despite the faults
};

LineRow line(int rx, int tx = 0, int host = 0, double minRate = 0)
{
    LineRow r;
    r.rxMs = rx;
    r.txMs = tx;
    r.hostMs = host;
    r.minRate = minRate;
    return r;
}

LineRow stray(int every, StrayPosition at, int rx, int host = 0)
{
    LineRow r = line(rx, rx, host);
    r.faults.strayEvery = every;
    r.faults.strayAt = at;
    return r;
}

LineRow late(int every, std::chrono::milliseconds by, int rx, int host = 0)
{
    LineRow r = line(rx, rx, host);
    r.faults.lateEvery = every;
    r.faults.lateBy = by;
    return r;
}

LineRow slow(int turnaroundUs, int jitterUs, int rx, double minRate = 0)
{
    LineRow r = line(rx, 0, 0, minRate);
    r.turnaroundUs = turnaroundUs;
    r.turnJitterUs = jitterUs;
    return r;
}

bool clean(const Faults &f)
{
    return f.strayEvery == 0 && f.lateEvery == 0 && f.dropEvery == 0 && f.truncateEvery == 0 &&
           f.corruptEvery == 0 && !f.babble;
}

} // namespace

Q_DECLARE_METATYPE(LineRow)

class TestLines : public QObject
{
    Q_OBJECT

private slots:
    void pollingAndCommands_data();
    void pollingAndCommands();
    void quickDetection_data();
    void quickDetection();
};

void TestLines::quickDetection_data()
{
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<int>("rxMs");
    QTest::addColumn<bool>("quick");
    QTest::addColumn<int>("activeBeforeMs");
    QTest::addColumn<int>("activeAfterMs");
    // Ordinarily the watchdog ends a plain board's detection.
    QTest::newRow("plain") << Variant::Plain << 0 << false << 2600 << 2000;
    QTest::newRow("plain, quick") << Variant::Plain << 0 << true << 100 << 0;
    QTest::newRow("plain, quick, 16 ms") << Variant::Plain << 16 << true << 150 << 0;
    // The identification split across an adapter's batches is still read whole.
    QTest::newRow("korve, quick, 16 ms") << Variant::Korve << 16 << true << 300 << 0;
    QTest::newRow("pentar, quick, 1 ms") << Variant::Pentar << 1 << true << 150 << 0;
}

void TestLines::quickDetection()
{
    QFETCH(Variant, variant);
    QFETCH(int, rxMs);
    QFETCH(bool, quick);
    QFETCH(int, activeBeforeMs);
    QFETCH(int, activeAfterMs);
    BoardSession session;
    session.link().setQuickDetection(quick);
    BoardOptions board;
    board.variant = variant;
    VirtualLine line(session, board, {std::chrono::milliseconds(rxMs), 0ms, 0ms, 7});
    line.open();
    QVERIFY(line.runUntil([&] { return session.link().BoardActive(); }, 5s));
    QVERIFY2(line.now() < std::chrono::milliseconds(activeBeforeMs) &&
                 line.now() >= std::chrono::milliseconds(activeAfterMs),
             qPrintable(QString::number(line.now().count() / 1000)));
    const BoardVariant expected = variant == Variant::Korve    ? BoardVariant::Korve
                                  : variant == Variant::Pentar ? BoardVariant::Pentar
                                                               : BoardVariant::Plain;
    QCOMPARE(session.link().variant(), expected);
    QCOMPARE(session.link().counters().unanswered, quint64(0));
    // Polling goes on after the KORVE start-up, in its 6-byte frames.
    const quint64 before = session.link().counters().unanswered;
    QSignalSpy polls(&session.scheduler(), &PollScheduler::pollReplyShown);
    line.runFor(500ms);
    QVERIFY(polls.count() > 20);
    QCOMPARE(session.link().counters().unanswered, before);
}

void TestLines::pollingAndCommands_data()
{
    QTest::addColumn<LineRow>("row");
    QTest::newRow("line's pace") << line(0, 0, 0, 0.93);
    QTest::newRow("adapter, 1 ms") << line(1, 0, 0, 0.88);
    QTest::newRow("adapter, 4 ms") << line(4, 0, 0, 0.45);
    QTest::newRow("adapter, 16 ms") << line(16, 0, 0, 0.27);
    QTest::newRow("adapter, 1 ms both ways") << line(1, 1, 0, 0.8);
    QTest::newRow("busy host") << line(0, 0, 50);
    QTest::newRow("busy host, adapter, 1 ms") << line(1, 1, 50);
    QTest::newRow("busy host, adapter, 16 ms") << line(16, 16, 50);
    // Each stall makes a reply late and the quiets after it long: proving every reply alone
    // meanwhile left the line idle most of the time (0.35 of the wire).
    LineRow stalls = line(0, 0, 0, 0.5);
    stalls.stallMs = 40;
    QTest::newRow("a host that stands still 40 ms three times a second") << stalls;
    LineRow window = line(32, 0, 0, 0.12);
    QTest::newRow("adapter, 32 ms") << window;
    window.jitterUs = 7000;
    window.txMs = 32;
    window.minRate = 0;
    QTest::newRow("adapter, 32 ms, varying, both ways") << window;
    LineRow varying = line(16, 16, 20);
    varying.jitterUs = 5000;
    QTest::newRow("adapter, 16 ms, varying, busy host") << varying;
    // Boards that take their time, and one that varies it.
    QTest::newRow("turnaround 6 ms") << slow(6000, 0, 0, 0.40);
    QTest::newRow("turnaround 6 ms, adapter, 1 ms") << slow(6000, 0, 1, 0.38);
    QTest::newRow("turnaround 1 to 30 ms") << slow(1000, 29000, 0);
    QTest::newRow("turnaround 20 to 30 ms, adapter, 32 ms") << slow(20000, 10000, 32);
    for (const int rx : {0, 1, 6, 16}) {
        const QByteArray at = rx ? QByteArray(" behind ") + QByteArray::number(rx) + " ms" : "";
        QTest::newRow("stray before" + at) << stray(23, StrayPosition::Before, rx);
        QTest::newRow("stray inside" + at) << stray(23, StrayPosition::Inside, rx);
        QTest::newRow("stray after" + at) << stray(23, StrayPosition::After, rx);
        QTest::newRow("late by 2.54 s" + at) << late(37, 2540ms, rx);
        // The board that answers a turnaround after a request, and its queue behind a late
        // reply each a turnaround after the one before.
        LineRow queue = late(37, 2540ms, rx);
        queue.turnaroundUs = 6000;
        QTest::newRow("turnaround 6 ms, late by 2.54 s" + at) << queue;
        queue.faults.lateLoses = true;
        QTest::newRow("turnaround 6 ms, late by 2.54 s, losing requests" + at) << queue;
    }
    QTest::newRow("stray inside, busy host") << stray(23, StrayPosition::Inside, 0, 20);
    QTest::newRow("stray before, busy host, 1 ms") << stray(23, StrayPosition::Before, 1, 50);
    QTest::newRow("late by 3 s, busy host") << late(37, 3000ms, 0, 50);
    // Inside the quiet after the watchdog, and after it.
    QTest::newRow("late by 2.3 s") << late(40, 2300ms, 0);
    QTest::newRow("late by 2.7 s") << late(40, 2700ms, 0);
    LineRow bursts = stray(11, StrayPosition::After, 0);
    bursts.lineTiming = false;
    QTest::newRow("stray after, in bursts") << bursts;
    QTest::newRow("late by 10 s") << late(61, 10000ms, 0);
    QTest::newRow("late by 10 s behind 16 ms") << late(61, 10000ms, 16, 20);
    LineRow lostWhileLate = late(61, 10000ms, 4, 10);
    lostWhileLate.turnaroundUs = 3000;
    lostWhileLate.turnJitterUs = 4000;
    lostWhileLate.faults.lateLoses = true;
    QTest::newRow("late by 10 s, losing requests, turnaround 3 to 7 ms, 4 ms") << lostWhileLate;
    // Strays of any value: alone on a line that is otherwise quiet (after a reply, when the
    // next request's reply is yet to come, or inside the quiet that proves the replies).
    for (const int delayUs : {900, 1500, 5000}) {
        for (const int rx : {0, 1, 16}) {
            LineRow r = stray(19, StrayPosition::Later, rx);
            r.faults.strayDelay = std::chrono::microseconds(delayUs);
            r.faults.strayValue = -1;
            QTest::newRow(QByteArray("stray ") + QByteArray::number(delayUs) + " us after" +
                          (rx ? " behind " + QByteArray::number(rx) + " ms" : ""))
                << r;
        }
    }
    LineRow truncated = line(0);
    truncated.faults.truncateEvery = 13; // the same row of the main window's cycle each time
    QTest::newRow("truncated replies") << truncated;
    LineRow completed = line(0);
    completed.faults.truncateEvery = 13;
    completed.faults.truncatedStrayAfter = 9800us;
    completed.faults.strayValue = -1;
    QTest::newRow("truncated replies, a stray 9.8 ms after") << completed;
    // Behind an adapter a stray that comes with its next window completes the truncated reply
    // as the reply's own last byte would, had the window ended inside it: no rule of time can
    // tell them apart. One that comes a window later is no part of it.
    completed.rxMs = 16;
    completed.faults.truncatedStrayAfter = 40000us;
    QTest::newRow("truncated replies, a stray 40 ms after, 16 ms") << completed;
    LineRow damaged = line(1, 1);
    damaged.faults.corruptEvery = 17;
    QTest::newRow("damaged bytes, 1 ms") << damaged;
    LineRow lost = line(1, 1, 10);
    lost.faults.dropEvery = 29;
    lost.faults.truncateEvery = 31;
    QTest::newRow("drops and truncations") << lost;
    // The black-box tester's line: a stray after every 7th reply. Commands still go through.
    LineRow seventh = stray(7, StrayPosition::After, 0);
    seventh.readsSurvive = true;
    QTest::newRow("stray after every 7th reply") << seventh;
    seventh.rxMs = 1;
    QTest::newRow("stray after every 7th reply, 1 ms") << seventh;
    LineRow editor = stray(17, StrayPosition::Inside, 4, 10);
    editor.bank = 1;
    editor.turnaroundUs = 2000;
    QTest::newRow("the editor's motor 2 page, stray inside, 4 ms") << editor;
    LineRow all = line(4, 4, 50);
    all.faults.strayEvery = 17;
    all.faults.strayAt = StrayPosition::Inside;
    all.faults.dropEvery = 41;
    all.faults.truncateEvery = 43;
    all.faults.lateEvery = 47;
    all.faults.lateBy = 2600ms;
    QTest::newRow("everything, busy host, 4 ms both ways") << all;
    all.turnaroundUs = 5000;
    all.turnJitterUs = 10000;
    all.jitterUs = 1500;
    all.faults.corruptEvery = 53;
    all.faults.lateLoses = true;
    QTest::newRow("everything, slow board, varying adapter") << all;
    all.rxMs = all.txMs = 16;
    all.hostMs = 20;
    all.turnaroundUs = 0;
    all.turnJitterUs = 30000;
    all.jitterUs = 2400;
    all.faults.lateBy = 2540ms;
    QTest::newRow("everything, board 0 to 30 ms, busy host, 16 ms") << all;
}

void TestLines::pollingAndCommands()
{
    QFETCH(LineRow, row);
    BoardSession session;
    BoardOptions board;
    board.variant = Variant::Pentar;
    board.lineTiming = row.lineTiming;
    board.faults = row.faults;
    board.turnaround = std::chrono::microseconds(row.turnaroundUs);
    board.turnaroundJitter = std::chrono::microseconds(row.turnJitterUs);
    SimulatedTransport::Line adapter{
        std::chrono::milliseconds(row.rxMs),     std::chrono::milliseconds(row.txMs),
        std::chrono::milliseconds(row.hostMs),   7,
        std::chrono::microseconds(row.jitterUs), row.stallMs > 0 ? 333ms : 0ms,
        std::chrono::milliseconds(row.stallMs)};
    VirtualLine line(session, board, adapter);
    if (row.bank >= 0)
        session.scheduler().setEditorView(true, row.bank);
    ChipModel &chip = line.board().chip();
    LineTruth::distinctValues(chip);

    LineTruth truth(session, line);
    auto fail = [&truth](const QString &what) { truth.fail(what); };
    QSignalSpy taken(&session.link(), &BoardLink::replyTaken);

    line.open();
    QVERIFY(line.runUntil([&] { return session.link().PentarBoard(); }, 60s));
    const int takenBefore = int(taken.count());
    truth.restart();
    line.runFor(kPolling);
    const double rate = double(taken.count() - takenBefore) /
                        std::chrono::duration<double>(kPolling).count() / kWireExchanges;
    const int xActual1 = PollTable::motorRow(0, motor::XActual);
    const int polledX = truth.polledOf(xActual1);
    const int shownX = truth.shownOf(xActual1);
    const std::int64_t stalestPolling = truth.stalest();

    // Commands between the polls: the RAM written and read back, and each motor's REF_CONF
    // read and written back with a new ramp mode, as Go does.
    std::vector<Datagram> writes;
    ChipModel expected;
    for (int w = 0; w < kRamWordCount; ++w) {
        writes.push_back(Datagram::make(ramWordAddress(w, false), std::uint32_t(0x0307 * w)));
        expected.exchange(writes.back());
    }
    std::vector<Datagram> reads;
    for (int w = 0; w < kRamWordCount; ++w)
        reads.push_back(Datagram{ramWordAddress(w, true), {}});
    const bool isClean = clean(row.faults);
    // A read is asked again when its reply was lost; a write is not, and a transfer stops at
    // the first write whose reply was lost.
    const bool whole = isClean;
    const bool readsWhole = isClean || row.readsSurvive;
    for (int round = 0; round < 3; ++round) {
        line.command([&] {
            const PollPause pause = session.link().PausePolling();
            const BoardLink::Batch written = session.link().directRequests(writes);
            const BoardLink::Batch read = session.link().directRequests(reads);
            // On a clean line every command goes through; with a stray now and then, every read.
            if ((whole && written.failedAt >= 0) ||
                (readsWhole && (read.failedAt >= 0 || int(read.replies.size()) != kRamWordCount)))
                fail(QStringLiteral("RAM transfer stopped in round %1 at %2 / %3")
                         .arg(round)
                         .arg(written.failedAt)
                         .arg(read.failedAt));
            for (std::size_t w = 0; w < read.replies.size(); ++w) {
                if (read.replies[w].data.value() != chip.peek(ramWordAddress(int(w), true)))
                    fail(QStringLiteral("RAM word %1 read wrong").arg(w));
            }
            for (int w = 0; written.failedAt < 0 && w < kRamWordCount; ++w) {
                const std::uint8_t address = ramWordAddress(w, true);
                if (chip.peek(address) != expected.peek(address))
                    fail(QStringLiteral("RAM word %1 not written").arg(w));
            }
            for (int m = 0; m < kMotorCount; ++m) {
                const std::uint8_t address = motorReadAddress(m, motor::RefConfRampMode);
                const std::uint32_t held = chip.peek(address);
                const std::optional<Reply> conf =
                    session.link().DirectRequest(Datagram{address, {}});
                if (!conf) {
                    if (readsWhole)
                        fail(QStringLiteral("REF_CONF of motor %1 unanswered").arg(m + 1));
                    continue;
                }
                if (conf->data.value() != held)
                    fail(QStringLiteral("REF_CONF of motor %1 read as %2, held %3")
                             .arg(m + 1)
                             .arg(QString::number(conf->data.value(), 16),
                                  QString::number(held, 16)));
                session.link().DirectRequest(
                    Datagram{motorWriteAddress(m, motor::RefConfRampMode),
                             {conf->data.high, conf->data.mid, std::uint8_t(round)}});
                if (whole && (chip.peek(address) & 0xFFu) != std::uint32_t(round))
                    fail(QStringLiteral("ramp mode of motor %1 not written").arg(m + 1));
                if ((chip.peek(address) & 0xFFFF00u) != (held & 0xFFFF00u))
                    fail(QStringLiteral("REF_CONF of motor %1 written back wrong: %2")
                             .arg(m + 1)
                             .arg(QString::number(chip.peek(address), 16)));
            }
        });
        // Polling goes on after each command and its faults.
        const int before = truth.shown();
        if (!line.runUntil([&] { return truth.shown() >= before + 12; }, 30s))
            fail(QStringLiteral("polling stopped after round %1").arg(round));
    }

    QVERIFY2(truth.wrong().isEmpty(), qPrintable(truth.wrong().join(QLatin1String("; "))));
    QVERIFY2(truth.shown() > 100, qPrintable(QString::number(truth.shown())));
    QCOMPARE(truth.emptySamples(), 0);
    QVERIFY(session.link().BoardActive());
    // The last value each motor's position shows is the board's latest answer to it.
    for (int m = 0; m < kMotorCount; ++m) {
        const int r = PollTable::motorRow(m, motor::XActual);
        QCOMPARE(truth.lastShown(r), truth.boardsAnswer(r));
    }
    const LinkCounters &c = session.link().counters();
    const quint64 thrownAway = c.strayBytes + c.lateBytes + c.untrustedReplies + c.unanswered;
    if (isClean) {
        // A clean line: nothing is thrown away, however late the host hears of the bytes.
        QCOMPARE(thrownAway, quint64(0));
        QVERIFY2(rate >= row.minRate, qPrintable(QString::number(rate, 'f', 3)));
        // Each value fresh: shown within 100 ms of its reply at the line's pace and behind
        // 1 ms windows, 250 ms behind 16 ms ones, and every time its row is polled, nearly;
        // from a board that answers at once (a slower one is held longer: each proof costs
        // more of the line, and so is one from a host that stands still now and then).
        if (row.hostMs == 0 && row.turnaroundUs == 0) {
            const bool quick = row.rxMs <= 1 && row.stallMs == 0;
            const std::int64_t bound = quick ? 100'000 : row.rxMs <= 16 ? 250'000 : 500'000;
            QVERIFY2(stalestPolling <= bound, qPrintable(QString::number(stalestPolling)));
            QVERIFY2(shownX >= polledX * 9 / 10,
                     qPrintable(QStringLiteral("%1 of %2").arg(shownX).arg(polledX)));
        }
    } else {
        QVERIFY(thrownAway > 0); // the faults were met
        const auto met = [&truth](const char *note) { return truth.met(note); };
        if (row.faults.strayEvery > 0)
            QVERIFY(met("stray byte"));
        if (row.faults.corruptEvery > 0)
            QVERIFY(met("damaged byte") && c.lineErrors > 0);
        if (row.faults.truncateEvery > 0)
            QVERIFY(met("truncated"));
        if (row.faults.lateEvery > 0) {
            // The late reply came after its request had been given up and was not taken.
            QVERIFY(met("late"));
            QVERIFY(c.unanswered >= 2);
            QVERIFY(c.lateBytes + c.strayBytes > 0);
        }
        if (row.faults.lateLoses)
            QVERIFY(met("lost while stalled"));
    }
}

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
