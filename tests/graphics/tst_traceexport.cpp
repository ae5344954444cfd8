// The graphic display's data export fed by a board session on simulated lines in virtual time:
// on the line's pace, behind a USB adapter and on a busy host, both of which hand replies over
// in bunches, each exported cycle keeps the time its first request went out (no two alike, the
// mean interval the poll cycle's period), and the first row is a polled cycle, after opening as
// after "Clear display". The recorder's rules are tst_tracerecorder's, the window's alone
// tst_formgraphics's.

#include "chip/RegisterMap.h"
#include "common/VirtualLine.h"
#include "graphics/Ev310Graphics.h"
#include "records/TraceFiles.h"

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
    QTest::newRow("the line's pace") << 0 << 0;
    QTest::newRow("behind a 16 ms adapter") << 16 << 0;
    QTest::newRow("a busy host") << 0 << 40;
}

void TestTraceExport::eachCycleKeepsTheTimeOfItsFirstRequest()
{
    QFETCH(int, adapterMs);
    QFETCH(int, hostMs);
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
    connect(&session.link(), &BoardLink::traffic, this, [&](const LinkTraffic &e) {
        if (e.sent && e.kind == TrafficKind::Poll && e.bytes == session.link().frame(first))
            sent << e.micros;
    });

    line.open();
    QVERIFY(line.runUntil([&] { return session.link().PentarBoard(); }, 60s));
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
        double shortest = 1e9;
        for (qsizetype i = 1; i < rows.times.size(); ++i)
            shortest = std::min(shortest, rows.times[i] - rows.times[i - 1]);
        QVERIFY2(shortest > 0, qPrintable(QString::number(shortest)));
        // The poll cycle's period, from the requests as they went out.
        const double period = double(sent.last() - sent.first()) / 1e6 / double(sent.size() - 1);
        const double mean = rows.times.last() / double(rows.times.size() - 1);
        QVERIFY2(std::abs(mean - period) <= 0.02 * period,
                 qPrintable(QStringLiteral("mean %1 s, period %2 s").arg(mean).arg(period)));
    }
}

QTEST_MAIN(TestTraceExport)
#include "tst_traceexport.moc"
