// The board session on the lines users have, in virtual time: the line's pace, USB adapters
// that hand bytes over every 1 to 16 ms (either way), a host that hears of bytes up to 50 ms
// late, boards that answer 2.5 to 10 s late and then answer their queue, strays, drops and
// truncations. For each line: no value shown that the chip does not hold, no command that
// writes back a value it did not read, no good reply thrown away on a clean line, and the
// poll rate the line allows. The framer's rules one by one are tst_replyframer's; the real
// serial path on a pseudo-terminal is tst_boardlink's and tst_linkintegrity's.

#include "chip/RegisterMap.h"
#include "common/VirtualLine.h"

#include <QSignalSpy>

#include <QMap>

#include <array>
#include <QTest>

using namespace kvx;
using namespace kvx::sim;
using namespace std::chrono_literals;

namespace {

constexpr double kWireExchanges = 19200.0 / 90.0; // 9 bytes of 10 bits each
constexpr Micros kPolling = 20s;

struct LineRow
{
    int rxMs = 0;   // the adapter's windows towards the host
    int txMs = 0;   // and towards the board
    int hostMs = 0; // the host hears of bytes up to this much later
    Faults faults;
    double minRate = 0;     // share of the wire the poll cycle reaches, on a clean line
    bool lineTiming = true; // false: the board answers at once, in bursts
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

// Motors standing at positions and target velocities that tell every register apart.
void setUpChip(ChipModel &chip)
{
    for (int m = 0; m < kMotorCount; ++m) {
        const auto x = std::uint32_t(11111 * (m + 1));
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::XTarget), x));
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::XActual), x));
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::VTarget), 100u * (m + 1)));
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::RefConfRampMode),
                                     0x0A0B00u + std::uint32_t(m)));
    }
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
}

void TestLines::pollingAndCommands_data()
{
    QTest::addColumn<LineRow>("row");
    QTest::newRow("line's pace") << line(0, 0, 0, 0.93);
    QTest::newRow("adapter, 1 ms") << line(1, 0, 0, 0.88);
    QTest::newRow("adapter, 4 ms") << line(4, 0, 0, 0.45);
    QTest::newRow("adapter, 16 ms") << line(16, 0, 0, 0.28);
    QTest::newRow("adapter, 1 ms both ways") << line(1, 1, 0, 0.8);
    QTest::newRow("busy host") << line(0, 0, 50);
    QTest::newRow("busy host, adapter, 1 ms") << line(1, 1, 50);
    QTest::newRow("busy host, adapter, 16 ms") << line(16, 16, 50);
    for (const int rx : {0, 1, 6, 16}) {
        const QByteArray at = rx ? QByteArray(" behind ") + QByteArray::number(rx) + " ms" : "";
        QTest::newRow("stray before" + at) << stray(23, StrayPosition::Before, rx);
        QTest::newRow("stray inside" + at) << stray(23, StrayPosition::Inside, rx);
        QTest::newRow("stray after" + at) << stray(23, StrayPosition::After, rx);
        QTest::newRow("late by 2.54 s" + at) << late(37, 2540ms, rx);
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
    LineRow truncated = line(0);
    truncated.faults.truncateEvery = 13; // the same row of the main window's cycle each time
    QTest::newRow("truncated replies") << truncated;
    LineRow lost = line(1, 1, 10);
    lost.faults.dropEvery = 29;
    lost.faults.truncateEvery = 31;
    QTest::newRow("drops and truncations") << lost;
    LineRow all = line(4, 4, 50);
    all.faults.strayEvery = 17;
    all.faults.strayAt = StrayPosition::Inside;
    all.faults.dropEvery = 41;
    all.faults.truncateEvery = 43;
    all.faults.lateEvery = 47;
    all.faults.lateBy = 2600ms;
    QTest::newRow("everything, busy host, 4 ms both ways") << all;
}

void TestLines::pollingAndCommands()
{
    QFETCH(LineRow, row);
    BoardSession session;
    BoardOptions board;
    board.variant = Variant::Pentar;
    board.lineTiming = row.lineTiming;
    board.faults = row.faults;
    VirtualLine line(session, board,
                     {std::chrono::milliseconds(row.rxMs), std::chrono::milliseconds(row.txMs),
                      std::chrono::milliseconds(row.hostMs), 7});
    ChipModel &chip = line.board().chip();
    setUpChip(chip);
    std::array<std::uint32_t, kMotorCount> refConf{};
    for (int m = 0; m < kMotorCount; ++m)
        refConf[std::size_t(m)] = chip.peek(motorReadAddress(m, motor::RefConfRampMode));
    // What the RAM holds once the writes below have reached it.
    ChipModel expected;
    QStringList wrong;
    int shown = 0;
    QMap<int, Reply> last; // the reply each row shows now
    // A cycle's sample follows that cycle's replies: two in a row would be a sample of none.
    int repliesSinceSample = 1;
    int emptySamples = 0;
    connect(&session.link(), &BoardLink::pollCycleStart, this, [&] {
        emptySamples += repliesSinceSample == 0 ? 1 : 0;
        repliesSinceSample = 0;
    });
    connect(&session.scheduler(), &PollScheduler::pollReplyShown, this,
            [&](int r, const Reply &reply) {
                ++shown;
                ++repliesSinceSample;
                last[r] = reply;
                const std::uint8_t address = session.table().row(r).address;
                const Reply truth{chip.status(), DataBytes::fromValue(chip.peek(address))};
                if (reply != truth && wrong.size() < 5)
                    wrong << QStringLiteral("%1 ms: row %2 showed %3 for %4")
                                 .arg(line.now().count() / 1000)
                                 .arg(r)
                                 .arg(QString::number(reply.data.value(), 16),
                                      QString::number(truth.data.value(), 16));
            });
    QSignalSpy taken(&session.link(), &BoardLink::replyTaken);

    line.open();
    QVERIFY(line.runUntil([&] { return session.link().PentarBoard(); }, 60s));
    const int takenBefore = int(taken.count());
    line.runFor(kPolling);
    const double rate = double(taken.count() - takenBefore) /
                        std::chrono::duration<double>(kPolling).count() / kWireExchanges;

    // Commands between the polls: the RAM written and read back, and each motor's REF_CONF
    // read and written back with a new ramp mode, as Go does.
    std::vector<Datagram> writes;
    for (int w = 0; w < kRamWordCount; ++w) {
        writes.push_back(Datagram::make(ramWordAddress(w, false), std::uint32_t(0x0307 * w)));
        expected.exchange(writes.back());
    }
    std::vector<Datagram> reads;
    for (int w = 0; w < kRamWordCount; ++w)
        reads.push_back(Datagram{ramWordAddress(w, true), {}});
    const bool clean = row.faults.strayEvery == 0 && row.faults.lateEvery == 0 &&
                       row.faults.dropEvery == 0 && row.faults.truncateEvery == 0;
    for (int round = 0; round < 3; ++round) {
        line.command([&] {
            const PollPause pause = session.link().PausePolling();
            const BoardLink::Batch written = session.link().directRequests(writes);
            const BoardLink::Batch read = session.link().directRequests(reads);
            // On a clean line every command goes through whole.
            if (clean && (written.failedAt >= 0 || read.failedAt >= 0 ||
                          int(read.replies.size()) != kRamWordCount))
                wrong << QStringLiteral("RAM transfer stopped in round %1").arg(round);
            for (std::size_t w = 0; w < read.replies.size(); ++w) {
                if (read.replies[w].data.value() != chip.peek(ramWordAddress(int(w), true)))
                    wrong << QStringLiteral("RAM word %1 read wrong").arg(w);
            }
            for (int w = 0; written.failedAt < 0 && w < kRamWordCount; ++w) {
                const std::uint8_t address = ramWordAddress(w, true);
                if (chip.peek(address) != expected.peek(address))
                    wrong << QStringLiteral("RAM word %1 not written").arg(w);
            }
            for (int m = 0; m < kMotorCount; ++m) {
                const std::uint8_t address = motorReadAddress(m, motor::RefConfRampMode);
                const std::optional<Reply> conf =
                    session.link().DirectRequest(Datagram{address, {}});
                if (!conf) {
                    if (clean)
                        wrong << QStringLiteral("REF_CONF of motor %1 unanswered").arg(m + 1);
                    continue;
                }
                session.link().DirectRequest(
                    Datagram{motorWriteAddress(m, motor::RefConfRampMode),
                             {conf->data.high, conf->data.mid, std::uint8_t(round)}});
                if (clean && (chip.peek(address) & 0xFFu) != std::uint32_t(round))
                    wrong << QStringLiteral("ramp mode of motor %1 not written").arg(m + 1);
                if ((chip.peek(address) & 0xFFFF00u) != (refConf[std::size_t(m)] & 0xFFFF00u))
                    wrong << QStringLiteral("REF_CONF of motor %1 written back wrong: %2")
                                 .arg(m + 1)
                                 .arg(QString::number(chip.peek(address), 16));
            }
        });
        // Polling goes on after each command and its faults.
        const int before = shown;
        if (!line.runUntil([&] { return shown >= before + 12; }, 30s))
            wrong << QStringLiteral("polling stopped after round %1").arg(round);
    }

    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1String("; "))));
    QVERIFY2(shown > 100, qPrintable(QString::number(shown)));
    QCOMPARE(emptySamples, 0);
    QVERIFY(session.link().BoardActive());
    for (int m = 0; m < kMotorCount; ++m) {
        const int r = PollTable::motorRow(m, motor::XActual);
        QCOMPARE(last.value(r).data.value(), std::uint32_t(11111 * (m + 1)));
    }
    const LinkCounters &c = session.link().counters();
    const quint64 thrownAway = c.strayBytes + c.lateBytes + c.untrustedReplies + c.unanswered;
    if (clean) {
        // A clean line: nothing is thrown away, however late the host hears of the bytes.
        QCOMPARE(thrownAway, quint64(0));
        QVERIFY2(rate >= row.minRate, qPrintable(QString::number(rate, 'f', 3)));
    } else {
        QVERIFY(thrownAway > 0); // the faults were met
        if (row.faults.lateEvery > 0)
            QVERIFY(c.unanswered >= 2);
    }
}

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
