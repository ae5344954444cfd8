// lines [seconds per case]: the board link on the lines users have, in virtual time (the
// simulated line and board, the session as the program assembles it, no window), one table.
// For each case: exchanges a second, their share of the wire (213.3 exchanges a second at
// 19200 bit/s) and of what a client with no checks at all reaches on the same line (it sends
// the next request the moment four bytes are in), and of what the board allows (the wire's
// time plus its turnaround per exchange); how old a reply is when its field shows it (largest
// and 99th percentile, milliseconds from the reply's taking); how often motor 1's position
// field changes against how often it was polled; the values shown that were not the board's
// answer to their very request; and the bytes and replies thrown away (on a clean line, a good
// reply rejected). The lines: the line's pace and adapters of 1 to 32 ms, boards that answer
// after 1 or 6 ms or 0 to 30 ms, a host that hears of bytes up to 50 ms late, a host that stands
// still for 40 ms three times a second, and every fault at once. Then 64-word RAM reads back to
// back on the clean lines, as shares of the wire and of what the board allows, from a transfer's
// first request to its last reply trusted.

#include "chip/RegisterMap.h"
#include "common/LineTruth.h"
#include "records/RamTable.h"

#include <QCoreApplication>

#include <cstdio>

using namespace kvx;
using namespace kvx::sim;
using namespace std::chrono_literals;

namespace {

constexpr double kByteSeconds = 10.0 / 19200.0;
constexpr double kWireExchanges = 1.0 / (9 * kByteSeconds);

struct Case
{
    const char *name = "";
    int rxMs = 0;
    int hostMs = 0;
    int turnaroundUs = 0;
    int turnJitterUs = 0;
    int stallMs = 0; // the host stands still this long three times a second
    Faults faults;
};

Case clean(const char *name, int rxMs, int hostMs = 0, int turnaroundUs = 0, int jitterUs = 0)
{
    Case c;
    c.name = name;
    c.rxMs = rxMs;
    c.hostMs = hostMs;
    c.turnaroundUs = turnaroundUs;
    c.turnJitterUs = jitterUs;
    return c;
}

Case stalled(const char *name, int rxMs, int stallMs)
{
    Case c = clean(name, rxMs);
    c.stallMs = stallMs;
    return c;
}

Case faulty(const char *name, int rxMs, int hostMs, int turnaroundUs, int jitterUs)
{
    Case c = clean(name, rxMs, hostMs, turnaroundUs, jitterUs);
    c.faults.strayEvery = 17;
    c.faults.strayAt = StrayPosition::Inside;
    c.faults.dropEvery = 41;
    c.faults.truncateEvery = 43;
    c.faults.lateEvery = 47;
    c.faults.lateBy = 2540ms;
    c.faults.lateLoses = true;
    c.faults.corruptEvery = 53;
    return c;
}

// The client with no checks: the next request the moment a reply's four bytes are in.
double noCheckRate(BoardOptions board, const SimulatedTransport::Line &adapter, Micros span)
{
    board.variant = Variant::Plain;
    board.faults = {};
    SimulatedTransport line(board, adapter);
    const QByteArray request =
        QByteArray("#") + char(motorReadAddress(0, motor::XActual)) + QByteArray(3, '\0');
    int have = 0;
    long long replies = 0;
    QObject::connect(&line, &ByteTransport::bytesReady, [&](int) {
        char bytes[64];
        for (int n; (n = line.ReadBytes(bytes, sizeof bytes)) > 0;)
            have += n;
        for (; have >= 4; have -= 4, ++replies)
            line.WriteBytes(request.constData(), int(request.size()));
    });
    line.WriteBytes(request.constData(), int(request.size()));
    while (line.now() < span) {
        const std::optional<Micros> at = line.nextEvent();
        if (!at)
            break;
        line.advanceTo(std::min(*at, span));
    }
    return double(replies) / std::chrono::duration<double>(span).count();
}

// Words a second that back-to-back 64-word RAM reads reach over `span` of virtual time; none
// when one failed.
double ramReadRate(const Case &c, Micros span)
{
    BoardSession session;
    BoardOptions board;
    board.variant = Variant::Pentar;
    board.lineTiming = true;
    board.turnaround = std::chrono::microseconds(c.turnaroundUs);
    const SimulatedTransport::Line adapter{std::chrono::milliseconds(c.rxMs), 0ms, 0ms, 7,
                                           std::chrono::microseconds(c.rxMs * 150)};
    VirtualLine line(session, board, adapter);
    line.open();
    if (!line.runUntil([&] { return session.link().PentarBoard(); }, 60s))
        return 0;
    line.runFor(1s); // the line's figures learned, as by a user who opened the port a while ago
    double words = 0;
    Micros busy{0};
    line.command([&] {
        const PollPause pause = session.link().PausePolling();
        while (busy < span) {
            const Micros from = line.now();
            if (!readRam(session.link()))
                return;
            busy += line.now() - from;
            words += kRamWordCount;
        }
    });
    return busy < span ? 0 : words / std::chrono::duration<double>(busy).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds =
        argc > 1 ? std::max(5.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 60.0;
    const auto span = Micros(std::int64_t(seconds * 1e6));
    const std::vector<Case> cases{
        clean("pace", 0),
        clean("@1", 1),
        clean("@4", 4),
        clean("@16", 16),
        clean("@32", 32),
        clean("pace t1", 0, 0, 1000),
        clean("pace t6", 0, 0, 6000),
        clean("@1 t1", 1, 0, 1000),
        clean("@1 t6", 1, 0, 6000),
        clean("@16 t6", 16, 0, 6000),
        clean("pace t0-30", 0, 0, 0, 30000),
        clean("@32 t0-30", 32, 0, 0, 30000),
        clean("pace host50", 0, 50),
        clean("@1 host50", 1, 50),
        clean("@16 host50", 16, 50),
        stalled("pace stalls", 0, 40),
        stalled("@1 stalls", 1, 40),
        stalled("@16 stalls", 16, 40),
        faulty("pace faults", 0, 0, 6000, 0),
        faulty("@1 faults", 1, 10, 3000, 4000),
        faulty("@16 faults", 16, 20, 0, 30000),
        faulty("@32 faults", 32, 50, 0, 30000),
    };
    std::printf("%-12s %8s %6s %8s %9s %8s %8s %8s %7s %6s %7s\n", "case", "exch/s", "wire",
                "nocheck", "/nocheck", "allowed", "age max", "age p99", "field", "wrong", "thrown");
    bool failed = false;
    for (const Case &c : cases) {
        BoardSession session;
        BoardOptions board;
        board.variant = Variant::Pentar;
        board.lineTiming = true;
        board.turnaround = std::chrono::microseconds(c.turnaroundUs);
        board.turnaroundJitter = std::chrono::microseconds(c.turnJitterUs);
        board.faults = c.faults;
        // USB adapters hold what they receive for their latency timer; what the host writes
        // goes out at once.
        const SimulatedTransport::Line adapter{
            std::chrono::milliseconds(c.rxMs),       0ms,
            std::chrono::milliseconds(c.hostMs),     7,
            std::chrono::microseconds(c.rxMs * 150), c.stallMs > 0 ? 333ms : 0ms,
            std::chrono::milliseconds(c.stallMs)};
        VirtualLine line(session, board, adapter);
        LineTruth::distinctValues(line.board().chip());
        LineTruth truth(session, line);
        long long taken = 0;
        QObject::connect(&session.link(), &BoardLink::replyTaken, [&] { ++taken; });
        line.open();
        if (!line.runUntil([&] { return session.link().PentarBoard(); }, 60s)) {
            std::fprintf(stderr, "lines: %s: the board was not detected\n", c.name);
            failed = true;
            continue;
        }
        truth.restart();
        taken = 0;
        line.runFor(span);
        const double rate = double(taken) / seconds;
        const double noCheck = noCheckRate(board, adapter, span);
        const double allowed =
            1.0 / (9 * kByteSeconds + (c.turnaroundUs + c.turnJitterUs / 2.0) / 1e6);
        const int xActual1 = PollTable::motorRow(0, motor::XActual);
        const LinkCounters &k = session.link().counters();
        std::printf("%-12s %8.1f %6.3f %8.1f %9.3f %8.3f %8.1f %8.1f %7.3f %6d %7llu\n", c.name,
                    rate, rate / kWireExchanges, noCheck, rate / noCheck, rate / allowed,
                    double(truth.stalest()) / 1000.0, double(truth.ageAt(0.99)) / 1000.0,
                    double(truth.shownOf(xActual1)) / std::max(1, truth.polledOf(xActual1)),
                    truth.wrongCount(),
                    static_cast<unsigned long long>(k.strayBytes + k.lateBytes +
                                                    k.untrustedReplies + k.unanswered));
        for (const QString &w : truth.wrong())
            std::fprintf(stderr, "lines: %s: %s\n", c.name, qPrintable(w));
        failed = failed || truth.wrongCount() > 0;
    }
    std::printf("\n%-12s %8s %6s %8s\n", "RAM read", "words/s", "wire", "allowed");
    for (const Case &c :
         {clean("pace", 0), clean("@1", 1), clean("@16", 16), clean("pace t6", 0, 0, 6000)}) {
        const double rate = ramReadRate(c, span / 4);
        const double allowed = 1.0 / (9 * kByteSeconds + c.turnaroundUs / 1e6);
        std::printf("%-12s %8.1f %6.3f %8.3f\n", c.name, rate, rate / kWireExchanges,
                    rate / allowed);
        failed = failed || rate == 0;
    }
    return failed ? 1 : 0;
}
