// The graphic display's data export and a recording of the poll cycle (kvx310 record's) fed by
// a board session on simulated lines in virtual time: on the line's pace, behind a USB adapter
// and on a busy host, both of which hand replies over in bunches, each exported cycle and each
// recorded line keeps the time its first request went out (no two alike, the mean interval the
// poll cycle's period), the first row is a polled cycle, after opening as after "Clear display",
// a recorded line names the status bits set and goes out as it ends when written a line at a
// time, and a recording with an end keeps the cycles begun before it. The recorder's rules are
// tst_tracerecorder's, the window's alone tst_formgraphics's, what kvx310 makes of a recording
// tst_kvx310's.

#include "chip/RegisterMap.h"
#include "common/VirtualLine.h"
#include "graphics/Ev310Graphics.h"
#include "records/CsvRecorder.h"
#include "records/TraceFiles.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

using namespace kvx;
using namespace kvx::sim;
using namespace std::chrono_literals;

namespace {

struct Rows
{
    QList<double> times;
    QList<qint64> positions; // X_ACTUAL_1
};

Rows exported(const TraceRecorder &recorder)
{
    Rows rows;
    const QList<QByteArray> lines = traceCsvAll(recorder).split('\n');
    for (const QByteArray &line : lines.mid(1, lines.size() - 2)) {
        const QList<QByteArray> fields = line.split(',');
        rows.times << fields.value(0).toDouble();
        rows.positions << fields.value(1).toLongLong();
    }
    return rows;
}

// Why `times` (seconds) are not those of the cycles whose first requests went out
// at `sent` (microseconds): two alike, or a mean interval more than 2 % off the poll cycle's
// period. Empty when they are.
QString timesOff(const QList<double> &times, const QList<qint64> &sent)
{
    double shortest = 1e9;
    for (qsizetype i = 1; i < times.size(); ++i)
        shortest = std::min(shortest, times[i] - times[i - 1]);
    if (!(shortest > 0))
        return QStringLiteral("shortest interval %1").arg(shortest);
    const double period = double(sent.last() - sent.first()) / 1e6 / double(sent.size() - 1);
    const double mean = (times.last() - times.first()) / double(times.size() - 1);
    if (std::abs(mean - period) > 0.02 * period)
        return QStringLiteral("mean %1 s, period %2 s").arg(mean).arg(period);
    return {};
}

} // namespace

class TestTraceExport : public QObject
{
    Q_OBJECT

private slots:
    void eachCycleKeepsTheTimeOfItsFirstRequest_data();
    void eachCycleKeepsTheTimeOfItsFirstRequest();
};

void TestTraceExport::eachCycleKeepsTheTimeOfItsFirstRequest_data()
{
    QTest::addColumn<int>("adapterMs"); // the adapter hands replies over every so often
    QTest::addColumn<int>("hostMs");    // the host hears of them up to this much later
    QTest::addColumn<bool>("eachLine"); // the recording written out a line at a time
    QTest::newRow("the line's pace") << 0 << 0 << true;
    QTest::newRow("behind a 16 ms adapter") << 16 << 0 << false;
    QTest::newRow("a busy host") << 0 << 40 << true;
}

void TestTraceExport::eachCycleKeepsTheTimeOfItsFirstRequest()
{
    QFETCH(int, adapterMs);
    QFETCH(int, hostMs);
    QFETCH(bool, eachLine);
    BoardSession session;
    BoardOptions board;
    board.variant = Variant::Pentar;
    board.lineTiming = true;
    VirtualLine line(session, board,
                     {std::chrono::milliseconds(adapterMs), std::chrono::milliseconds(adapterMs),
                      std::chrono::milliseconds(hostMs), 11});
    // Motor 1 far out, running backwards in VELOCITY mode.
    ChipModel &chip = line.board().chip();
    for (const Datagram &d :
         {Datagram::make(0x02, 7982209), Datagram::make(0x14, 2), Datagram::make(0x0C, 100),
          Datagram::make(0x06, 250), Datagram::make(0x08, 0xF06)})
        chip.exchange(d);
    TFormGraphics form(session);
    form.setClock([&line] { return std::uint32_t(line.now().count() / 1000); });
    // When each cycle's first request (X_ACTUAL of motor 1) went out.
    const Datagram first{motorReadAddress(0, motor::XActual), {}};
    QList<qint64> sent;
    QList<qint64> allSent;
    connect(&session.link(), &BoardLink::traffic, this, [&](const LinkTraffic &e) {
        if (e.sent && e.kind == TrafficKind::Poll && e.bytes == session.link().frame(first)) {
            sent << e.micros;
            allSent << e.micros;
        }
    });

    line.open();
    QVERIFY(line.runUntil([&] { return session.link().PentarBoard(); }, 60s));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    CsvRecorder recording(session, out, *CsvRecorder::columns({"X_ACTUAL"}, 0, nullptr));
    recording.setFlushEachLine(eachLine);
    // Complete with the cycles begun within 30 s, told once the first past it is in.
    recording.setEnd(30);
    QSignalSpy complete(&recording, &CsvOutput::complete);
    QVERIFY(recording.start());
    const std::int64_t recordingFrom = session.link().fineNow();
    for (const bool clear : {false, true}) {
        if (clear) {
            line.runFor(7ms); // within a cycle
            form.BtnClearClick();
        }
        sent.clear();
        line.runFor(20s);
        const Rows rows = exported(form.Recorder());
        QVERIFY2(rows.times.size() > 40, qPrintable(QString::number(rows.times.size())));
        // The first row is a cycle polled whole: the motor where it stands, not 0.
        QVERIFY2(rows.positions.first() > 7000000,
                 qPrintable(QString::number(rows.positions.first())));
        QCOMPARE(rows.times.first(), 0.0);
        const QString off = timesOff(rows.times, sent);
        QVERIFY2(off.isEmpty(), qPrintable(off));
    }

    // A line at a time: each is out without a flush; else they wait for one.
    QCOMPARE(quint64(out.data().count('\n')), eachLine ? recording.linesTaken() : 1);
    QVERIFY(recording.flush());
    const QList<QByteArray> lines = out.data().trimmed().split('\n');
    QCOMPARE(lines.first(), QByteArray("time_s,status,X_ACTUAL_1,status_bits,clock"));
    QList<double> times;
    for (const QByteArray &l : lines.mid(1)) {
        times << l.split(',').value(0).toDouble();
        QCOMPARE(l.split(',').value(3), QByteArray("X_REACHED_2|X_REACHED_3"));
    }
    while (allSent.first() < recordingFrom)
        allSent.removeFirst();
    QVERIFY(std::abs(times.first() - double(allSent.first() - recordingFrom) / 1e6) < 1e-4);
    const QString off = timesOff(times, allSent);
    QVERIFY2(off.isEmpty(), qPrintable(off));
    QCOMPARE(complete.size(), 1);
    QVERIFY2(times.last() < 30 && times.last() > 29.5, qPrintable(QString::number(times.last())));
}

QTEST_MAIN(TestTraceExport)
#include "tst_traceexport.moc"
